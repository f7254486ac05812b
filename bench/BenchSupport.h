// What the benchmark programs share: the sample report, clocks and medians, bare FIFO I/O
// and the rows of the summary table. Peers run in a ChildProcess (killed when it goes),
// forked before the parent opens FIFOs or sockets, so that they inherit none.
#ifndef ZAM_BENCH_SUPPORT_H
#define ZAM_BENCH_SUPPORT_H

#include "ChildProcess.h"

#include <memory>
#include <string>
#include <vector>

class LxTarvexDetectedMacMsg;

namespace zam::bench {

// The report every benchmark sends: network 4660 and a fixed full image (154-byte frames).
constexpr unsigned short kSampleNetwork = 4660;
std::unique_ptr<LxTarvexDetectedMacMsg> SampleMessage();
std::vector<unsigned char> SampleFrame();

long long NowNs(); // CLOCK_MONOTONIC
double Median(std::vector<double> values);
// "R (rounds MIN–MAX)": R the ratio of the medians of two per-round series, MIN–MAX the
// range of their ratios round by round.
std::string Ratio(const std::vector<double>& x, const std::vector<double>& y);

// Waits up to 5 s until `path` has a reader (a non-blocking open for writing succeeds);
// exits the program when none comes.
void WaitForReader(const std::string& path);

// Our end of a FIFO, read with bare system calls in the IPC library's pattern: non-blocking,
// read first and poll only when nothing is waiting. Created when missing and kept open by a
// writer of our own, so that reads never see end-of-file. Exits on failure.
class BareFifo {
public:
    explicit BareFifo(const std::string& path);
    ~BareFifo();
    BareFifo(const BareFifo&) = delete;
    BareFifo& operator=(const BareFifo&) = delete;

    // Reads exactly `wanted` bytes, waiting at most `timeoutMs` whenever the FIFO is empty.
    bool ReadFull(void* buffer, std::size_t wanted, int timeoutMs);
    // Reads one frame (up to MaxFrameSize bytes), checking markers and length: 4, 4 bytes,
    // then payload and end marker in one read (`payloadWithEnd`, as the client does) or two
    // (as the server does). Waits `firstWaitMs` for the start marker, `restWaitMs` for each
    // later piece. Returns the frame length, 0 when no start marker came, -1 if broken.
    int ReadFrame(unsigned char* frame, bool payloadWithEnd, int firstWaitMs, int restWaitMs);

private:
    int m_fd;
    int m_keeper;
};

// Opens `path` O_WRONLY|O_NONBLOCK, writes the bytes with one write and closes it.
bool SendBare(const std::string& path, const unsigned char* bytes, std::size_t length);

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Prints a row of the table that scripts/bench collects: | measure | result | goal |.
void Row(const std::string& measure, const std::string& result, const std::string& goal = "");

} // namespace zam::bench

#endif
