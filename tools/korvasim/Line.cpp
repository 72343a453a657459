#include "Line.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace korva::korvasim {

namespace {

[[noreturn]] void Fail(const std::string& what) {
    throw LineError(what + ": " + std::strerror(errno));
}

void MakeRaw(int fd, const std::string& what) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) Fail(what + " is no terminal");
    cfmakeraw(&t);
    if (tcsetattr(fd, TCSANOW, &t) != 0) Fail("cannot set " + what + " to raw mode");
}

void MakeNonBlocking(int fd, const std::string& what) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0)
        Fail("cannot make " + what + " non-blocking");
}

}  // namespace

Fd::~Fd() {
    if (fd_ >= 0) ::close(fd_);
}

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

Line OpenPseudoTerminal() {
    Line line;
    line.io = Fd(posix_openpt(O_RDWR | O_NOCTTY));
    if (!line.io.Valid()) Fail("cannot create a pseudo-terminal");
    if (grantpt(line.io.Get()) != 0 || unlockpt(line.io.Get()) != 0)
        Fail("cannot unlock the pseudo-terminal");
    char name[256] = {};
    if (ptsname_r(line.io.Get(), name, sizeof name) != 0) Fail("cannot name the pseudo-terminal");
    line.path = name;
    line.keeper = Fd(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!line.keeper.Valid()) Fail("cannot open " + line.path);
    MakeRaw(line.io.Get(), "the pseudo-terminal");
    MakeRaw(line.keeper.Get(), line.path);
    MakeNonBlocking(line.io.Get(), "the pseudo-terminal");
    return line;
}

Line OpenSerialDevice(const std::string& path) {
    Line line;
    line.path = path;
    line.io = Fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!line.io.Valid()) Fail("cannot open " + path);
    termios t{};
    if (tcgetattr(line.io.Get(), &t) != 0) Fail(path + " is no serial device");
    cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (cfsetispeed(&t, B57600) != 0 || cfsetospeed(&t, B57600) != 0) Fail("cannot set the speed of " + path);
    if (tcsetattr(line.io.Get(), TCSANOW, &t) != 0) Fail("cannot set the line of " + path);
    tcflush(line.io.Get(), TCIOFLUSH);  // whatever waited before we came is no request to us
    return line;
}

}  // namespace korva::korvasim
