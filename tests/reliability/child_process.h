// Runs a scenario in a child process of its own, so that a hang, a crash or
// an exit that never ends fails the one case and not the whole run: the
// parent waits for the child at most a stated time and kills it after that.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace juxhid::test {

struct ChildEnd {
    enum class Kind { Exited, Crashed, Hung } kind;
    int detail;  // exit code, or the signal
    int64_t ms;  // how long the child ran

    std::string describe() const {
        switch (kind) {
            case Kind::Exited: return "exited with " + std::to_string(detail);
            case Kind::Crashed: return "ended by signal " + std::to_string(detail);
            case Kind::Hung: return "still running after " + std::to_string(ms) + " ms, killed";
        }
        return "?";
    }
    bool exitedWith(int code) const { return kind == Kind::Exited && detail == code; }
};

// `scenario` runs in the child; the child then ends the way the scenario
// ends it, or with exit(0) (exit handlers and library unloads included). The
// parent must have no other thread running when it calls this.
template <typename Scenario>
ChildEnd runInChild(Scenario scenario, int64_t limitMs) {
    std::fflush(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        scenario();
        std::exit(0);
    }
    if (child < 0) return {ChildEnd::Kind::Crashed, -1, 0};
    const auto elapsed = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count();
    };
    for (;;) {
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child) {
            if (WIFEXITED(status)) return {ChildEnd::Kind::Exited, WEXITSTATUS(status), elapsed()};
            return {ChildEnd::Kind::Crashed, WIFSIGNALED(status) ? WTERMSIG(status) : -1, elapsed()};
        }
        if (elapsed() > limitMs) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return {ChildEnd::Kind::Hung, 0, elapsed()};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace juxhid::test
