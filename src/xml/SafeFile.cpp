#include "xml/SafeFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korva {

namespace {

std::string Why(int code) {
    return std::generic_category().message(code);
}

const char* KindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a pipe";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

// Refuses anything but a regular file. Checked by name first, so that a device is never opened
// (opening one can have effects of its own), and again on the descriptor, which is what counts.
void RequireRegular(const std::string& path, const struct stat& st) {
    if (!S_ISREG(st.st_mode)) throw FileError("'" + path + "' is " + KindOf(st.st_mode) + ", not a file");
}

UniqueFd OpenChecked(const std::string& path, int flags, struct stat& st, const char* verb) {
    struct stat byName {};
    if (::stat(path.c_str(), &byName) == 0) RequireRegular(path, byName);
    // O_NONBLOCK: should the name turn into a FIFO meanwhile, the open still returns at once.
    UniqueFd fd(::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666));
    if (!fd) {
        const int code = errno;
        throw FileError(std::string("cannot ") + verb + " '" + path + "': " + Why(code));
    }
    if (::fstat(fd.Get(), &st) != 0) {
        const int code = errno;
        throw FileError("cannot examine '" + path + "': " + Why(code));
    }
    RequireRegular(path, st);
    return fd;
}

std::string TooLarge(const std::string& path, std::size_t cap) {
    return "'" + path + "' is larger than the " + std::to_string(cap >> 20) + " MB a file may have";
}

}  // namespace

void UniqueFd::Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::string ReadRegularFile(const std::string& path, std::size_t cap) {
    struct stat st {};
    const UniqueFd fd = OpenChecked(path, O_RDONLY, st, "open");
    if (st.st_size < 0 || static_cast<unsigned long long>(st.st_size) > cap)
        throw FileError(TooLarge(path, cap));
    std::string content;
    content.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    // The file may change while it is read: read until its end, but never past the cap.
    for (;;) {
        if (got == content.size()) {
            if (content.size() > cap) throw FileError(TooLarge(path, cap));
            content.resize(std::min(cap + 1, content.size() + 4096));
        }
        const ssize_t n = ::read(fd.Get(), content.data() + got, content.size() - got);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            const int code = errno;
            throw FileError("cannot read '" + path + "': " + Why(code));
        }
        got += static_cast<std::size_t>(n);
    }
    content.resize(got);
    return content;
}

UniqueFd OpenRegularForWriting(const std::string& path) {
    struct stat st {};
    return OpenChecked(path, O_WRONLY | O_CREAT, st, "open");
}

void WriteAll(const UniqueFd& fd, std::string_view text, const std::string& path) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd.Get(), text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            const int code = errno;
            throw FileError("cannot write '" + path + "': " + Why(code));
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

void ReplaceFileSafely(const std::string& path, std::string_view text) {
    const std::string temporary = path + ".tmp";
    try {
        UniqueFd fd = OpenRegularForWriting(temporary);
        if (::ftruncate(fd.Get(), 0) != 0 || (WriteAll(fd, text, temporary), ::fsync(fd.Get()) != 0)) {
            const int code = errno;
            throw FileError("cannot write '" + temporary + "': " + Why(code));
        }
    } catch (const FileError&) {
        // A full disk leaves the old file as it was and no half-written one beside it.
        ::unlink(temporary.c_str());
        throw;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int code = errno;
        ::unlink(temporary.c_str());
        throw FileError("cannot replace '" + path + "': " + Why(code));
    }
}

}  // namespace korva
