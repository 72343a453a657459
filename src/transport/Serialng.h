#pragma once
// The serial port: POSIX termios and one worker thread that gathers received bytes into clusters
// and hands each one to the main thread, waiting until the main thread has taken it.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace korva {

// A descriptor on the device for listening only: read-only, raw at the speed, RTS down, and locked
// as the program locks its lines, so that two programs never share one line's bytes. -1 with errno set
// (EBUSY and the holder named when another program has the line); the caller closes it.
int OpenListeningLine(const std::string& path, int baud, std::string& holder);

class TSerialPortNG {
  public:
    // Runs a function on the main thread, later; called from the worker thread.
    using Poster = std::function<void(std::function<void()>)>;

    static constexpr int kClusterSize = 3072;
    // Character times of quiet that end a cluster without a closing ")".
    static constexpr int kQuietCharacters = 3;
    static constexpr int kWtoCharDelayUs = 43;
    static constexpr int kWtoExtraDelayMs = 20;
    static constexpr const char* kWorkerName = "serial worker";  // the system takes 15 characters

    explicit TSerialPortNG(Poster poster);
    ~TSerialPortNG();
    TSerialPortNG(const TSerialPortNG&) = delete;
    TSerialPortNG& operator=(const TSerialPortNG&) = delete;

    // The device path that the port name stands for; takes effect at the next open.
    void SetCommPort(const std::string& name, const std::string& devicePath);
    const std::string& CommPort() const { return name_; }
    const std::string& DevicePath() const { return path_; }

    // Applied at once when the port is open. False when the system refuses the speed.
    bool SetBaudRate(int rate);
    int BaudRate() const { return baud_; }

    void SetActive(bool active);
    bool Active() const { return fd_ >= 0; }
    // Opens the named device first and only then gives up the line that is open, so that a
    // device that cannot be opened leaves the working one as it was. False when the open failed.
    bool SwitchTo(const std::string& name, const std::string& devicePath);
    // The system's error number of the last open that failed (0 after a good one).
    int LastOpenError() const { return openErrno_; }
    // Who holds the line when the last open failed on its lock ("korvarun (process 4242)"); empty
    // when that is not known.
    const std::string& LastOpenHolder() const { return holder_; }

    // How a device is opened; tests stand in for devices the system would refuse.
    std::function<int(const std::string& path, int flags)> openDevice;

    // False when the text was refused (a send is still pending, the port is closed, or a write failed).
    bool SendString(const std::string& text);
    bool SendInProgress() const;

    int NextClusterSize() const;
    std::string ReadNextClusterAsString();

    // Main thread, after each cluster has joined the list.
    std::function<void()> OnRxClusterEvent;
    // Main thread, when the device went away (read error or hang-up); the port is already closed.
    std::function<void()> OnLineLost;
    // Internal errors and messages: number and text, on the main thread. The program leaves it unset.
    std::function<void(int, const std::string&)> OnError;
    // The numbers of the internal errors so far, oldest first (at most 100).
    std::deque<int> ErrorNumbers() const;

  private:
    struct Cluster {
        std::string bytes;
        int lineErrors = 0;
    };
    using Clock = std::chrono::steady_clock;

    void Open();
    void Close();
    // A descriptor on the device with the line settings applied, or -1 (openErrno_ says why).
    int OpenConfigured(const std::string& path);
    void Adopt(int fd);
    bool ApplyLineSettings(int fd);
    // Records an error; call with the mutex held. On the main thread the handler runs at once,
    // from the worker it is posted.
    void ErrorLocked(int number, const char* text, bool onMainThread);
    void WakeWorker();
    void WorkerLoop();
    // One pass over the open line; false when the line is gone.
    bool Pass(int fd, Clock::time_point& quietMark, std::unique_lock<std::mutex>& lock);
    void FlushPendingWrite(int fd);
    void HandOver(Cluster cluster, std::unique_lock<std::mutex>& lock);
    void DeliverCluster(std::uint64_t ticket);
    void DeliverLineLost(std::uint64_t session);
    template <typename F>
    void Post(F&& f);

    Poster poster_;
    std::string name_ = "COM2";
    std::string path_;
    std::atomic<int> baud_{57600};  // the worker reads it for the quiet time
    int fd_ = -1;                   // written on the main thread only, while the worker is idle
    int openErrno_ = 0;
    std::string holder_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;    // the worker: the port opened, closing, or stop
    std::condition_variable handed_;  // the worker: a cluster was taken
    std::condition_variable idle_;    // the main thread: the worker left its pass
    std::deque<Cluster> clusters_;
    std::deque<int> errors_;
    int wakeFd_ = -1;            // eventfd: wakes the worker out of poll()
    std::uint64_t session_ = 0;  // counts opens, so that a late event of an old session is ignored
    std::string gathered_;       // bytes of the cluster being gathered
    int lineErrorsSeen_ = 0;     // a new line error closes the cluster at once
    bool running_ = false;       // the worker may use the line
    bool stop_ = false;
    bool busy_ = false;  // the worker is inside a pass
    bool lost_ = false;
    std::uint64_t postedEvents_ = 0;
    std::uint64_t takenEvents_ = 0;
    std::string pendingWrite_;
    bool sendInProgress_ = false;
    Clock::time_point writeDeadline_{};

    // Posted functions check it: an event that arrives after the port is gone does nothing.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    std::thread worker_;
};

}  // namespace korva
