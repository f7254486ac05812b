// Fuzz target: the client's ReadResponse given three fuzzed read results through the
// scripted session. Every read stays inside one frame's room (192 bytes from where the first
// read stores), no read follows a failed one, and a message comes back only after three
// good reads, fits in one frame and survives a round trip.
//
// Input, for each of the three reads: a status byte (below 0xF0: status 0, 0xF0..0xF7:
// 2, nothing arrived; above: a read failure), a count n and n bytes (the read stores at most
// what was asked for). When the input runs out, the remaining reads find nothing.
#include "FuzzCheck.h"
#include "LogCapture.h"
#include "LxIpcMsgBuffer.h"
#include "LxIpcSession.h"
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgClient.h"
#include "ScriptedSession.h"
#include "TarvexFrame.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <stdexcept>

using namespace zam::frame;

namespace {

using Message = std::unique_ptr<LxTarvexDetectedMacMsg>;

constexpr int kReads = 3;

void CheckRoundTrip(const LxTarvexDetectedMacMsg& message) {
    const std::unique_ptr<LxIpcMsgBuffer> frame(message.Serialize());
    ZAM_FUZZ_CHECK(frame->GetLength() <= MaxFrameSize);
    const Message back(LxTarvexDetectedMacMsg::DeSerialize(frame->GetBuf(), frame->GetLength()));
    ZAM_FUZZ_CHECK(back != nullptr && back->GetNetworkNumber() == message.GetNetworkNumber());
    const std::bitset<128>* image = message.GetActiveMacImage();
    const std::bitset<128>* backImage = back->GetActiveMacImage();
    ZAM_FUZZ_CHECK((image == nullptr) == (backImage == nullptr));
    ZAM_FUZZ_CHECK(image == nullptr || *image == *backImage);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ResetScript();
    ClearLogs();
    const uint8_t* in = data;
    const uint8_t* const end = data + size;
    int firstFailure = kReads; // index of the first read that does not return 0
    for (int i = 0; i < kReads && end - in >= 2; ++i) {
        const uint8_t kind = in[0];
        const auto n = std::min<size_t>(in[1], static_cast<size_t>(end - in - 2));
        in += 2;
        ScriptedRead read;
        read.status = kind < 0xF0 ? 0 : kind < 0xF8 ? 2 : IpcStatusReadFailed;
        read.bytes.assign(in, in + n);
        in += n;
        Script().reads.push_back(read);
        if (read.status != 0) {
            firstFailure = std::min(firstFailure, i);
        }
    }
    firstFailure = std::min(firstFailure, static_cast<int>(Script().reads.size()));

    const std::unique_ptr<LxTarvexMuxMsgClient> client(LxTarvexMuxMsgClient::GetInstance());
    ZAM_FUZZ_CHECK(client->InitTarvexMuxIpc());
    Message message;
    try {
        message.reset(client->ReadResponse());
    } catch (const std::invalid_argument&) {
    }

    const std::vector<SessionCall> reads = CallsOf("ReadData");
    ZAM_FUZZ_CHECK(!reads.empty() && reads.size() <= static_cast<size_t>(firstFailure) + 1);
    const unsigned char* const frameStart = reads[0].where;
    for (const SessionCall& read : reads) {
        ZAM_FUZZ_CHECK(read.arg >= 0 && read.where >= frameStart &&
                       read.where + read.arg <= frameStart + MaxFrameSize);
    }
    if (message != nullptr) {
        ZAM_FUZZ_CHECK(firstFailure == kReads && reads.size() == kReads);
        CheckRoundTrip(*message);
    }
    ClearLogs();
    return 0;
}
