#pragma once
// Opening the files the program reads and writes by name. A name may point at anything: a FIFO
// that blocks the opener until someone writes, /dev/zero that never ends, a file of gigabytes. Only
// regular files are taken, they are opened without blocking and checked on the open descriptor,
// and a file that is read is read only up to a size cap.

#include <cstddef>
#include <stdexcept>
#include <functional>
#include <string>
#include <string_view>
#include <string_view>

namespace korva {

// A file that cannot be opened, read or written, or is not one the program takes; the text names the
// file, Reason() gives the cause alone for callers that name the file themselves.
class FileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
    FileError(const std::string& what, std::string reason)
        : std::runtime_error(what), reason_(std::move(reason)) {}
    std::string Reason() const { return reason_.empty() ? what() : reason_; }

  private:
    std::string reason_;
};

// Far above any configuration or sequence the program has met, far below what hurts a desktop.
inline constexpr std::size_t kMaxReadBytes = std::size_t{64} << 20;

// The whole content of a regular file of at most `cap` bytes; throws FileError otherwise.
std::string ReadRegularFile(const std::string& path, std::size_t cap = kMaxReadBytes);
// The same file handed over piece by piece, each at most `piece` bytes, so that a large file never
// stands in memory whole; `take` returns false to stop early. Throws FileError.
void ReadRegularFileInPieces(const std::string& path, std::size_t cap, std::size_t piece,
                             const std::function<bool(std::string_view)>& take);

// An owned file descriptor; -1 holds none.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = other.Release();
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset();

  private:
    int fd_ = -1;
};

// A regular file opened for writing, created when missing (mode 0666 less the umask), its content
// kept; the caller truncates or appends. Throws FileError for anything that is not a regular file.
UniqueFd OpenRegularForWriting(const std::string& path);

// Writes all of text at the descriptor's position, going on after interruptions; throws FileError
// naming path.
void WriteAll(const UniqueFd& fd, std::string_view text, const std::string& path);

// Where a name leads once its links are followed (relative ones from their own folder); the name
// itself when it is no link.
std::string FollowLinks(const std::string& path);

// A file replaced so that a crash, a full disk or a planted link leaves the old file or the new one,
// never a part: the new content goes to a file of a fresh name created exclusively (no link followed)
// in the target's folder, and Commit syncs it and renames it over the target. A link as path stays a
// link: the file it leads to is replaced. A target that exists and is not a regular file (a device,
// a pipe, a folder, a socket) is refused at once. Dropped without Commit, the new file goes again.
class FileReplacement {
  public:
    // Throws FileError naming path.
    explicit FileReplacement(const std::string& path);
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    void Write(std::string_view text);
    // Puts the new file in place; the descriptor stays open on it for anything written later.
    UniqueFd Commit();
    // The file that is replaced: path with its links followed.
    const std::string& Target() const { return target_; }

  private:
    std::string path_, target_, temporary_;
    UniqueFd fd_;
};

// The file replaced with text in one step (see FileReplacement). Throws FileError.
void ReplaceFileSafely(const std::string& path, std::string_view text);

// A file that did not exist, created exclusively and without following a link; no descriptor when the
// name is taken already. Throws FileError for any other failure.
UniqueFd CreateNewFile(const std::string& path);

}  // namespace korva
