// Speeds that termios has no constant for (14400, 28800, 37600) go through termios2 with BOTHER.
// Kept apart: the kernel's termios2 header clashes with the C library's termios.h.
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace korva {

bool SetCustomBaud(int fd, int baud) {
    struct termios2 t2 {};
    if (ioctl(fd, TCGETS2, &t2) != 0) return false;
    t2.c_cflag &= ~static_cast<tcflag_t>(CBAUD);
    t2.c_cflag |= BOTHER;
    t2.c_ispeed = static_cast<speed_t>(baud);
    t2.c_ospeed = static_cast<speed_t>(baud);
    return ioctl(fd, TCSETS2, &t2) == 0;
}

}  // namespace korva
