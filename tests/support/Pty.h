#pragma once
// Serial lines for tests: a raw end of a line, a pseudo-terminal pair, the main thread's queue.

#include <fcntl.h>
#include <cerrno>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

namespace korva::test {

// One end of a serial line, held raw and without blocking, for tests that play the other side.
class RawLine {
  public:
    // Takes the descriptor over.
    explicit RawLine(int fd) : fd_(fd) {
        if (fd_ < 0) return;
        termios t{};
        if (tcgetattr(fd_, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(fd_, TCSANOW, &t);
        }
        fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    }
    static RawLine Open(const std::string& path) {
        return RawLine(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    }
    ~RawLine() {
        if (fd_ >= 0) ::close(fd_);
    }
    RawLine(const RawLine&) = delete;
    RawLine& operator=(const RawLine&) = delete;

    int Fd() const { return fd_; }
    bool Ok() const { return fd_ >= 0; }
    // Writes all of the text, waiting for room when the line is full; false when none came in time.
    bool Write(const std::string& text, int timeoutMs = 2000) {
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN) return false;
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, timeoutMs) <= 0) return false;
        }
        return true;
    }
    // What one read gives once something arrived within the timeout; empty when nothing did.
    std::string ReadSome(int timeoutMs) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return {};
        char buf[4096];
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
    }
    // What arrives, waiting up to the timeout for at least `want` bytes.
    std::string Read(std::size_t want, int timeoutMs = 2000) {
        std::string out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < want && std::chrono::steady_clock::now() < end) out += ReadSome(20);
        return out;
    }

  private:
    int fd_ = -1;
};

// A pseudo-terminal pair for serial tests: the test holds the master, the port opens the slave.
class Pty {
  public:
    Pty() : master_(posix_openpt(O_RDWR | O_NOCTTY)) {
        const int fd = master_.Fd();
        if (fd >= 0 && grantpt(fd) == 0 && unlockpt(fd) == 0)
            if (const char* name = ptsname(fd)) slavePath_ = name;
    }

    bool Ok() const { return master_.Ok() && !slavePath_.empty(); }
    const std::string& SlavePath() const { return slavePath_; }
    bool Write(const std::string& text) { return master_.Write(text); }
    // What the port wrote, waiting up to the timeout for at least `want` bytes.
    std::string Read(std::size_t want, int timeoutMs = 2000) { return master_.Read(want, timeoutMs); }

  private:
    RawLine master_;
    std::string slavePath_;
};

// Stands in for the main thread's event queue.
class MainQueue {
  public:
    void Post(std::function<void()> f) {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(f));
        }
        cv_.notify_all();
    }
    // Runs posted work until the predicate holds or the time is up.
    template <typename Pred>
    bool RunUntil(Pred pred, int timeoutMs = 3000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!pred()) {
            std::unique_lock lock(mutex_);
            if (!cv_.wait_until(lock, end, [this] { return !queue_.empty(); })) return pred();
            auto f = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            f();
        }
        return true;
    }
    std::size_t Pending() {
        std::lock_guard lock(mutex_);
        return queue_.size();
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> queue_;
};

}  // namespace korva::test
