// Names that point at anything but a small regular file: each is refused at once, none blocks.
#include "xml/SafeFile.h"

#include <gtest/gtest.h>

#include <filesystem>

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

}  // namespace
}  // namespace korva
