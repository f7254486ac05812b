// Ingest rate of the server: frames per second that a ReadFromClient loop takes in from 1 and
// from 4 writer processes, against a bare reader of the same stream. The writers are library
// clients sending the full-image report with SendRequest in a loop; a full FIFO makes them
// wait, so the reader sets the pace. Readers and writer counts take turns in rounds.
#include "BenchSupport.h"
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgClient.h"
#include "LxTarvexMuxMsgServer.h"
#include "TarvexFifos.h"
#include "TarvexFrame.h"
#include "TempFifoDir.h"

using namespace zam::bench;

namespace {

constexpr int kServerPollMs = 20;
constexpr int kRounds = 9;
constexpr int kWindowMs = 400;
constexpr long long kWarmUpNs = 200000000LL; // the writers start and fill the FIFO

int Writer() {
    const std::unique_ptr<LxTarvexMuxMsgClient> client(LxTarvexMuxMsgClient::GetInstance());
    const std::unique_ptr<LxTarvexDetectedMacMsg> message = SampleMessage();
    if (!client->InitTarvexMuxIpc()) {
        return 1;
    }
    for (;;) {
        if (client->SendRequest(message.get()) != 0) {
            usleep(1000); // no reader yet: do not spin
        }
    }
}

// Frames per second that `step` (one reader call, true when it completed a frame) takes in
// over `windowMs`, after a warm-up.
template <class Step> double Rate(Step step, int windowMs) {
    const long long start = NowNs() + kWarmUpNs;
    long long frames = 0;
    long long now = NowNs();
    for (; now < start + windowMs * 1000000LL; now = NowNs()) {
        frames += step() && now >= start ? 1 : 0;
    }
    return static_cast<double>(frames) * 1e9 / static_cast<double>(now - start);
}

// One measurement in a fresh FIFO directory: the writers first, then the reader here.
double MeasureOnce(bool library, int writers, int windowMs) {
    TempFifoDir dir;
    std::vector<std::unique_ptr<ChildProcess>> senders;
    for (int i = 0; i < writers; ++i) {
        senders.push_back(std::make_unique<ChildProcess>(Writer));
    }
    if (!library) {
        BareFifo fifo(dir.PathOf(zam::endpoint::kServerFifoName));
        unsigned char frame[zam::frame::MaxFrameSize];
        return Rate([&] { return fifo.ReadFrame(frame, false, kServerPollMs, 2000) > 0; },
                    windowMs);
    }
    const std::unique_ptr<LxTarvexMuxMsgServer> server(LxTarvexMuxMsgServer::GetInstance());
    if (!server->InitTarvexMuxMsgServer()) {
        std::exit(1);
    }
    using Message = std::unique_ptr<LxTarvexDetectedMacMsg>;
    return Rate([&] { return Message(server->ReadFromClient()) != nullptr; }, windowMs);
}

struct Config {
    int writers;
    bool library;
    std::vector<double> rates; // frames per second, one per round
};

} // namespace

int main() {
    std::vector<Config> configs = {{1, true}, {1, false}, {4, true}, {4, false}};
    for (int round = 0; round < kRounds; ++round) {
        for (std::size_t i = 0; i < configs.size(); ++i) { // each round starts with the next
            Config& c = configs[(i + static_cast<std::size_t>(round)) % configs.size()];
            c.rates.push_back(MeasureOnce(c.library, c.writers, kWindowMs));
        }
    }

    for (std::size_t i = 0; i < configs.size(); i += 2) {
        const Config& lib = configs[i];
        const Config& bare = configs[i + 1];
        Row(Format("ingest, %d writer(s): library / bare reader (frames/s)", lib.writers),
            Format("%.0f / %.0f", Median(lib.rates), Median(bare.rates)));
        Row(Format("ingest, %d writer(s): library/bare", lib.writers), Ratio(lib.rates, bare.rates),
            lib.writers > 1 ? "≥ 0.50" : "");
    }
    return 0;
}
