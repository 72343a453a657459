#include "xml/SafeFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>
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
    if (!S_ISREG(st.st_mode))
        throw FileError("'" + path + "' is " + KindOf(st.st_mode) + ", not a file",
                        std::string("it is ") + KindOf(st.st_mode) + ", not a file");
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

std::string FolderOf(const std::string& path) {
    const std::filesystem::path p(path);
    return p.has_parent_path() ? p.parent_path().string() : ".";
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
    std::string content;
    // The file may change while it is read: read until its end, but never past the cap.
    ReadRegularFileInPieces(path, cap, std::size_t{64} << 10, [&content](std::string_view piece) {
        content.append(piece);
        return true;
    });
    return content;
}

void ReadRegularFileInPieces(const std::string& path, std::size_t cap, std::size_t piece,
                             const std::function<bool(std::string_view)>& take) {
    struct stat st {};
    const UniqueFd fd = OpenChecked(path, O_RDONLY, st, "open");
    if (st.st_size < 0 || static_cast<unsigned long long>(st.st_size) > cap)
        throw FileError(TooLarge(path, cap));
    std::string buffer(std::max<std::size_t>(1, piece), '\0');
    std::size_t total = 0;
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer.data(), buffer.size());
        if (n == 0) return;
        if (n < 0) {
            if (errno == EINTR) continue;
            const int code = errno;
            throw FileError("cannot read '" + path + "': " + Why(code));
        }
        total += static_cast<std::size_t>(n);
        // A file that grows while it is read stops at the cap like one that was too large.
        if (total > cap) throw FileError(TooLarge(path, cap));
        if (!take(std::string_view(buffer.data(), static_cast<std::size_t>(n)))) return;
    }
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
            throw FileError("cannot write '" + path + "': " + Why(code), Why(code));
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

std::string FollowLinks(const std::string& path) {
    namespace fs = std::filesystem;
    fs::path p = path;
    std::error_code ec;
    // 40 hops, as the system allows: a loop of links ends somewhere and fails when used.
    for (int hops = 0; hops < 40 && fs::is_symlink(p, ec); ++hops) {
        const fs::path target = fs::read_symlink(p, ec);
        if (ec) break;
        p = target.is_absolute() ? target : p.parent_path() / target;
    }
    return p.string();
}

FileReplacement::FileReplacement(const std::string& path) : path_(path), target_(FollowLinks(path)) {
    struct stat st {};
    const bool exists = ::stat(target_.c_str(), &st) == 0;
    if (exists) RequireRegular(path_, st);
    const std::filesystem::path target(target_);
    const std::string folder = FolderOf(target_);
    std::random_device random;
    for (int attempt = 0; attempt < 100 && !fd_; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%08x", random());
        temporary_ = folder + "/." + target.filename().string() + suffix;
        // O_EXCL also refuses a link planted under that name, even a dangling one.
        fd_ =
            UniqueFd(::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (!fd_ && errno != EEXIST) break;
    }
    if (!fd_) {
        const int code = errno;
        temporary_.clear();
        throw FileError("cannot write '" + path_ + "': " + Why(code), Why(code));
    }
    // The new file is as open as the old one was, no more; a new one gets the umask's mode.
    if (exists && ::fchmod(fd_.Get(), st.st_mode & 07777) != 0) {
        const int code = errno;
        // A constructor that throws has no destructor to clean up after it.
        ::unlink(temporary_.c_str());
        throw FileError("cannot write '" + path_ + "': " + Why(code), Why(code));
    }
}

FileReplacement::~FileReplacement() {
    fd_.Reset();
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

void FileReplacement::Write(std::string_view text) {
    if (!fd_) throw FileError("cannot write '" + path_ + "': it is closed", "it is closed");
    WriteAll(fd_, text, path_);
}

UniqueFd FileReplacement::Commit() {
    // A full disk may show only when the data goes out: a failed sync is a failed write.
    if (!fd_ || ::fsync(fd_.Get()) != 0) {
        const int code = fd_ ? errno : EBADF;
        throw FileError("cannot write '" + path_ + "': " + Why(code), Why(code));
    }
    // The target may have been swapped for something else meanwhile; that is still refused.
    struct stat st {};
    if (::stat(target_.c_str(), &st) == 0) RequireRegular(path_, st);
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
        const int code = errno;
        throw FileError("cannot replace '" + path_ + "': " + Why(code), Why(code));
    }
    temporary_.clear();
    // The rename itself survives a crash only once the folder is synced; a folder that cannot be
    // opened for that still holds the new file.
    const UniqueFd dir(::open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    [[maybe_unused]] const bool synced = dir && ::fsync(dir.Get()) == 0;
    return std::move(fd_);
}

void ReplaceFileSafely(const std::string& path, std::string_view text) {
    FileReplacement file(path);
    file.Write(text);
    file.Commit();
}

UniqueFd CreateNewFile(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!fd && errno != EEXIST) {
        const int code = errno;
        throw FileError("cannot write '" + path + "': " + Why(code), Why(code));
    }
    return fd;
}

}  // namespace korva
