#pragma once
// The serial line korvasim serves: a new pseudo-terminal or an existing serial device.

#include <stdexcept>
#include <string>

namespace korva::korvasim {

// Owns one file descriptor.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd();
    Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

class LineError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct Line {
    Fd io;             // korvasim reads requests from and writes replies to this one, non-blocking
    Fd keeper;         // pseudo-terminal only: our own hold on the program's side
    std::string path;  // what the program opens
};

// Both ends raw. The program's side stays open in `keeper`, so that our side never reads EIO
// while the program closes and re-opens its port.
Line OpenPseudoTerminal();

// Raw, 57600 baud, 8N1, no flow control.
Line OpenSerialDevice(const std::string& path);

}  // namespace korva::korvasim
