#pragma once
// Runs a check in a child process under a time limit, so that a call that hangs fails its test
// instead of stopping the suite. The child may also change its own limits (file size, say).

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace korva::test {

// What the body returned, or "timed out" / "died" when the child gave no answer.
inline std::string InChild(const std::function<std::string()>& body, int limitMs = 5000) {
    int fds[2];
    if (::pipe(fds) != 0) return "no pipe";
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::string answer = "=";
        try {
            answer += body();
        } catch (const std::exception& e) {
            answer += std::string("threw: ") + e.what();
        }
        // A pipe takes a short answer whole; _exit: no atexit handlers, no leak check of a copy.
        ::_exit(::write(fds[1], answer.data(), answer.size()) == ssize_t(answer.size()) ? 0 : 1);
    }
    ::close(fds[1]);
    pollfd p{fds[0], POLLIN, 0};
    const bool answered = pid > 0 && ::poll(&p, 1, limitMs) == 1;
    char buf[4096];
    const ssize_t n = answered ? ::read(fds[0], buf, sizeof buf) : 0;
    ::close(fds[0]);
    if (pid > 0 && !answered) ::kill(pid, SIGKILL);
    if (pid > 0) ::waitpid(pid, nullptr, 0);
    if (!answered) return pid > 0 ? "timed out" : "no fork";
    return n > 0 && buf[0] == '=' ? std::string(buf + 1, static_cast<std::size_t>(n - 1)) : "died";
}

}  // namespace korva::test
