#include "EventLoop.h"

#include <cerrno>
#include <csignal>
#include <algorithm>
#include <cstdint>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace korva::korvarun {

namespace {
// A handler may touch nothing but these: the number of the signal and the write end of a pipe.
volatile std::sig_atomic_t gSignal = 0;
volatile std::sig_atomic_t gSignalCount = 0;
int gSignalPipe[2] = {-1, -1};
struct sigaction gOldInt, gOldTerm, gOldPipe;

void OnSignal(int sig) {
    const int saved = errno;
    gSignal = sig;
    gSignalCount = gSignalCount + 1;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[1], &byte, 1);
    errno = saved;
}
}  // namespace

EventLoop::EventLoop() : wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) gSignalPipe[0] = gSignalPipe[1] = -1;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, &gOldInt);
    ::sigaction(SIGTERM, &sa, &gOldTerm);
    // A report reader that closed the pipe must not kill the run before the port is closed.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, &gOldPipe);
}

EventLoop::~EventLoop() {
    ::sigaction(SIGINT, &gOldInt, nullptr);
    ::sigaction(SIGTERM, &gOldTerm, nullptr);
    ::sigaction(SIGPIPE, &gOldPipe, nullptr);
    for (int& fd : gSignalPipe) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

void EventLoop::Post(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(work));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_.Get(), &one, sizeof one);
}

int EventLoop::Signal() const {
    return gSignal;
}

bool EventLoop::Signalled() const {
    return gSignalCount > armedAt_;
}

namespace {
// The pipe's bytes only wake the poll; the count says which signals are new.
void DrainSignalPipe() {
    char drain[64];
    while (gSignalPipe[0] >= 0 && ::read(gSignalPipe[0], drain, sizeof drain) > 0) {
    }
}
}  // namespace

void EventLoop::Rearm() {
    armedAt_ = gSignalCount;
    DrainSignalPipe();
}

void EventLoop::RunPosted() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(wake_.Get(), &count, sizeof count);
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard lock(mutex_);
            if (posted_.empty()) return;
            work = std::move(posted_.front());
            posted_.pop_front();
        }
        work();
    }
}

bool EventLoop::Wait(int extraFd, int timeoutMs, bool& extraReady) {
    pollfd fds[3] = {{gSignalPipe[0], POLLIN, 0}, {wake_.Get(), POLLIN, 0}, {extraFd, POLLIN, 0}};
    extraReady = false;
    if (Signalled()) return false;
    const int n = ::poll(fds, 3, timeoutMs);
    if (Signalled()) return false;
    if (n <= 0) return true;
    if (fds[0].revents != 0) DrainSignalPipe();  // signals from before the last Rearm
    if (fds[1].revents != 0) RunPosted();
    extraReady = extraFd >= 0 && fds[2].revents != 0;
    return !Signalled();
}

bool EventLoop::RunUntil(Clock::time_point until) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
        bool unused = false;
        if (!Wait(-1, left > 0 ? static_cast<int>(left) : 0, unused)) return false;
        if (left <= 0) return true;
    }
}

std::optional<std::string> EventLoop::ReadLine(int fd, Clock::time_point deadline, bool& timedOut) {
    std::string line;
    timedOut = false;
    for (;;) {
        bool ready = false;
        int timeoutMs = -1;
        if (deadline != Clock::time_point::max()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                timedOut = true;
                return std::nullopt;
            }
            timeoutMs = static_cast<int>(std::min<long long>(left, 60000));
        }
        if (!Wait(fd, timeoutMs, ready)) return std::nullopt;
        if (!ready) continue;
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return std::nullopt;
        if (c == '\n') return line;
        // A line that never ends is not an answer worth keeping whole.
        if (line.size() < 4096) line += c;
    }
}

}  // namespace korva::korvarun
