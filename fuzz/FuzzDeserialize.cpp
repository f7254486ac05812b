// Fuzz target: DeSerialize on arbitrary frame bytes and length arguments; every message it
// returns must survive a round trip through Serialize unchanged.
//
// Input: one byte d, then the frame. The frame is copied into a heap buffer of exactly its
// size and DeSerialize is given the length size - d (negative too); the bytes past that
// length are poisoned under ASan, since DeSerialize promises to read none of them.
#include "FuzzCheck.h"
#include "LogCapture.h"
#include "LxIpcMsgBuffer.h"
#include "LxIpcMsgUtil.h"
#include "LxTarvexDetectedMacMsg.h"
#include "TarvexFrame.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

using namespace zam::frame;

namespace {

using Message = std::unique_ptr<LxTarvexDetectedMacMsg>;
using Buffer = std::unique_ptr<LxIpcMsgBuffer>;

// The message must come back from its own frame equal, in a bitset of its own.
void CheckRoundTrip(const LxTarvexDetectedMacMsg& message) {
    const Buffer frame(message.Serialize());
    ZAM_FUZZ_CHECK(frame->GetLength() <= MaxFrameSize);
    ZAM_FUZZ_CHECK(LxIpcMsgUtil::ExtractInteger(frame->GetBuf() + LengthOffset) ==
                   frame->GetLength() - Overhead);
    const Message back(LxTarvexDetectedMacMsg::DeSerialize(frame->GetBuf(), frame->GetLength()));
    ZAM_FUZZ_CHECK(back != nullptr);
    ZAM_FUZZ_CHECK(back->GetNetworkNumber() == message.GetNetworkNumber());
    const std::bitset<128>* image = message.GetActiveMacImage();
    const std::bitset<128>* backImage = back->GetActiveMacImage();
    ZAM_FUZZ_CHECK((image == nullptr) == (backImage == nullptr));
    if (image != nullptr) {
        ZAM_FUZZ_CHECK(*image == *backImage && image != backImage);
    }
    // Serialisation is a fixed point: the second frame has the first one's bytes.
    const Buffer again(back->Serialize());
    ZAM_FUZZ_CHECK(again->GetLength() == frame->GetLength() &&
                   std::memcmp(again->GetBuf(), frame->GetBuf(),
                               static_cast<size_t>(frame->GetLength())) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 4096) {
        return 0;
    }
    const int held = static_cast<int>(size - 1);
    const int length = held - data[0];
    const std::unique_ptr<unsigned char[]> frame(new unsigned char[size - 1]);
    std::copy(data + 1, data + size, frame.get());
    const int readable = std::max(length, 0);
    ZAM_FUZZ_POISON(frame.get() + readable, static_cast<size_t>(held - readable));

    Message message;
    try {
        message.reset(LxTarvexDetectedMacMsg::DeSerialize(frame.get(), length));
    } catch (const std::invalid_argument&) {
        // A malformed image text: the one exception DeSerialize lets out.
    }
    if (message != nullptr) {
        ZAM_FUZZ_CHECK(length >= ImageOffset);
        ZAM_FUZZ_CHECK(message->GetNetworkNumber() ==
                       (LxIpcMsgUtil::ExtractInteger(frame.get() + NetworkOffset) & 0xFFFF));
        if (const std::bitset<128>* image = message->GetActiveMacImage()) {
            // Character k of the text is bit 127 - k.
            const std::string text = image->to_string();
            ZAM_FUZZ_CHECK(std::memcmp(frame.get() + ImageOffset + LxIpcMsgUtil::IntegerSize,
                                       text.data(), text.size()) == 0);
        }
        CheckRoundTrip(*message);
    }
    ZAM_FUZZ_UNPOISON(frame.get() + readable, static_cast<size_t>(held - readable));
    ClearLogs(); // the capture keeps every line: keep memory flat over millions of runs
    return 0;
}
