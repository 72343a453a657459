#pragma once
// Runs the emulated devices against the line in real time: one emulator tick per millisecond.

#include <chrono>
#include <csignal>
#include <cstdint>
#include <deque>
#include <string>

#include "sim/BusEmulator.h"

namespace korva::korvasim {

// Installs the handlers of SIGINT, SIGTERM and SIGHUP and blocks them; they are let through only
// while the server waits, so a stop can never slip in between a check and a wait.
// Returns the mask to wait with.
sigset_t BlockStopSignals();

class LineServer {
  public:
    using Clock = std::chrono::steady_clock;
    // The gap between the two pieces of a split reply: longer than the program's cluster time-out.
    static constexpr std::chrono::milliseconds kSplitGap{15};
    // Replies the program does not read pile up no further than this.
    static constexpr std::size_t kMaxQueued = 1 << 20;

    // The line's own pace: each character takes 10/baud s to cross it (0: no time at all), on one
    // line shared by both ways (half duplex) or one line each way.
    struct Pacing {
        int baud = 0;
        bool halfDuplex = true;
    };

    LineServer(sim::BusEmulator& emu, int fd, int latencyTicks, bool split, Pacing pacing);

    struct End {
        bool failed = false;  // an error other than a stop or a hang-up
        std::string why;
    };
    // Serves until a stop signal, a hang-up of the line or an error.
    End Run(const sigset_t& waitMask);

  private:
    struct Piece {
        std::string text;
        std::size_t sent = 0;
        bool second = false;  // the rest of a split reply: waits kSplitGap after the piece before it
        Clock::time_point notBefore{};  // when its last character has crossed a paced line
    };
    struct Inbound {
        Clock::time_point due;  // when its last character has crossed a paced line
        std::string text;
    };
    enum class Io { Ok, HungUp, Failed };

    void CatchUp();
    // What the devices receive: fed now, or once it has crossed a paced line.
    void Receive(std::string text);
    void Deliver(std::string_view text);
    // When characters that are ready at `from` have crossed the line one way.
    Clock::time_point Cross(std::size_t characters, Clock::time_point& freeAt);
    Io ReadAvailable(std::size_t& got);
    Io WritePending();
    timespec TimeToWait() const;

    sim::BusEmulator& emu_;
    int fd_;
    int latency_;
    bool split_;
    Clock::time_point start_;
    std::uint64_t ticks_ = 0;
    std::uint64_t lastReplies_ = 0;
    std::uint64_t replyDueTick_ = 0;
    bool replyPending_ = false;
    std::deque<Piece> out_;
    std::deque<Inbound> in_;
    std::chrono::nanoseconds charTime_{0};
    bool half_ = true;
    Clock::time_point inFreeAt_{}, outFreeAt_{};
    std::size_t queued_ = 0;
    std::uint64_t overflowed_ = 0;
    Clock::time_point lastPieceDone_;
    bool writeBlocked_ = false;
    int error_ = 0;
};

}  // namespace korva::korvasim
