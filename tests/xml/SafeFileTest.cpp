// Names that point at anything but a small regular file: each is refused at once, none blocks.
#include "xml/SafeFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include <signal.h>
#include <sys/resource.h>

#include <sys/stat.h>

#include "support/Deadline.h"
#include "support/TempDir.h"

namespace korva {
namespace {

TEST(SafeFile, OnlyRegularFilesOfSaneSize) {
    const test::TempDir dir;
    const std::string d = dir.Path();
    dir.Write("f", "abc");
    dir.Write("big", "");
    std::filesystem::resize_file(d + "/big", kMaxReadBytes + 1);  // sparse: costs no disk
    ASSERT_EQ(::mkfifo((d + "/pipe").c_str(), 0600), 0);
    std::filesystem::create_symlink(d + "/pipe", d + "/link");
    const struct {
        std::string path;
        const char* read;  // the content, or a part of the message
        const char* write;
    } cases[] = {
        {d + "/f", "abc", "opened"},
        {d + "/none", "No such file", "opened"},
        {d + "/pipe", "is a pipe, not a file", "is a pipe"},
        {d + "/link", "is a pipe", "is a pipe"},
        {"/dev/zero", "is a device", "is a device"},
        {"/dev/full", "is a device", "is a device"},
        {d, "is a folder", "is a folder"},
        {d + "/big", "is larger than the 64 MB a file may have", "opened"},
    };
    // A refusal comes back as the text of the exception.
    for (const auto& c : cases) {
        const std::string read = test::InChild([&] { return ReadRegularFile(c.path); });
        EXPECT_NE(read.find(c.read), std::string::npos) << c.path << ": " << read;
        if (read != "abc") EXPECT_NE(read.find(c.path), std::string::npos) << read;
        const std::string write =
            test::InChild([&] { return std::string(OpenRegularForWriting(c.path) ? "opened" : "-"); });
        EXPECT_NE(write.find(c.write), std::string::npos) << c.path << ": " << write;
    }
}

// The folder's entries, its subfolders' too, each with what it is and, for a regular file, its content and
// mode.
std::string Listing(const std::string& folder) {
    namespace fs = std::filesystem;
    std::set<std::string> lines;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        std::string line = e.path().lexically_relative(folder).string() + " ";
        struct stat st {};
        ::lstat(e.path().c_str(), &st);
        if (S_ISLNK(st.st_mode))
            line += "link to " + fs::read_symlink(e.path()).string();
        else if (S_ISREG(st.st_mode))
            line += "file " + std::to_string(st.st_mode & 0777) + " " + ReadRegularFile(e.path().string());
        else
            line += "other " + std::to_string(st.st_mode & S_IFMT);
        lines.insert(line);
    }
    std::string out;
    for (const std::string& l : lines) out += l + "\n";
    return out;
}

// Each row prepares a folder, replaces one name in it, and says what the folder then holds.
TEST(SafeFile, ReplacementLeavesTheOldFileOrTheNewOne) {
    const struct {
        const char* name;
        std::function<void(const std::string& dir)> prepare;
        const char* path;
        long fileLimit;       // RLIMIT_FSIZE in bytes for the writer; 0 for none
        const char* answer;   // "done", or a part of the message
        const char* listing;  // the folder afterwards
    } cases[] = {
        {"new file", [](const std::string&) {}, "r.xml", 0, "done", "r.xml file 420 new text\n"},
        {"old file replaced, its mode kept",
         [](const std::string& d) {
             std::ofstream(d + "/r.xml") << "old";
             ::chmod((d + "/r.xml").c_str(), 0640);
         },
         "r.xml", 0, "done", "r.xml file 416 new text\n"},
        {"full disk keeps the old file", [](const std::string& d) { std::ofstream(d + "/r.xml") << "old"; },
         "r.xml", 4, "cannot write '", "r.xml file 420 old\n"},
        {"a link stays a link, its file replaced",
         [](const std::string& d) {
             std::filesystem::create_directory(d + "/real");
             std::ofstream(d + "/real/r.xml") << "old";
             std::filesystem::create_symlink("real/r.xml", d + "/r.xml");
         },
         "r.xml", 0, "done", "r.xml link to real/r.xml\nreal other 16384\nreal/r.xml file 420 new text\n"},
        {"a link planted at the old fixed name writes nothing through it",
         [](const std::string& d) {
             std::ofstream(d + "/victim") << "mine";
             std::filesystem::create_symlink(d + "/victim", d + "/r.xml.tmp");
         },
         "r.xml", 0, "done", "r.xml file 420 new text\nr.xml.tmp link to DIR/victim\nvictim file 420 mine\n"},
        {"a pipe is refused", [](const std::string& d) { ::mkfifo((d + "/r.xml").c_str(), 0644); }, "r.xml",
         0, "is a pipe, not a file", "r.xml other 4096\n"},
        {"a folder is refused", [](const std::string& d) { std::filesystem::create_directory(d + "/r.xml"); },
         "r.xml", 0, "is a folder, not a file", "r.xml other 16384\n"},
        {"a missing folder is named", [](const std::string&) {}, "none/r.xml", 0, "No such file", ""},
    };
    for (const auto& c : cases) {
        const test::TempDir dir;
        const std::string d = dir.Path();
        ::umask(022);
        c.prepare(d);
        const std::string answer = test::InChild([&] {
            if (c.fileLimit > 0) {
                ::signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{static_cast<rlim_t>(c.fileLimit), static_cast<rlim_t>(c.fileLimit)};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
            ReplaceFileSafely(d + "/" + c.path, "new text");
            return std::string("done");
        });
        EXPECT_NE(answer.find(c.answer), std::string::npos) << c.name << ": " << answer;
        if (answer != "done")
            EXPECT_NE(answer.find(d + "/" + c.path), std::string::npos) << c.name << ": " << answer;
        std::string listing = c.listing;
        if (const auto at = listing.find("DIR"); at != std::string::npos) listing.replace(at, 3, d);
        EXPECT_EQ(Listing(d), listing) << c.name;
    }
}

}  // namespace
}  // namespace korva
