// Child processes and pipes for tests that need real peers: fork without exec (so the tests
// also run under qemu-user), every child killed and reaped, every wait bounded.
#ifndef ZAM_TEST_CHILD_PROCESS_H
#define ZAM_TEST_CHILD_PROCESS_H

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using TestClock = std::chrono::steady_clock;

inline double SecondsSince(TestClock::time_point start) {
    return std::chrono::duration<double>(TestClock::now() - start).count();
}

// `count` times ZAM_TEST_SCALE (a factor, e.g. 0.05 under valgrind), at least 1.
inline int Scaled(int count) {
    const char* text = std::getenv("ZAM_TEST_SCALE");
    const double factor = text != nullptr && std::atof(text) > 0 ? std::atof(text) : 1.0;
    const int scaled = static_cast<int>(count * factor);
    return scaled > 0 ? scaled : 1;
}

// CPU time the calling process has used, user and system, in microseconds.
inline long CpuMicroseconds() {
    struct rusage use {};
    getrusage(RUSAGE_SELF, &use);
    return (use.ru_utime.tv_sec + use.ru_stime.tv_sec) * 1000000L + use.ru_utime.tv_usec +
           use.ru_stime.tv_usec;
}

// The number of descriptors the calling process holds open (the listing's own included).
inline int OpenDescriptors() {
    int count = 0;
    DIR* fds = opendir("/proc/self/fd");
    for (; fds != nullptr && readdir(fds) != nullptr; ++count) {
    }
    return fds != nullptr && closedir(fds) == 0 ? count : -1;
}

// A forked child that runs `body` and exits with its result, never returning into the test.
// Killed (SIGKILL) and reaped when the object goes, whatever the test did.
class Child {
public:
    template <class Body> explicit Child(Body body) : m_pid(fork()) {
        if (m_pid == 0) {
            _exit(body());
        }
    }
    ~Child() { Kill(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    void Kill() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }
    bool Running() {
        if (m_pid > 0 && waitpid(m_pid, nullptr, WNOHANG) != 0) {
            m_pid = -1; // it has ended and is reaped now
        }
        return m_pid > 0;
    }
    // The exit code within `seconds`; 128 + signal when it was killed; -1 on a timeout
    // (then it is killed).
    int Wait(double seconds) {
        int status = 0;
        for (const auto start = TestClock::now(); m_pid > 0; usleep(2000)) {
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (SecondsSince(start) > seconds) {
                Kill();
            }
        }
        return -1;
    }

private:
    pid_t m_pid;
};

// A pipe for reports from children: ints written whole (below PIPE_BUF), read with a bound.
class ReportPipe {
public:
    ReportPipe() {
        if (pipe2(m_fds, O_CLOEXEC) != 0) {
            m_fds[0] = m_fds[1] = -1;
        }
    }
    ~ReportPipe() {
        close(m_fds[0]);
        close(m_fds[1]);
    }
    ReportPipe(const ReportPipe&) = delete;
    ReportPipe& operator=(const ReportPipe&) = delete;

    void Send(int value) const {
        if (write(m_fds[1], &value, sizeof value) != sizeof value) {
            std::abort();
        }
    }
    // The next value, or false when none came within `seconds`.
    bool Receive(int& value, double seconds) const {
        struct pollfd ready = {m_fds[0], POLLIN, 0};
        return poll(&ready, 1, static_cast<int>(seconds * 1000)) == 1 &&
               read(m_fds[0], &value, sizeof value) == sizeof value;
    }
    int WriteEnd() const { return m_fds[1]; }
    // Everything written until every write end is closed, or until `seconds` have passed.
    std::string ReadAll(double seconds) {
        close(m_fds[1]);
        m_fds[1] = -1;
        std::string all;
        char chunk[512];
        struct pollfd ready = {m_fds[0], POLLIN, 0};
        for (const auto start = TestClock::now(); SecondsSince(start) < seconds;) {
            if (poll(&ready, 1, 100) == 1) {
                const ssize_t n = read(m_fds[0], chunk, sizeof chunk);
                if (n <= 0) {
                    break;
                }
                all.append(chunk, static_cast<size_t>(n));
            }
        }
        return all;
    }

private:
    int m_fds[2];
};

#endif
