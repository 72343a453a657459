#pragma once
// korvasim as a child process on a copy of the demo plant, and the program's end of the line it serves.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "packet/BusPacket.h"
#include "packet/Receiver.h"
#include "support/Packets.h"
#include "support/Pty.h"
#include "support/TempDir.h"

extern char** environ;

namespace korva::test {

using Clock = std::chrono::steady_clock;
// Every wait for korvasim ends after this long, so a broken simulator fails a test instead of hanging it.
constexpr std::chrono::milliseconds kPatience{5000};

inline int MillisLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// A command line written as one text: its words, split at blanks; a blank at the end gives an empty word.
inline std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> out;
    for (std::size_t from = 0, at = 0; !line.empty() && from <= line.size(); from = at + 1) {
        at = std::min(line.find(' ', from), line.size());
        out.push_back(line.substr(from, at - from));
    }
    return out;
}

// Killed and reaped when it goes out of scope, whatever the test did. korvasim by default; any
// other program of the project runs the same way, its input at once at its end unless another is
// given, in workDir if given.
class SimProcess {
  public:
    // input: what the program reads, a terminal's path for one that asks.
    explicit SimProcess(const std::vector<std::string>& args, const char* program = KORVASIM_PATH,
                        const char* workDir = nullptr, const char* input = "/dev/null") {
        int toOut[2] = {-1, -1}, toErr[2] = {-1, -1};
        if (pipe2(toOut, O_CLOEXEC) != 0 || pipe2(toErr, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toOut[1], 1);
        posix_spawn_file_actions_adddup2(&actions, toErr[1], 2);
        posix_spawn_file_actions_addopen(&actions, 0, input, O_RDWR | O_NOCTTY, 0);
        if (workDir != nullptr) posix_spawn_file_actions_addchdir_np(&actions, workDir);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        sigset_t none, defaults;
        sigemptyset(&none);
        sigemptyset(&defaults);
        for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&defaults, s);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setsigdefault(&attr, &defaults);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        std::vector<std::string> all{program};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, program, &actions, &attr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
        ::close(toOut[1]);
        ::close(toErr[1]);
        fds_[0] = toOut[0];
        fds_[1] = toErr[0];
    }
    ~SimProcess() {
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        for (int fd : fds_)
            if (fd >= 0) ::close(fd);
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    void Signal(int sig) const { ::kill(pid_, sig); }

    // Reads stdout until it holds the text; false when the deadline passed first.
    bool WaitForOutput(const std::string& text) {
        const auto deadline = Clock::now() + kPatience;
        while (out.find(text) == std::string::npos) {
            if (fds_[0] < 0 || MillisLeft(deadline) == 0) return false;
            Pump(deadline);
        }
        return true;
    }
    std::optional<std::string> FirstLine() {
        if (!WaitForOutput("\n")) return std::nullopt;
        return out.substr(0, out.find('\n'));
    }
    // The exit status once korvasim has ended, 128 and the signal when a signal ended it; nullopt
    // when it did not end in time.
    std::optional<int> Wait() {
        if (pid_ <= 0) return std::nullopt;
        const auto deadline = Clock::now() + kPatience;
        // No program of the project leaves a child behind: both pipes at their end say that it is gone.
        while ((fds_[0] >= 0 || fds_[1] >= 0) && MillisLeft(deadline) > 0) Pump(deadline);
        if (fds_[0] < 0 && fds_[1] < 0 && ::waitpid(pid_, &status_, 0) == pid_) reaped_ = true;
        if (!reaped_) return std::nullopt;
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
    }

    std::string out, err;

  private:
    // One wait for output on either pipe.
    void Pump(Clock::time_point deadline) {
        pollfd p[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
        if (::poll(p, 2, MillisLeft(deadline)) <= 0) return;
        std::string* sinks[2] = {&out, &err};
        for (int i = 0; i < 2; ++i) {
            if (p[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = ::read(fds_[i], buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                ::close(fds_[i]);
                fds_[i] = -1;
            }
        }
    }

    pid_t pid_ = -1;
    int fds_[2] = {-1, -1};  // stdout, stderr
    int status_ = 0;
    bool reaped_ = false;
};

// What the program does with the line: raw, framed requests out, the scanner on what comes back.
class BusClient : private ReceiverSink {
  public:
    static constexpr std::uint8_t kOwnAddress = 0x6C;

    explicit BusClient(const std::string& path) : line_(RawLine::Open(path)), receiver_(*this) {}

    // A request from the program's start address; false when the line would not take it.
    bool Send(std::uint8_t dest, std::uint8_t code, const std::vector<int>& data) {
        sentAt = Clock::now();
        return line_.Write(EncodeSerial(MakePacket({dest, kOwnAddress, code}, data)),
                           MillisLeft(Clock::now() + kPatience));
    }

    // The next packet off the line; nullopt when none came in time.
    std::optional<BusPacket> Next() {
        for (const auto deadline = Clock::now() + kPatience; packets_.empty();) {
            if (MillisLeft(deadline) == 0) return std::nullopt;
            const std::string text = line_.ReadSome(MillisLeft(deadline));
            if (!text.empty()) chunks.push_back({Clock::now(), text});
            for (char c : text) receiver_.Feed(c);
        }
        BusPacket p = packets_.front();
        packets_.pop_front();
        return p;
    }
    // Whatever has arrived by now, without waiting.
    std::string Pending() { return line_.ReadSome(0); }

    struct Chunk {
        Clock::time_point at;
        std::string text;
    };
    std::vector<Chunk> chunks;  // every read, as it came
    Clock::time_point sentAt;

  private:
    void OnPacket(const BusPacket& p) override { packets_.push_back(p); }
    void OnChecksumError(const BusPacket&, std::uint8_t) override {}

    RawLine line_;
    Receiver receiver_;
    std::deque<BusPacket> packets_;
};

// A copy of the demo plant in a fresh folder, which korvasim may write into, and korvasim serving it.
struct DemoSim {
    DemoSim() {
        std::filesystem::copy(std::string(KORVA_DEMO_DIR) + "/config", ConfigDir(),
                              std::filesystem::copy_options::recursive);
    }
    std::string ConfigDir() const { return dir.Path() + "/config"; }

    // Starts korvasim on the copy; true once its first line says which line it serves (kept in pty).
    bool Start(std::vector<std::string> args = {}) {
        args.insert(args.begin(), {"--config-dir", ConfigDir()});
        sim = std::make_unique<SimProcess>(args);
        const std::optional<std::string> first = sim->FirstLine();
        const std::string on = " on ";
        if (!first || first->rfind("korvasim: serving ", 0) != 0 || first->find(on) == std::string::npos)
            return false;
        const std::size_t from = first->find(on) + on.size();
        pty = first->substr(from, first->find(" as ", from) - from);
        return true;
    }

    TempDir dir;
    std::unique_ptr<SimProcess> sim;
    std::string pty;
};

}  // namespace korva::test
