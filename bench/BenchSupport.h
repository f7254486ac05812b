// Helpers shared by the benchmark programs: the sample report, clocks and statistics,
// child processes, bare FIFO I/O and the rows of the summary table.
#ifndef ZAM_BENCH_SUPPORT_H
#define ZAM_BENCH_SUPPORT_H

#include <bitset>
#include <cstddef>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

class LxTarvexDetectedMacMsg;

namespace zam::bench {

// The report every benchmark sends: network 4660 and a full image (a fixed pattern with
// about half of the 128 bits set), so that frames carry the 128-character text.
constexpr unsigned short kSampleNetwork = 4660;
std::bitset<128> SampleImage();
// A new message owned by the caller.
LxTarvexDetectedMacMsg* NewSampleMessage();
// The frame bytes that Serialize makes for the sample message (154 bytes).
std::vector<unsigned char> SampleFrame();

// The value of a numeric option, 1..max; exits with status 2 and a message otherwise.
int ParseCount(const char* text, const char* option, long max);

// One "--name VALUE" option of a benchmark program: a count 1..max, or a text.
struct BenchOption {
    const char* name;
    int* count;
    long max;
    std::string* text;
};

// Sets the options given in argv[1..]; anything else prints `usage` and exits with status 2.
void ParseBenchOptions(int argc, char** argv, const std::vector<BenchOption>& options,
                       const char* usage);

// CLOCK_MONOTONIC in nanoseconds.
long long NowNs();

// Median and the 10th and 90th percentiles of `samples` (sorted in place).
struct Spread {
    double p10;
    double median;
    double p90;
};
Spread Summarise(std::vector<double>& samples);
double Median(std::vector<double> values);
double Min(const std::vector<double>& values);
double Max(const std::vector<double>& values);

// A forked child process that reports to its parent through a pipe.
struct Child {
    pid_t pid = -1;
    int fromChild = -1; // read end of the child's report pipe
};
// Forks a child that runs `body(toParent)` and then _exits (no destructors run in it; it
// gets SIGTERM if the parent dies). Fork before opening FIFOs or sockets in the parent, so
// that children inherit none of them.
Child StartChild(const std::function<int(int toParent)>& body);
// In the child: tells the parent that it is ready.
void NotifyReady(int toParent);
// In the parent: waits up to 5 s for the child's ready byte; exits the program on failure.
void WaitReady(const Child& child, const char* what);
// Sends SIGTERM to the child and reaps it.
void StopChild(Child& child);
// Reaps a child that ends by itself; returns its exit status.
int ReapChild(Child& child);

// Bare FIFO I/O with the pattern of the IPC library: non-blocking descriptors, read first
// and poll only when nothing is waiting. Paths are taken as given.
// Creates the FIFO when missing and opens it for reading, with a keeper writer of our own
// so that reads never see end-of-file. Returns the read descriptor; exits on failure.
int OpenOwnFifoBare(const std::string& path, int* keeper);
// One read of up to `wanted` bytes; waits at most `timeoutMs` when the FIFO is empty.
// Returns the count read, 0 on timeout, -1 on failure.
ssize_t ReadOnceBare(int fd, void* buffer, std::size_t wanted, int timeoutMs);
// Reads exactly `wanted` bytes (one read when they are all there). False on timeout/failure.
bool ReadFullBare(int fd, void* buffer, std::size_t wanted, int timeoutMs);
// Reads one frame as the server does, 4, 4, payload, 4 bytes, checking both markers and the
// length. Waits at most `firstWaitMs` for the start marker and `restWaitMs` for each later
// piece. Returns the frame length, 0 when no start marker came, -1 for a broken frame.
int ReadFrameBare(int fd, unsigned char* frame, int firstWaitMs, int restWaitMs);
// Opens the peer's FIFO O_WRONLY|O_NONBLOCK, writes the frame with one write, closes.
bool SendFrameBare(const std::string& path, const unsigned char* frame, std::size_t length);

// A row of the summary table that scripts/bench prints, appended to the file named by
// ZAM_BENCH_SUMMARY when it is set: | measure | median | spread | goal |.
void SummaryRow(const std::string& measure, const std::string& median, const std::string& spread,
                const std::string& goal);
// printf into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace zam::bench

#endif
