// A forked child process for the tests: it runs `body` and exits with its result. No exec,
// so it also runs under qemu-user. Killed (SIGKILL) and reaped when the object goes.
#ifndef ZAM_TEST_CHILD_PROCESS_H
#define ZAM_TEST_CHILD_PROCESS_H

#include <chrono>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

class ChildProcess {
public:
    template <class Body> explicit ChildProcess(Body body) : m_pid(fork()) {
        if (m_pid == 0) {
            alarm(120); // a parent that gave up cannot leave this process behind
            _exit(body());
        }
    }
    ~ChildProcess() { Wait(0); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return m_pid; }

    // The exit status, or 128 + the signal that ended it; SIGKILLed after `seconds`.
    int Wait(double seconds) {
        int status = -1;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (m_pid > 0 && waitpid(m_pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                kill(m_pid, SIGKILL);
            }
            usleep(1000);
        }
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t m_pid;
};

#endif
