// Fuzz target: the client's ReadResponse given three fuzzed read results through the scripted
// session. Every read stays inside one frame's room (192 bytes from where the first read
// stores), no read follows a failed one, and a message comes back only after three good reads,
// fits in one frame and comes back equal from its own frame.
//
// Input, for each of the three reads: a status byte (below 0xF0: status 0, 0xF0..0xF7: 2,
// nothing arrived; above: a read failure), a count n and n bytes (the read stores at most what
// was asked for). When the input runs out, the remaining reads find nothing.
#include "FuzzCheck.h"
#include "LogCapture.h"
#include "LxIpcMsgBuffer.h"
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
constexpr size_t kReads = 3;

void CheckRoundTrip(const LxTarvexDetectedMacMsg& message) {
    const std::unique_ptr<LxIpcMsgBuffer> frame(message.Serialize());
    ZAM_FUZZ_CHECK(frame->GetLength() <= MaxFrameSize);
    const Message back(LxTarvexDetectedMacMsg::DeSerialize(frame->GetBuf(), frame->GetLength()));
    ZAM_FUZZ_CHECK(back != nullptr && back->GetNetworkNumber() == message.GetNetworkNumber());
    const std::bitset<128>* image = message.GetActiveMacImage();
    const std::bitset<128>* backImage = back->GetActiveMacImage();
    ZAM_FUZZ_CHECK(image == nullptr ? backImage == nullptr : backImage != nullptr && *image == *backImage);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ResetScript();
    ClearLogs();
    size_t good = 0; // reads that succeed before the first that does not
    for (const uint8_t *in = data, *end = data + size; Script().reads.size() < kReads && end - in >= 2;) {
        const auto n = std::min<size_t>(in[1], static_cast<size_t>(end - in - 2));
        const int status = in[0] < 0xF0 ? 0 : in[0] < 0xF8 ? 2 : 17;
        Script().reads.push_back({status, Bytes(in + 2, in + 2 + n), -1});
        good += status == 0 && good == Script().reads.size() - 1 ? 1 : 0;
        in += 2 + n;
    }

    const std::unique_ptr<LxTarvexMuxMsgClient> client(LxTarvexMuxMsgClient::GetInstance());
    ZAM_FUZZ_CHECK(client->InitTarvexMuxIpc());
    ClearCalls();
    Message message;
    try {
        message.reset(client->ReadResponse());
    } catch (const std::invalid_argument&) {
    }
    const std::vector<SessionCall>& reads = Script().calls;
    ZAM_FUZZ_CHECK(!reads.empty() && reads.size() <= good + 1);
    for (const SessionCall& read : reads) {
        ZAM_FUZZ_CHECK(read.number >= 0 && read.at >= 0 && read.at + read.number <= MaxFrameSize);
    }
    if (message != nullptr) {
        ZAM_FUZZ_CHECK(good == kReads && reads.size() == kReads);
        CheckRoundTrip(*message);
    }
    ClearLogs();
    return 0;
}
