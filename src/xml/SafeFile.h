#pragma once
// Opening the files the program reads and writes by name. A name may point at anything: a FIFO
// that blocks the opener until someone writes, /dev/zero that never ends, a file of gigabytes. Only
// regular files are taken, they are opened without blocking and checked on the open descriptor,
// and a file that is read is read only up to a size cap.

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace korva {

// A file that cannot be opened or read, or is not one the program takes; the text names the file.
class FileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Far above any configuration or sequence the program has met, far below what hurts a desktop.
inline constexpr std::size_t kMaxReadBytes = std::size_t{64} << 20;

// The whole content of a regular file of at most `cap` bytes; throws FileError otherwise.
std::string ReadRegularFile(const std::string& path, std::size_t cap = kMaxReadBytes);

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

// Replaces the file with text so that a crash leaves the old file or the new one, never a part:
// the text goes to path + ".tmp", is synced, and is renamed over path. Throws FileError.
void ReplaceFileSafely(const std::string& path, std::string_view text);

}  // namespace korva
