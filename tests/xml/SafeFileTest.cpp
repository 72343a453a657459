// Names that point at anything but a small regular file: each is refused at once, none blocks.
#include "xml/SafeFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

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

// Each row replaces r in a folder that holds `before`, and says what the folder holds afterwards.
TEST(SafeFile, ReplacementLeavesTheOldFileOrTheNewOne) {
    const struct {
        const char* name;
        std::vector<std::string> before;  // in the words of TempDir::Plant
        long fileLimit;                   // RLIMIT_FSIZE in bytes for the writer; 0 for none
        const char* refusal;              // a part of the message; empty when the write works
        std::vector<std::string> after;
    } cases[] = {
        {"a full disk keeps the old file", {"r: old"}, 2, "r': File too large", {"r: old"}},
        {"a link stays a link", {"d/", "d/r: old", "r>d/r"}, 0, "", {"d/", "d/r: new", "r>d/r"}},
        {"a link at the old fixed name", {"v: mine", "r.tmp>v"}, 0, "", {"r.tmp>v", "r: new", "v: mine"}},
        {"a pipe is refused", {"r|"}, 0, "r' is a pipe, not a file", {"r|"}},
        {"a folder is refused", {"r/"}, 0, "r' is a folder, not a file", {"r/"}},
    };
    for (const auto& c : cases) {
        const test::TempDir dir;
        dir.Plant(c.before);
        const std::string answer = test::InChild([&] {
            ::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG, as with ENOSPC on a full disk
            const rlimit limit{c.fileLimit ? rlim_t(c.fileLimit) : RLIM_INFINITY, RLIM_INFINITY};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            ReplaceFileSafely(dir.Path() + "/r", "new");
            return std::string();
        });
        EXPECT_EQ(answer.empty(), *c.refusal == 0) << c.name << ": " << answer;
        EXPECT_NE(answer.find(c.refusal), std::string::npos) << c.name << ": " << answer;
        EXPECT_EQ(dir.Entries(), c.after) << c.name;
    }
}

}  // namespace
}  // namespace korva
