// Fuzz target: DeSerialize on arbitrary frame bytes and length arguments, against a model of
// what it must do with our stand-in's encoding, written from the frame's description: null
// for a frame too short for its fields or another message type; a message whose network is
// the low 16 bits; an invalid string parameter logged and dropped; a parameter that ends past
// the bytes held refused; a non-empty text whose first 128 characters are not all '0'/'1'
// raising std::invalid_argument. Every message must come back from its own frame unchanged.
//
// Input: one byte d, then the frame. The frame sits in a heap block of exactly its size and
// DeSerialize is given the length size - d (negative too); the bytes past that length are
// poisoned under ASan, since DeSerialize promises to read none of them. An empty input checks
// the null frame.
#include "FuzzCheck.h"
#include "FuzzOutcome.h"
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

// The model: DeSerialize reads the string parameter from the bytes held after offset 17
// (at most a 192-byte frame's), with zeros after them. `logged`: "Invalid string parameter".
Outcome Expected(const unsigned char* frame, int length, bool& logged) {
    Outcome out;
    logged = false;
    if (length < ImageOffset ||
        LxIpcMsgUtil::ExtractInteger(frame + TypeOffset) != DetectedMacMsgType) {
        return out;
    }
    std::string param(static_cast<size_t>(std::min(length, MaxFrameSize) - ImageOffset), '\0');
    std::memcpy(param.data(), frame + ImageOffset, param.size());
    param.resize(MaxFrameSize, '\0');
    const long n =
        LxIpcMsgUtil::ExtractInteger(reinterpret_cast<const unsigned char*>(param.data()));
    const std::string text =
        n >= 0 && n + 5 <= MaxFrameSize ? param.substr(4, static_cast<size_t>(n)) : "";
    out.kind = Outcome::Report;
    if (n < 0 || n + 5 > MaxFrameSize || text.find('\0') != std::string::npos ||
        param[4 + n] != '\0') {
        logged = true;
    } else if (n + 5 > std::min(length, MaxFrameSize) - ImageOffset) {
        out.kind = Outcome::Null; // the text's NUL lies past the bytes held
    } else if (!text.empty() && (text.size() < 128 || text.find_first_not_of("01") < 128)) {
        out.kind = Outcome::Raises;
    } else {
        out.text = text.substr(0, std::min<size_t>(text.size(), 128));
    }
    if (out.kind == Outcome::Report) {
        out.network = LxIpcMsgUtil::ExtractInteger(frame + NetworkOffset) & 0xFFFF;
    }
    return out;
}

Outcome Actual(const unsigned char* frame, int length, Message& message, bool& logged) {
    ClearLogs();
    const Outcome out =
        OutcomeOf([&] { return LxTarvexDetectedMacMsg::DeSerialize(frame, length); }, message);
    const std::vector<std::string> logs = LogTexts("LxTarvexDetectedMacMsg");
    ZAM_FUZZ_CHECK(logs.size() == LogTexts().size() && logs.size() <= 1);
    logged = !logs.empty();
    ZAM_FUZZ_CHECK(!logged || logs[0] == "DeSerialize Invalid string parameter in msg");
    return out;
}

// The message comes back from its own frame, in a bitset of its own, and the frame is a
// fixed point of Serialize.
void CheckRoundTrip(const LxTarvexDetectedMacMsg& message) {
    const std::unique_ptr<LxIpcMsgBuffer> frame(message.Serialize());
    ZAM_FUZZ_CHECK(frame->GetLength() <= MaxFrameSize);
    ZAM_FUZZ_CHECK(LxIpcMsgUtil::ExtractInteger(frame->GetBuf() + LengthOffset) ==
                   frame->GetLength() - Overhead);
    Message back;
    bool logged = false;
    const Outcome again = Actual(frame->GetBuf(), frame->GetLength(), back, logged);
    const std::bitset<128>* image = message.GetActiveMacImage();
    ZAM_FUZZ_CHECK(again.kind == Outcome::Report && again.network == message.GetNetworkNumber());
    ZAM_FUZZ_CHECK(again.text == (image != nullptr ? image->to_string() : "") && !logged);
    ZAM_FUZZ_CHECK(image == nullptr || back->GetActiveMacImage() != image);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) { // the null frame: null and one log line
        ClearLogs();
        ZAM_FUZZ_CHECK(LxTarvexDetectedMacMsg::DeSerialize(nullptr, 100) == nullptr);
        ZAM_FUZZ_CHECK(LogTexts() ==
                       std::vector<std::string>{"DeSerialize: called with NULL pointer"});
        return 0;
    }
    if (size > 4096) {
        return 0;
    }
    const int held = static_cast<int>(size - 1);
    const int length = held - data[0];
    const std::unique_ptr<unsigned char[]> frame(new unsigned char[size - 1]);
    std::copy(data + 1, data + size, frame.get());
    const int readable = std::max(length, 0);
    bool expectLogged = false;
    const Outcome expected =
        Expected(frame.get(), readable, expectLogged); // the model may read what it is given
    ZAM_FUZZ_POISON(frame.get() + readable, static_cast<size_t>(held - readable));
    Message message;
    bool logged = false;
    const Outcome actual = Actual(frame.get(), length, message, logged);
    ZAM_FUZZ_UNPOISON(frame.get() + readable, static_cast<size_t>(held - readable));
    ZAM_FUZZ_CHECK(actual == expected && logged == expectLogged);
    if (message != nullptr) {
        CheckRoundTrip(*message);
    }
    ClearLogs(); // the capture keeps every line: keep memory flat over millions of runs
    return 0;
}
