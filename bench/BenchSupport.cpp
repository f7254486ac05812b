// What the benchmark programs share.
#include "BenchSupport.h"

#include "LxIpcMsgBuffer.h"
#include "LxIpcMsgUtil.h"
#include "LxTarvexDetectedMacMsg.h"
#include "TarvexFrame.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>

namespace zam::bench {

using namespace zam::frame;
using Image = std::bitset<ImageBits>;

std::unique_ptr<LxTarvexDetectedMacMsg> SampleMessage() {
    // A fixed image with about half of its bits set.
    const Image image = (Image(0x9E3779B97F4A7C15ULL) << 64) | Image(0xC2B2AE3D27D4EB4FULL);
    return std::make_unique<LxTarvexDetectedMacMsg>(kSampleNetwork, new Image(image));
}

std::vector<unsigned char> SampleFrame() {
    const std::unique_ptr<LxIpcMsgBuffer> buffer(SampleMessage()->Serialize());
    return std::vector<unsigned char>(buffer->GetBuf(), buffer->GetBuf() + buffer->GetLength());
}

long long NowNs() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
}

double Median(std::vector<double> values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return values.empty() ? 0.0 : *middle;
}

std::string Ratio(const std::vector<double>& x, const std::vector<double>& y) {
    std::vector<double> perRound;
    for (std::size_t r = 0; r < x.size() && r < y.size(); ++r) {
        perRound.push_back(x[r] / y[r]);
    }
    const auto range = std::minmax_element(perRound.begin(), perRound.end());
    return perRound.empty() ? ""
                            : Format("%.2f (rounds %.2f–%.2f)", Median(x) / Median(y), *range.first,
                                     *range.second);
}

void WaitForReader(const std::string& path) {
    int fd = -1;
    for (int waitedMs = 0; waitedMs < 5000 && (fd = open(path.c_str(), O_WRONLY | O_NONBLOCK)) < 0;
         ++waitedMs) {
        usleep(1000);
    }
    if (fd < 0 || close(fd) != 0) {
        std::fprintf(stderr, "no reader on %s\n", path.c_str());
        std::exit(1);
    }
}

BareFifo::BareFifo(const std::string& path) {
    const bool made = mkfifo(path.c_str(), 0600) == 0 || errno == EEXIST;
    m_fd = made ? open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
    m_keeper = m_fd >= 0 ? open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC) : -1;
    if (m_keeper < 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
}

BareFifo::~BareFifo() {
    close(m_keeper);
    close(m_fd);
}

bool BareFifo::ReadFull(void* buffer, std::size_t wanted, int timeoutMs) {
    auto* out = static_cast<unsigned char*>(buffer);
    for (std::size_t done = 0; done < wanted;) {
        const ssize_t n = read(m_fd, out + done, wanted - done);
        struct pollfd entry = {m_fd, POLLIN, 0};
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n == 0 || errno != EAGAIN || poll(&entry, 1, timeoutMs) == 0) {
            return false; // end-of-file, a failure or the wait ran out
        }
    }
    return true;
}

int BareFifo::ReadFrame(unsigned char* frame, bool payloadWithEnd, int firstWaitMs,
                        int restWaitMs) {
    if (!ReadFull(frame, WordSize, firstWaitMs)) {
        return 0;
    }
    if (LxIpcMsgUtil::ExtractInteger(frame) != StartMarker ||
        !ReadFull(frame + WordSize, WordSize, restWaitMs)) {
        return -1;
    }
    const int payload = LxIpcMsgUtil::ExtractInteger(frame + WordSize);
    if (payload <= 0 || payload > MaxPayloadLength) {
        return -1;
    }
    unsigned char* end = frame + HeaderSize + payload;
    const bool read =
        payloadWithEnd ? ReadFull(frame + HeaderSize, std::size_t(payload) + WordSize, restWaitMs)
                       : ReadFull(frame + HeaderSize, std::size_t(payload), restWaitMs) &&
                             ReadFull(end, WordSize, restWaitMs);
    return read && LxIpcMsgUtil::ExtractInteger(end) == EndMarker ? payload + Overhead : -1;
}

bool SendBare(const std::string& path, const unsigned char* bytes, std::size_t length) {
    const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    const bool sent = fd >= 0 && write(fd, bytes, length) == static_cast<ssize_t>(length);
    close(fd);
    return sent;
}

std::string Format(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

void Row(const std::string& measure, const std::string& result, const std::string& goal) {
    std::printf("| %s | %s | %s |\n", measure.c_str(), result.c_str(), goal.c_str());
}

} // namespace zam::bench
