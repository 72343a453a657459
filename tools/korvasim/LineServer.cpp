#include "LineServer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>

#include <poll.h>
#include <unistd.h>

namespace korva::korvasim {

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnStopSignal(int) {
    g_stop = 1;
}

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr std::chrono::milliseconds kIdleWait{50};
constexpr int kReadsPerWake = 64;  // a flooding program cannot keep time from passing

}  // namespace

sigset_t BlockStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigset_t block;
    sigemptyset(&block);
    for (int s : kStopSignals) {
        sigaction(s, &action, nullptr);
        sigaddset(&block, s);
    }
    sigset_t waitMask;
    sigprocmask(SIG_BLOCK, &block, &waitMask);
    for (int s : kStopSignals) sigdelset(&waitMask, s);
    return waitMask;
}

LineServer::LineServer(sim::BusEmulator& emu, int fd, int latencyTicks, bool split, Pacing pacing)
    : emu_(emu),
      fd_(fd),
      latency_(latencyTicks),
      split_(split),
      start_(Clock::now()),
      lastPieceDone_(start_) {
    lastReplies_ = emu_.repliesSent;
    // A character is ten bits: start, eight data bits, stop.
    if (pacing.baud > 0) charTime_ = std::chrono::nanoseconds(10'000'000'000LL / pacing.baud);
    half_ = pacing.halfDuplex;
    inFreeAt_ = outFreeAt_ = start_;
}

LineServer::Clock::time_point LineServer::Cross(std::size_t characters, Clock::time_point& freeAt) {
    const Clock::time_point end = std::max(Clock::now(), freeAt) + charTime_ * static_cast<long>(characters);
    freeAt = end;
    // One shared line: the other way waits too.
    if (half_) inFreeAt_ = outFreeAt_ = end;
    return end;
}

void LineServer::Deliver(std::string_view text) {
    emu_.Feed(text);
    if (emu_.repliesSent != lastReplies_) {
        lastReplies_ = emu_.repliesSent;
        replyDueTick_ = emu_.Now() + static_cast<std::uint64_t>(latency_);
        replyPending_ = true;
    }
}

void LineServer::Receive(std::string text) {
    if (charTime_.count() == 0) return Deliver(text);
    const Clock::time_point due = Cross(text.size(), inFreeAt_);
    in_.push_back(Inbound{due, std::move(text)});
}

void LineServer::CatchUp() {
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count();
    while (ticks_ < static_cast<std::uint64_t>(elapsed)) {
        emu_.Tick();
        ++ticks_;
    }
    // Requests reach the devices once their last character is through.
    while (!in_.empty() && in_.front().due <= Clock::now()) {
        Deliver(in_.front().text);
        in_.pop_front();
    }
    // The tick that finds now == due sends the reply; after it, ticks_ has passed the due tick.
    if (replyPending_ && ticks_ > replyDueTick_) replyPending_ = false;
    for (std::string& text : emu_.TakeOutput()) {
        if (queued_ + text.size() > kMaxQueued) {
            if (overflowed_++ == 0)
                std::cerr << "korvasim: the program reads no replies; dropping the newest\n";
            continue;
        }
        queued_ += text.size();
        // Every reply starts with "(" and the cut of a split reply never falls before it.
        const bool second = split_ && !text.empty() && text.front() != '(';
        const Clock::time_point notBefore =
            charTime_.count() > 0 ? Cross(text.size(), outFreeAt_) : Clock::time_point{};
        out_.push_back(Piece{std::move(text), 0, second, notBefore});
    }
}

LineServer::Io LineServer::ReadAvailable(std::size_t& got) {
    char buffer[4096];
    got = 0;
    for (int i = 0; i < kReadsPerWake; ++i) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            Receive(std::string(buffer, static_cast<std::size_t>(n)));
            continue;
        }
        if (n == 0) return Io::HungUp;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return Io::Ok;
        error_ = errno;
        return errno == EIO ? Io::HungUp : Io::Failed;
    }
    return Io::Ok;
}

LineServer::Io LineServer::WritePending() {
    while (!out_.empty() && !writeBlocked_) {
        Piece& p = out_.front();
        if (p.second && p.sent == 0 && Clock::now() < lastPieceDone_ + kSplitGap) break;
        if (p.sent == 0 && Clock::now() < p.notBefore) break;  // still crossing a paced line
        const ssize_t n = ::write(fd_, p.text.data() + p.sent, p.text.size() - p.sent);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                writeBlocked_ = true;
                break;
            }
            error_ = errno;
            return errno == EIO ? Io::HungUp : Io::Failed;
        }
        p.sent += static_cast<std::size_t>(n);
        if (p.sent == p.text.size()) {
            queued_ -= p.text.size();
            out_.pop_front();
            lastPieceDone_ = Clock::now();
        }
    }
    return Io::Ok;
}

timespec LineServer::TimeToWait() const {
    const Clock::time_point now = Clock::now();
    Clock::time_point wake = now + kIdleWait;
    // A reply on its way leaves at the tick after its due tick: wake for exactly that one.
    if (replyPending_) wake = std::min(wake, start_ + std::chrono::milliseconds(replyDueTick_ + 1));
    // The copy of a doubled reply leaves later than the reply itself.
    if (const auto due = emu_.NextDue()) wake = std::min(wake, start_ + std::chrono::milliseconds(*due + 1));
    if (!out_.empty() && !writeBlocked_ && out_.front().second)
        wake = std::min(wake, lastPieceDone_ + kSplitGap);
    if (!out_.empty() && !writeBlocked_) wake = std::min(wake, std::max(now, out_.front().notBefore));
    if (!in_.empty()) wake = std::min(wake, std::max(now, in_.front().due));
    const auto ns =
        std::max<std::int64_t>(0, std::chrono::duration_cast<std::chrono::nanoseconds>(wake - now).count());
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    return ts;
}

LineServer::End LineServer::Run(const sigset_t& waitMask) {
    const auto ended = [this](Io io) {
        const std::string why = error_ != 0 ? std::strerror(error_) : "end of file";
        if (io == Io::HungUp) return End{false, "the line hung up (" + why + ")"};
        return End{true, "line error: " + why};
    };
    for (;;) {
        if (g_stop) return End{false, ""};
        CatchUp();
        if (const Io io = WritePending(); io != Io::Ok) return ended(io);
        pollfd pfd{fd_, static_cast<short>(POLLIN | (writeBlocked_ ? POLLOUT : 0)), 0};
        const timespec wait = TimeToWait();
        const int ready = ppoll(&pfd, 1, &wait, &waitMask);
        if (ready < 0) {
            if (errno == EINTR) continue;
            error_ = errno;
            return ended(Io::Failed);
        }
        if (ready == 0) continue;
        if (pfd.revents & POLLNVAL) return End{true, "the line was closed under us"};
        if (pfd.revents & POLLOUT) writeBlocked_ = false;
        if (pfd.revents & (POLLIN | POLLHUP | POLLERR)) {
            // Time that passed before the request arrived must not count towards its latency.
            CatchUp();
            std::size_t got = 0;
            if (const Io io = ReadAvailable(got); io != Io::Ok) return ended(io);
            // A hang-up with nothing left to read would wake us at once, forever.
            if ((pfd.revents & (POLLHUP | POLLERR)) && got == 0) return ended(Io::HungUp);
        }
    }
}

}  // namespace korva::korvasim
