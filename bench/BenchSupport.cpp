// Helpers shared by the benchmark programs.
#include "BenchSupport.h"

#include "LxIpcMsgBuffer.h"
#include "LxIpcMsgUtil.h"
#include "LxTarvexDetectedMacMsg.h"
#include "TarvexFrame.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zam::bench {

std::bitset<128> SampleImage() {
    std::bitset<128> image;
    unsigned int state = 12345;
    for (std::size_t bit = 0; bit < image.size(); ++bit) {
        state = state * 1103515245u + 12345u; // fixed LCG: the same image every run
        image.set(bit, (state >> 16) & 1u);
    }
    return image;
}

LxTarvexDetectedMacMsg* NewSampleMessage() {
    return new LxTarvexDetectedMacMsg(kSampleNetwork, new std::bitset<128>(SampleImage()));
}

std::vector<unsigned char> SampleFrame() {
    const std::unique_ptr<LxTarvexDetectedMacMsg> message(NewSampleMessage());
    const std::unique_ptr<LxIpcMsgBuffer> buffer(message->Serialize());
    return std::vector<unsigned char>(buffer->GetBuf(), buffer->GetBuf() + buffer->GetLength());
}

long long NowNs() {
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

namespace {

// Nearest-rank percentile of sorted values.
double Percentile(const std::vector<double>& sorted, double fraction) {
    if (sorted.empty()) {
        return 0.0;
    }
    const auto index =
        static_cast<std::size_t>(fraction * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(index, sorted.size() - 1)];
}

} // namespace

Spread Summarise(std::vector<double>& samples) {
    std::sort(samples.begin(), samples.end());
    return {Percentile(samples, 0.10), Percentile(samples, 0.50), Percentile(samples, 0.90)};
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return Percentile(values, 0.5);
}

double Min(const std::vector<double>& values) {
    return values.empty() ? 0.0 : *std::min_element(values.begin(), values.end());
}

double Max(const std::vector<double>& values) {
    return values.empty() ? 0.0 : *std::max_element(values.begin(), values.end());
}

Child StartChild(const std::function<int(int toParent)>& body) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("pipe2");
        std::exit(1);
    }
    std::fflush(nullptr); // no buffered output is printed twice
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("fork");
        std::exit(1);
    }
    if (pid == 0) {
        close(ends[0]);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int status = body(ends[1]);
        std::fflush(nullptr);
        _exit(status); // the parent's objects (its FIFO directory) are not the child's to destroy
    }
    close(ends[1]);
    return {pid, ends[0]};
}

void NotifyReady(int toParent) {
    const char ready = 'r';
    if (write(toParent, &ready, 1) != 1) {
        _exit(1);
    }
}

void WaitReady(const Child& child, const char* what) {
    char ready = 0;
    if (ReadOnceBare(child.fromChild, &ready, 1, 5000) != 1) {
        std::fprintf(stderr, "%s did not start\n", what);
        std::exit(1);
    }
}

void StopChild(Child& child) {
    if (child.pid > 0) {
        kill(child.pid, SIGTERM);
    }
    ReapChild(child);
}

int ReapChild(Child& child) {
    int status = 0;
    if (child.pid > 0) {
        while (waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
        }
        child.pid = -1;
    }
    if (child.fromChild >= 0) {
        close(child.fromChild);
        child.fromChild = -1;
    }
    return status;
}

int OpenOwnFifoBare(const std::string& path, int* keeper) {
    if (mkfifo(path.c_str(), 0600) != 0 && errno != EEXIST) {
        std::perror(path.c_str());
        std::exit(1);
    }
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    *keeper = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || *keeper < 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
    return fd;
}

ssize_t ReadOnceBare(int fd, void* buffer, std::size_t wanted, int timeoutMs) {
    for (;;) {
        const ssize_t n = read(fd, buffer, wanted);
        if (n > 0) {
            return n;
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            return -1;
        }
        if (errno == EAGAIN) {
            struct pollfd entry = {fd, POLLIN, 0};
            const int ready = poll(&entry, 1, timeoutMs);
            if (ready == 0) {
                return 0;
            }
            if (ready < 0 && errno != EINTR) {
                return -1;
            }
        }
    }
}

bool ReadFullBare(int fd, void* buffer, std::size_t wanted, int timeoutMs) {
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < wanted) {
        const ssize_t n = ReadOnceBare(fd, out + done, wanted - done, timeoutMs);
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

int ReadFrameBare(int fd, unsigned char* frame, int firstWaitMs, int restWaitMs) {
    using namespace zam::frame;
    if (!ReadFullBare(fd, frame, WordSize, firstWaitMs)) {
        return 0;
    }
    if (LxIpcMsgUtil::ExtractInteger(frame) != StartMarker ||
        !ReadFullBare(fd, frame + WordSize, WordSize, restWaitMs)) {
        return -1;
    }
    const int payload = LxIpcMsgUtil::ExtractInteger(frame + WordSize);
    if (payload <= 0 || payload > MaxPayloadLength ||
        !ReadFullBare(fd, frame + HeaderSize, static_cast<std::size_t>(payload), restWaitMs) ||
        !ReadFullBare(fd, frame + HeaderSize + payload, WordSize, restWaitMs) ||
        LxIpcMsgUtil::ExtractInteger(frame + HeaderSize + payload) != EndMarker) {
        return -1;
    }
    return HeaderSize + payload + WordSize;
}

bool SendFrameBare(const std::string& path, const unsigned char* frame, std::size_t length) {
    const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    const ssize_t written = write(fd, frame, length);
    close(fd);
    return written == static_cast<ssize_t>(length);
}

void SummaryRow(const std::string& measure, const std::string& median, const std::string& spread,
                const std::string& goal) {
    const char* path = std::getenv("ZAM_BENCH_SUMMARY");
    if (path == nullptr || path[0] == '\0') {
        return;
    }
    if (FILE* out = std::fopen(path, "a")) {
        std::fprintf(out, "| %s | %s | %s | %s |\n", measure.c_str(), median.c_str(),
                     spread.c_str(), goal.c_str());
        std::fclose(out);
    }
}

std::string Format(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

int ParseCount(const char* text, const char* option, long max) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 1 || value > max) {
        std::fprintf(stderr, "bad value for %s: %s\n", option, text);
        std::exit(2);
    }
    return static_cast<int>(value);
}

void ParseBenchOptions(int argc, char** argv, const std::vector<BenchOption>& options,
                       const char* usage) {
    for (int i = 1; i < argc; ++i) {
        const BenchOption* found = nullptr;
        for (const BenchOption& option : options) {
            found = std::strcmp(argv[i], option.name) == 0 ? &option : found;
        }
        if (found == nullptr || i + 1 == argc) {
            std::fprintf(stderr, "usage: %s %s\n", argv[0], usage);
            std::exit(2);
        }
        ++i;
        if (found->count != nullptr) {
            *found->count = ParseCount(argv[i], found->name, found->max);
        } else {
            *found->text = argv[i];
        }
    }
}

} // namespace zam::bench
