// Names that point at anything but a small regular file: each is refused at once, none blocks.
#include "xml/SafeFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include <sys/stat.h>

#include "support/Deadline.h"
#include "support/TempDir.h"

namespace korva {
namespace {

namespace fs = std::filesystem;

std::string Read(const std::string& path) {
    try {
        return "read " + ReadRegularFile(path);
    } catch (const FileError& e) {
        return e.what();
    }
}

std::string OpenToWrite(const std::string& path) {
    try {
        return OpenRegularForWriting(path) ? "opened" : "no descriptor";
    } catch (const FileError& e) {
        return e.what();
    }
}

TEST(SafeFile, OnlyRegularFilesOfSaneSize) {
    struct Case {
        const char* what;
        std::function<std::string(const test::TempDir&)> make;  // the path to try
        const char* read;   // the start of the answer, or a part of the message
        const char* write;
    };
    const auto fifo = [](const test::TempDir& d) {
        const std::string p = d.Path() + "/pipe";
        return ::mkfifo(p.c_str(), 0600) == 0 ? p : "mkfifo failed";
    };
    const Case cases[] = {
        {"a file", [](const test::TempDir& d) { d.Write("f", "abc"); return d.Path() + "/f"; }, "read abc", "opened"},
        {"missing", [](const test::TempDir& d) { return d.Path() + "/none"; }, "No such file", "opened"},
        {"a pipe", fifo, "is a pipe, not a file", "is a pipe"},
        {"a link to a pipe",
         [&](const test::TempDir& d) {
             fs::create_symlink(fifo(d), d.Path() + "/link");
             return d.Path() + "/link";
         },
         "is a pipe", "is a pipe"},
        {"/dev/zero", [](const test::TempDir&) { return std::string("/dev/zero"); }, "is a device", "is a device"},
        {"/dev/full", [](const test::TempDir&) { return std::string("/dev/full"); }, "is a device", "is a device"},
        {"a folder", [](const test::TempDir& d) { return d.Path(); }, "is a folder", "is a folder"},
        {"one byte over the cap",
         [](const test::TempDir& d) {
             d.Write("big", "");
             fs::resize_file(d.Path() + "/big", kMaxReadBytes + 1);  // sparse: costs no disk
             return d.Path() + "/big";
         },
         "is larger than the 64 MB a file may have", "opened"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const test::TempDir dir;
        const std::string path = c.make(dir);
        const std::string read = test::InChild([&] { return Read(path); });
        EXPECT_NE(read.find(c.read), std::string::npos) << read;
        const std::string write = test::InChild([&] { return OpenToWrite(path); });
        EXPECT_NE(write.find(c.write), std::string::npos) << write;
        if (std::string(c.read).rfind("read", 0) != 0) EXPECT_NE(read.find(path), std::string::npos) << read;
    }
}

}  // namespace
}  // namespace korva
