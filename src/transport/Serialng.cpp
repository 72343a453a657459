#include "transport/Serialng.h"

#include <algorithm>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <linux/serial.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <filesystem>
#include <system_error>

namespace korva {

bool SetCustomBaud(int fd, int baud);  // CustomBaud.cpp

namespace {
constexpr int kIdlePollMs = 75;
constexpr std::size_t kErrorHistory = 100;

// The program that holds the lock on the file open at fd, as "name (process 1234)", from the
// system's list of locks; empty when it cannot be told.
std::string LockHolder(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return {};
    char file[64];
    std::snprintf(file, sizeof file, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        // "1: FLOCK  ADVISORY  WRITE 4242 00:1a:3 0 EOF"
        std::istringstream words(line);
        std::string number, kind, mode, access, pid, where;
        if (!(words >> number >> kind >> mode >> access >> pid >> where) || kind != "FLOCK" || where != file)
            continue;
        std::string name;
        std::getline(std::ifstream("/proc/" + pid + "/comm"), name);
        return (name.empty() ? "a program" : name) + " (process " + pid + ")";
    }
    return {};
}

speed_t StandardSpeed(int baud) {
    switch (baud) {
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        default:
            return 0;
    }
}

// Overrun, parity, framing and break counts of a real UART; a pseudo-terminal has none.
int LineErrorCount(int fd) {
    serial_icounter_struct c{};
    if (ioctl(fd, TIOCGICOUNT, &c) != 0) return 0;
    return c.frame + c.overrun + c.parity + c.brk + c.buf_overrun;
}
}  // namespace

TSerialPortNG::TSerialPortNG(Poster poster) : poster_(std::move(poster)) {
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    worker_ = std::thread([this] { WorkerLoop(); });
    // Named before the port is handed out, so that a debugger, top and the tests can tell it apart.
    pthread_setname_np(worker_.native_handle(), kWorkerName);
}

TSerialPortNG::~TSerialPortNG() {
    Close();
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    handed_.notify_all();
    WakeWorker();
    worker_.join();
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

template <typename F>
void TSerialPortNG::Post(F&& f) {
    if (!poster_) return;
    std::weak_ptr<int> alive = alive_;
    poster_([alive, f = std::forward<F>(f)]() {
        if (alive.lock()) f();
    });
}

void TSerialPortNG::WakeWorker() {
    if (wakeFd_ < 0) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(wakeFd_, &one, sizeof one);
}

void TSerialPortNG::ErrorLocked(int number, const char* text, bool onMainThread) {
    errors_.push_back(number);
    if (errors_.size() > kErrorHistory) errors_.pop_front();
    if (!OnError) return;
    if (onMainThread) {
        OnError(number, text);
    } else {
        std::string t = text;
        Post([this, number, t] {
            if (OnError) OnError(number, t);
        });
    }
}

std::deque<int> TSerialPortNG::ErrorNumbers() const {
    std::lock_guard lock(mutex_);
    return errors_;
}

void TSerialPortNG::SetCommPort(const std::string& name, const std::string& devicePath) {
    name_ = name;
    path_ = devicePath;
}

bool TSerialPortNG::SetBaudRate(int rate) {
    baud_ = rate;
    if (fd_ < 0) return true;
    return ApplyLineSettings(fd_);
}

void TSerialPortNG::SetActive(bool active) {
    if (active)
        Open();
    else
        Close();
}

namespace {
// 8 data bits, no parity, one stop bit, no flow control; reads return whatever has arrived. -1 when
// the settings cannot be read, 0 when they cannot be set, 1 when they are.
int SetRawLine(int fd, int baud) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return -1;
    cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    const speed_t standard = StandardSpeed(baud);
    if (standard != 0) {
        cfsetispeed(&t, standard);
        cfsetospeed(&t, standard);
    }
    bool ok = tcsetattr(fd, TCSANOW, &t) == 0;
    if (ok && standard == 0) ok = SetCustomBaud(fd, baud);
    return ok ? 1 : 0;
}
}  // namespace

int OpenListeningLine(const std::string& path, int baud, std::string& holder) {
    // Read-only: nothing can be sent.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    int err = 0;
    if (termios probe{}; tcgetattr(fd, &probe) != 0) {
        err = ENOTTY;
    } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // Two readers on one device would each get part of the bytes.
        err = errno == EWOULDBLOCK ? EBUSY : errno;
        holder = LockHolder(fd);
    } else if (SetRawLine(fd, baud) != 1) {
        err = EINVAL;
    }
    if (err != 0) {
        ::close(fd);
        errno = err;
        return -1;
    }
    // The system raises DTR and RTS on every open; RTS keys the transmitter of adapters without
    // automatic direction control, so it goes down again. DTR, which powers some adapters, stays.
    // A pseudo-terminal has no modem lines and refuses this.
    int rts = TIOCM_RTS;
    ioctl(fd, TIOCMBIC, &rts);
    tcflush(fd, TCIFLUSH);
    return fd;
}

bool TSerialPortNG::ApplyLineSettings(int fd) {
    const int set = SetRawLine(fd, baud_);
    if (set < 0) {
        std::lock_guard lock(mutex_);
        ErrorLocked(801, "Error getting DCB from CommState", true);
        return false;
    }
    const bool ok = set == 1;
    if (!ok) {
        std::lock_guard lock(mutex_);
        ErrorLocked(802, "Error setting CommState, 87 indicate that Parms are incorrect", true);
    }
    return ok;
}

void TSerialPortNG::Open() {
    if (fd_ >= 0) return;
    {
        std::lock_guard lock(mutex_);
        ErrorLocked(110, "Msg start reactivating Port", true);
    }
    const int fd = OpenConfigured(path_);
    if (fd >= 0) Adopt(fd);
}

bool TSerialPortNG::SwitchTo(const std::string& name, const std::string& devicePath) {
    // The same device again, under any of its names: an exclusive line cannot be opened twice,
    // so it is closed first.
    std::error_code ec;
    if (fd_ < 0 || devicePath == path_ || std::filesystem::equivalent(devicePath, path_, ec)) {
        Close();
        SetCommPort(name, devicePath);
        Open();
        return fd_ >= 0;
    }
    const int fd = OpenConfigured(devicePath);
    if (fd < 0) return false;
    Close();
    SetCommPort(name, devicePath);
    Adopt(fd);
    return true;
}

int TSerialPortNG::OpenConfigured(const std::string& path) {
    const int flags = O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    const int fd = openDevice ? openDevice(path, flags) : ::open(path.c_str(), flags);
    if (fd < 0) {
        openErrno_ = errno;
        std::lock_guard lock(mutex_);
        ErrorLocked(112, "Error reopening Port", true);
        return -1;
    }
    termios probe{};
    if (tcgetattr(fd, &probe) != 0) {  // not a terminal at all
        openErrno_ = errno;
        ::close(fd);
        std::lock_guard lock(mutex_);
        ErrorLocked(801, "Error getting DCB from CommState", true);
        return -1;
    }
    // One program on a line at a time, root too: an advisory lock on the device rather than the
    // terminal's exclusive flag, which root passes and which a pseudo-terminal keeps after the close
    // for as long as its other end is open. The lock goes with the descriptor, a crash included.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        openErrno_ = errno == EWOULDBLOCK ? EBUSY : errno;
        holder_ = LockHolder(fd);
        ::close(fd);
        std::lock_guard lock(mutex_);
        ErrorLocked(112, "Error reopening Port", true);
        return -1;
    }
    openErrno_ = 0;
    holder_.clear();
    // A wrong speed is reported but keeps the port open: the operator can pick another.
    ApplyLineSettings(fd);
    // A pseudo-terminal has no modem lines and refuses this; that is no reason to fail.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIS, &lines);
    tcflush(fd, TCIOFLUSH);
    return fd;
}

void TSerialPortNG::Adopt(int fd) {
    {
        std::lock_guard lock(mutex_);
        fd_ = fd;
        running_ = true;
        lost_ = false;
        sendInProgress_ = false;
        pendingWrite_.clear();
        ++session_;
    }
    wake_.notify_all();
}

void TSerialPortNG::Close() {
    if (fd_ < 0) return;
    int fd = -1;
    {
        std::unique_lock lock(mutex_);
        ErrorLocked(100, "Msg start deactivating Port", true);
        running_ = false;
        wake_.notify_all();
        handed_.notify_all();
        WakeWorker();
        // Every wait of the worker ends on running_ going false, so this cannot hang.
        idle_.wait(lock, [this] { return !busy_; });
        fd = fd_;
        fd_ = -1;
        pendingWrite_.clear();
        sendInProgress_ = false;
    }
    tcflush(fd, TCIOFLUSH);
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIC, &lines);
    ::close(fd);
}

bool TSerialPortNG::SendString(const std::string& text) {
    if (text.empty() || fd_ < 0) return false;
    std::lock_guard lock(mutex_);
    if (sendInProgress_) {
        ErrorLocked(901, "Msg, dont enter SendData while SendInProgress is set", true);
        return false;
    }
    const ssize_t n = ::write(fd_, text.data(), text.size());
    if (n == static_cast<ssize_t>(text.size())) return true;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        ErrorLocked(903, "Error writing Data", true);
        return false;
    }
    // The rest goes out from the worker; the write time-out runs from now.
    pendingWrite_ = text.substr(n > 0 ? static_cast<std::size_t>(n) : 0);
    sendInProgress_ = true;
    writeDeadline_ = Clock::now() + std::chrono::microseconds(text.size() * kWtoCharDelayUs) +
                     std::chrono::milliseconds(kWtoExtraDelayMs);
    WakeWorker();
    return true;
}

bool TSerialPortNG::SendInProgress() const {
    std::lock_guard lock(mutex_);
    return sendInProgress_;
}

int TSerialPortNG::NextClusterSize() const {
    std::lock_guard lock(mutex_);
    return clusters_.empty() ? -1 : static_cast<int>(clusters_.front().bytes.size());
}

std::string TSerialPortNG::ReadNextClusterAsString() {
    std::lock_guard lock(mutex_);
    if (clusters_.empty()) return {};
    std::string out = std::move(clusters_.front().bytes);
    clusters_.pop_front();
    return out;
}

void TSerialPortNG::DeliverCluster(std::uint64_t ticket) {
    try {
        if (OnRxClusterEvent) OnRxClusterEvent();
    } catch (...) {
        // The worker must be let go whatever the handler did.
    }
    std::lock_guard lock(mutex_);
    if (ticket > takenEvents_) takenEvents_ = ticket;
    handed_.notify_all();
}

void TSerialPortNG::DeliverLineLost(std::uint64_t session) {
    {
        std::lock_guard lock(mutex_);
        if (session != session_ || fd_ < 0) return;  // already closed or opened anew
    }
    Close();
    if (OnLineLost) OnLineLost();
}

void TSerialPortNG::WorkerLoop() {
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return stop_ || (running_ && !lost_); });
        if (stop_) break;
        busy_ = true;
        const int fd = fd_;
        const std::uint64_t session = session_;
        auto quietMark = Clock::now();
        gathered_.clear();
        lineErrorsSeen_ = LineErrorCount(fd);
        while (running_ && !stop_) {
            if (!Pass(fd, quietMark, lock)) {
                lost_ = true;
                Post([this, session] { DeliverLineLost(session); });
                break;
            }
        }
        busy_ = false;
        idle_.notify_all();
    }
}

bool TSerialPortNG::Pass(int fd, Clock::time_point& lastByte, std::unique_lock<std::mutex>& lock) {
    // A cluster ends at the ")" that closes a packet, or once the line has been quiet for a few
    // character times at the selected speed.
    const auto quiet = std::max<Clock::duration>(
        std::chrono::milliseconds(1),
        std::chrono::microseconds(kQuietCharacters * 10'000'000LL / std::max(baud_.load(), 50)));
    // An idle line sleeps until bytes come or the eventfd says the port is closing; the quiet time
    // runs only once bytes came. Without an eventfd nothing could end the wait, so it stays bounded.
    int timeout = sendInProgress_ ? 2 : wakeFd_ >= 0 ? -1 : kIdlePollMs;
    if (!gathered_.empty()) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(lastByte + quiet - Clock::now()).count();
        timeout = static_cast<int>(std::clamp<long long>(left, 0, timeout < 0 ? INT_MAX : timeout));
    }
    pollfd fds[2] = {{fd, static_cast<short>(POLLIN | (sendInProgress_ ? POLLOUT : 0)), 0},
                     {wakeFd_, POLLIN, 0}};
    lock.unlock();
    const int r = ::poll(fds, 2, timeout);
    if (fds[1].revents & POLLIN) {
        std::uint64_t drained = 0;
        [[maybe_unused]] const auto n = ::read(wakeFd_, &drained, sizeof drained);
    }
    lock.lock();
    if (!running_ || stop_) return true;
    if (r < 0 && errno != EINTR) return false;
    if (fds[0].revents & (POLLERR | POLLNVAL)) return false;
    // A hang-up with nothing left to read means the device is gone.
    if ((fds[0].revents & POLLHUP) && !(fds[0].revents & POLLIN)) return false;

    int waiting = 0;
    if (ioctl(fd, FIONREAD, &waiting) != 0) {
        ErrorLocked(9803, "Error ClearCommError", false);
        return false;
    }
    if (sendInProgress_) FlushPendingWrite(fd);
    if (waiting > 0) {
        const std::size_t had = gathered_.size();
        gathered_.resize(had + static_cast<std::size_t>(waiting));
        const ssize_t n = ::read(fd, gathered_.data() + had, static_cast<std::size_t>(waiting));
        gathered_.resize(had + static_cast<std::size_t>(n > 0 ? n : 0));
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            ErrorLocked(9804, "Error reading Data", false);
            return false;
        }
        if (n > 0) lastByte = Clock::now();
    }
    if (gathered_.empty()) return true;
    const int lineErrors = LineErrorCount(fd);
    const bool lineError = lineErrors != lineErrorsSeen_;
    lineErrorsSeen_ = lineErrors;
    const bool closed = gathered_.back() == ')';
    if (!closed && !lineError && gathered_.size() < static_cast<std::size_t>(kClusterSize) &&
        Clock::now() < lastByte + quiet)
        return true;
    Cluster c;
    c.bytes = std::move(gathered_);
    gathered_.clear();
    HandOver(std::move(c), lock);
    return true;
}

void TSerialPortNG::FlushPendingWrite(int fd) {
    const ssize_t n = ::write(fd, pendingWrite_.data(), pendingWrite_.size());
    if (n > 0) pendingWrite_.erase(0, static_cast<std::size_t>(n));
    if (pendingWrite_.empty()) {
        sendInProgress_ = false;
        return;
    }
    if (Clock::now() >= writeDeadline_) {
        pendingWrite_.clear();
        sendInProgress_ = false;
        ErrorLocked(9701, "Error write TimeOut", false);
    }
}

void TSerialPortNG::HandOver(Cluster cluster, std::unique_lock<std::mutex>& lock) {
    clusters_.push_back(std::move(cluster));
    const std::uint64_t ticket = ++postedEvents_;
    lock.unlock();
    Post([this, ticket] { DeliverCluster(ticket); });
    lock.lock();
    // The main thread takes the cluster before the worker looks at the line again; closing ends the wait.
    handed_.wait(lock, [&] { return takenEvents_ >= ticket || !running_ || stop_; });
}

}  // namespace korva
