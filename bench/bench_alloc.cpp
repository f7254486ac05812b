// Heap allocations per operation of the frame codec and the endpoints, counted by a
// replacement operator new. Server and client live in one process here: the client sends,
// the server reads it step by step and replies, the client reads the reply.
#include "BenchSupport.h"
#include "CountingAllocator.h"
#include "LxIpcMsgBuffer.h"
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgClient.h"
#include "LxTarvexMuxMsgServer.h"
#include "TempFifoDir.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using namespace zam::bench;
using zam::testing::AllocationCount;
using zam::testing::AllocationsSoFar;

namespace {

constexpr int kIterations = 1000;
constexpr int kIdleReads = 5; // each waits the server's 20 ms

// Allocations counted over every call of one operation.
struct Tally {
    const char* name;
    const char* expected;
    long long calls;
    long long allocations;
    long long bytes;
};

// Runs `op` once and adds what it allocated to `tally`; returns what `op` returned.
template <typename Op> auto Count(Tally& tally, Op op) {
    const AllocationCount before = AllocationsSoFar();
    auto result = op();
    const AllocationCount after = AllocationsSoFar();
    ++tally.calls;
    tally.allocations += after.allocations - before.allocations;
    tally.bytes += after.bytes - before.bytes;
    return result;
}

} // namespace

int main() {
    TempFifoDir dir;
    LxTarvexMuxMsgServer* server = LxTarvexMuxMsgServer::GetInstance();
    LxTarvexMuxMsgClient* client = LxTarvexMuxMsgClient::GetInstance();
    if (!server->InitTarvexMuxMsgServer() || !client->InitTarvexMuxIpc()) {
        std::fprintf(stderr, "FIFOs did not open\n");
        return 1;
    }
    const std::unique_ptr<LxTarvexDetectedMacMsg> message(NewSampleMessage());
    const std::vector<unsigned char> frame = SampleFrame();

    Tally serialize{"Serialize", "2 (buffer, its storage)"};
    Tally deserialize{"DeSerialize", "2 (message, image)"};
    Tally sendRequest{"SendRequest", "2 (frame buffer)"};
    Tally idle{"ReadFromClient, nothing waiting", "0"};
    Tally partial{"ReadFromClient, frame not completed", "0"};
    Tally complete{"ReadFromClient, completing a frame", "2 (message, image)"};
    Tally sendToClient{"SendToClient", "2 (frame buffer)"};
    Tally readResponse{"ReadResponse", "2 (message, image)"};

    int failures = 0;
    for (int i = 0; i < kIdleReads; ++i) {
        LxTarvexDetectedMacMsg* none = Count(idle, [&] { return server->ReadFromClient(); });
        failures += none != nullptr ? 1 : 0;
    }
    for (int i = 0; i < kIterations; ++i) {
        delete Count(serialize, [&] { return message->Serialize(); });
        delete Count(deserialize, [&] {
            return LxTarvexDetectedMacMsg::DeSerialize(frame.data(),
                                                       static_cast<int>(frame.size()));
        });
        failures += Count(sendRequest, [&] { return client->SendRequest(message.get()); }) != 0;
        // Start marker, length, payload: three calls that complete nothing.
        for (int step = 0; step < 3; ++step) {
            LxTarvexDetectedMacMsg* none = Count(partial, [&] { return server->ReadFromClient(); });
            failures += none != nullptr ? 1 : 0;
            delete none;
        }
        const std::unique_ptr<LxTarvexDetectedMacMsg> request(
            Count(complete, [&] { return server->ReadFromClient(); }));
        if (request == nullptr) {
            ++failures;
            continue;
        }
        failures += Count(sendToClient, [&] { return server->SendToClient(request.get()); }) != 0;
        const std::unique_ptr<LxTarvexDetectedMacMsg> reply(
            Count(readResponse, [&] { return client->ReadResponse(); }));
        failures += reply == nullptr ? 1 : 0;
    }
    delete client;
    delete server;

    std::printf("Heap allocations per call (%d round trips; %d idle reads)\n\n", kIterations,
                kIdleReads);
    std::printf("%-38s %12s %10s   %s\n", "operation", "allocations", "bytes", "expected");
    for (const Tally* t : {&serialize, &deserialize, &sendRequest, &idle, &partial, &complete,
                           &sendToClient, &readResponse}) {
        const double perCall = t->calls > 0 ? static_cast<double>(t->allocations) / t->calls : 0;
        const double bytes = t->calls > 0 ? static_cast<double>(t->bytes) / t->calls : 0;
        std::printf("%-38s %12.2f %10.1f   %s\n", t->name, perCall, bytes, t->expected);
        SummaryRow(Format("allocations: %s", t->name), Format("%.2f", perCall),
                   Format("%.0f bytes", bytes), t->expected);
    }
    if (failures > 0) {
        std::printf("\n%d operations failed\n", failures);
    }
    return failures > 0 ? 1 : 0;
}
