// Ingest rate of the server: frames per second that the ReadFromClient loop takes in from
// 1 and from 4 writer processes, against a bare reader of the same stream.
//
//   bench_ingest [--rounds N] [--window-ms N]
//
// The writers are the same for both readers: each is a library client that sends the
// full-image report with SendRequest in a loop (serialise, open the server's FIFO, one
// write, close, per frame). A full FIFO makes them wait in WriteData, so the reader sets
// the pace.
#include "BenchSupport.h"
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgClient.h"
#include "LxTarvexMuxMsgServer.h"
#include "TarvexFrame.h"
#include "TempFifoDir.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>

using namespace zam::bench;

namespace {

constexpr int kServerPollMs = 20;
constexpr long long kFirstFrameWaitNs = 5000000000LL;
constexpr long long kWarmUpNs = 100000000LL;

struct Result {
    long long frames;
    long long elapsedNs;
};

// Runs `step` (one reader step; true when it completed a frame) through a warm-up and then
// a window of `windowMs`, counting the frames completed in the window.
template <typename Step> Result Measure(Step step, int windowMs) {
    const long long giveUp = NowNs() + kFirstFrameWaitNs;
    while (!step()) {
        if (NowNs() > giveUp) {
            return {0, 0};
        }
    }
    const long long warmEnd = NowNs() + kWarmUpNs;
    while (NowNs() < warmEnd) {
        step();
    }
    const long long start = NowNs();
    const long long end = start + static_cast<long long>(windowMs) * 1000000LL;
    long long frames = 0;
    long long now = start;
    while (now < end) {
        frames += step() ? 1 : 0;
        now = NowNs();
    }
    return {frames, now - start};
}

void Report(int toParent, const Result& result) {
    if (write(toParent, &result, sizeof result) != static_cast<ssize_t>(sizeof result)) {
        _exit(1);
    }
}

int LibraryReader(int toParent, int windowMs) {
    LxTarvexMuxMsgServer* server = LxTarvexMuxMsgServer::GetInstance();
    if (!server->InitTarvexMuxMsgServer()) {
        return 1;
    }
    NotifyReady(toParent);
    Report(toParent, Measure(
                         [server] {
                             LxTarvexDetectedMacMsg* message = server->ReadFromClient();
                             delete message;
                             return message != nullptr;
                         },
                         windowMs));
    return 0;
}

int BareReader(int toParent, const std::string& path, int windowMs) {
    int keeper = -1;
    const int fd = OpenOwnFifoBare(path, &keeper);
    NotifyReady(toParent);
    unsigned char frame[zam::frame::MaxFrameSize];
    Report(toParent,
           Measure([&] { return ReadFrameBare(fd, frame, kServerPollMs, 2000) > 0; }, windowMs));
    return 0;
}

int Writer(int toParent) {
    LxTarvexMuxMsgClient* client = LxTarvexMuxMsgClient::GetInstance();
    if (!client->InitTarvexMuxIpc()) {
        return 1;
    }
    const std::unique_ptr<LxTarvexDetectedMacMsg> message(NewSampleMessage());
    NotifyReady(toParent);
    for (;;) {
        if (client->SendRequest(message.get()) != 0) {
            usleep(1000); // no reader (yet or any more): do not spin
        }
    }
}

// One measurement in a fresh FIFO directory: the reader, then the writers.
double FramesPerSecond(bool library, int writers, int windowMs) {
    TempFifoDir dir;
    const std::string path = dir.PathOf("TarMuxMsgServerIpc");
    Child reader = library ? StartChild([&](int fd) { return LibraryReader(fd, windowMs); })
                           : StartChild([&](int fd) { return BareReader(fd, path, windowMs); });
    WaitReady(reader, "reader");
    std::vector<Child> senders;
    for (int i = 0; i < writers; ++i) {
        senders.push_back(StartChild(Writer));
        WaitReady(senders.back(), "writer");
    }
    Result result{0, 0};
    const bool got = ReadFullBare(reader.fromChild, &result, sizeof result, windowMs + 10000);
    for (Child& sender : senders) {
        StopChild(sender);
    }
    StopChild(reader);
    if (!got || result.elapsedNs <= 0) {
        std::fprintf(stderr, "%s reader with %d writers gave no result\n",
                     library ? "library" : "bare", writers);
        return 0.0;
    }
    return static_cast<double>(result.frames) * 1e9 / static_cast<double>(result.elapsedNs);
}

struct Config {
    int writers;
    bool library;
    std::vector<double> rates; // frames per second, one per round
};

} // namespace

int main(int argc, char** argv) {
    int rounds = 9;
    int windowMs = 400;
    ParseBenchOptions(argc, argv,
                      {{"--rounds", &rounds, 100000, nullptr},
                       {"--window-ms", &windowMs, 100000, nullptr}},
                      "[--rounds N] [--window-ms N]");

    std::vector<Config> configs = {{1, true}, {1, false}, {4, true}, {4, false}};
    for (int round = 0; round < rounds; ++round) {
        // Alternate which reader goes first, so that slow drifts in load hit both alike.
        for (std::size_t i = 0; i < configs.size(); ++i) {
            Config& c = configs[(i + static_cast<std::size_t>(round)) % configs.size()];
            c.rates.push_back(FramesPerSecond(c.library, c.writers, windowMs));
        }
    }

    std::printf("Ingest of %zu-byte frames: %d rounds x %d ms per reader, alternating\n",
                SampleFrame().size(), rounds, windowMs);
    std::printf("writers: SendRequest per frame (serialise, open, one write, close); both "
                "readers get the same writers\n\n");
    std::printf("%-8s %-8s %12s %23s\n", "writers", "reader", "median fps", "min–max fps");
    for (const Config& c : configs) {
        std::printf("%-8d %-8s %12.0f %11.0f–%-11.0f\n", c.writers, c.library ? "library" : "bare",
                    Median(c.rates), Min(c.rates), Max(c.rates));
        SummaryRow(Format("ingest, %d writer%s, %s reader (frames/s)", c.writers,
                          c.writers > 1 ? "s" : "", c.library ? "library" : "bare"),
                   Format("%.0f", Median(c.rates)),
                   Format("%.0f–%.0f (%d rounds)", Min(c.rates), Max(c.rates), rounds), "");
    }
    std::printf("\nlibrary/bare (medians; per-round min–max), goal with 4 writers >= 0.50:\n");
    for (std::size_t i = 0; i + 1 < configs.size(); i += 2) {
        const Config& lib = configs[i];
        const Config& bare = configs[i + 1];
        std::vector<double> perRound;
        for (std::size_t r = 0; r < lib.rates.size(); ++r) {
            perRound.push_back(bare.rates[r] > 0 ? lib.rates[r] / bare.rates[r] : 0.0);
        }
        const double ratio = Median(lib.rates) / Median(bare.rates);
        std::printf("  %d writer%s: %.2f   (%.2f–%.2f)\n", lib.writers, lib.writers > 1 ? "s" : "",
                    ratio, Min(perRound), Max(perRound));
        SummaryRow(Format("ingest ratio library/bare, %d writer%s", lib.writers,
                          lib.writers > 1 ? "s" : ""),
                   Format("%.2f", ratio),
                   Format("%.2f–%.2f (per round)", Min(perRound), Max(perRound)),
                   lib.writers == 4 ? ">= 0.50" : "");
    }
    return 0;
}
