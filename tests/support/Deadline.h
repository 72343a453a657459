#pragma once
// Runs a check in a child process under a time limit, so that a call that hangs fails its test
// instead of stopping the suite. The child may also change its own limits (file size, say).

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>

namespace korva::test {

// What the body returned, or why the child gave no answer: "timed out", "died".
inline std::string InChild(const std::function<std::string()>& body, int limitMs = 5000) {
    int fds[2];
    if (::pipe(fds) != 0) return "no pipe";
    const pid_t pid = ::fork();
    if (pid < 0) return "no fork";
    if (pid == 0) {
        ::close(fds[0]);
        std::string answer = "=";
        try {
            answer += body();
        } catch (const std::exception& e) {
            answer += std::string("threw: ") + e.what();
        }
        for (std::size_t done = 0; done < answer.size();) {
            const ssize_t n = ::write(fds[1], answer.data() + done, answer.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        ::_exit(0);  // no atexit handlers, no leak check of a copy of the parent
    }
    ::close(fds[1]);
    std::string out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    bool timedOut = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd p{fds[0], POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) == 0) {
            timedOut = true;
            break;
        }
        char buf[4096];
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    if (timedOut) ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (timedOut) return "timed out";
    return out.empty() || out[0] != '=' ? "died" : out.substr(1);
}

}  // namespace korva::test
