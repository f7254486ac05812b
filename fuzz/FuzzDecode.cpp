// Fuzz target: --decode's verdicts on arbitrary bytes, each checked against the bytes it
// names. The verdicts cover the input in order. Bytes that the server reader takes as one
// frame (a start marker, a length within 1..180, the end marker where that length puts it) get
// one verdict; after any other bytes the next start marker is looked for byte by byte, so no
// frame is missed. A frame called ok is one that DeSerialize takes without logging, giving the
// network and image the verdict shows; a failure is real: the field at `at` fails that check.
#include "FrameDecoder.h"
#include "FuzzCheck.h"
#include "LogCapture.h"
#include "LxIpcMsgUtil.h"
#include "LxTarvexDetectedMacMsg.h"
#include "TarvexFrame.h"

#include <bitset>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

using namespace zam::frame;
using zam::tools::FrameCheck;
using zam::tools::FrameVerdict;

namespace {

using Bytes = std::vector<unsigned char>;

// The word at `at`; 0, which is no marker, where the input ends first.
long long Word(const Bytes& bytes, long long at) {
    const bool inside = at >= 0 && at + WordSize <= static_cast<long long>(bytes.size());
    return inside ? LxIpcMsgUtil::ExtractInteger(bytes.data() + at) : 0;
}

void CheckVerdict(const Bytes& bytes, const FrameVerdict& verdict) {
    const auto size = static_cast<long long>(bytes.size());
    const auto offset = static_cast<long long>(verdict.offset);
    const auto next = offset + static_cast<long long>(verdict.extent);
    const auto at = static_cast<long long>(verdict.at);
    const bool started = Word(bytes, offset) == StartMarker;
    const long long length = Word(bytes, offset + LengthOffset);
    const long long frameEnd = offset + Overhead + length;
    const long long endMarker = frameEnd - WordSize;
    const bool lengthOk = length >= 1 && length <= MaxPayloadLength;
    const bool whole = started && lengthOk && frameEnd <= size;
    const bool framed = whole && Word(bytes, endMarker) == EndMarker;
    ZAM_FUZZ_CHECK(started == (verdict.check != FrameCheck::StartMarker));
    if (framed) {
        ZAM_FUZZ_CHECK(next == frameEnd);
    }
    for (long long p = offset + (started ? HeaderSize : 1); !framed && p < next; ++p) {
        ZAM_FUZZ_CHECK(Word(bytes, p) != StartMarker);
    }
    if (verdict.check == FrameCheck::StartMarker) {
        ZAM_FUZZ_CHECK(at == offset);
        return;
    }
    if (verdict.check == FrameCheck::Length) {
        ZAM_FUZZ_CHECK(at == offset + LengthOffset && !lengthOk);
        return;
    }
    if (verdict.check == FrameCheck::EndMarker) {
        ZAM_FUZZ_CHECK(at == endMarker && whole && !framed);
        return;
    }
    if (verdict.check == FrameCheck::CutShort) { // the input, frame or payload ends too soon
        const long long textLength = static_cast<std::uint32_t>(Word(bytes, offset + ImageOffset));
        const long long paramEnd = offset + ImageOffset + WordSize + textLength + 1;
        ZAM_FUZZ_CHECK((at == offset + LengthOffset && size < offset + HeaderSize) ||
                       (at == size && size < frameEnd) ||
                       (framed && at == offset + TypeOffset && frameEnd < offset + ImageOffset) ||
                       (framed && at == offset + ImageOffset && paramEnd > endMarker));
        return;
    }
    ZAM_FUZZ_CHECK(framed); // the other checks are made on frames only
    if (verdict.check == FrameCheck::Type) {
        ZAM_FUZZ_CHECK(at == offset + TypeOffset && Word(bytes, at) != DetectedMacMsgType);
        return;
    }
    // The rest is DeSerialize's verdict: it raises for a bad image text, and logs an invalid
    // string parameter and drops the image.
    std::unique_ptr<LxTarvexDetectedMacMsg> message;
    ClearLogs();
    try {
        message.reset(LxTarvexDetectedMacMsg::DeSerialize(bytes.data() + offset,
                                                          static_cast<int>(frameEnd - offset)));
    } catch (const std::invalid_argument&) {
        ZAM_FUZZ_CHECK(verdict.check == FrameCheck::ImageText && at == offset + ImageOffset);
        return;
    }
    ZAM_FUZZ_CHECK(message != nullptr);
    const std::bitset<128>* image = message->GetActiveMacImage();
    if (verdict.check == FrameCheck::StringParam) {
        ZAM_FUZZ_CHECK(at == offset + ImageOffset && image == nullptr && !LogTexts().empty());
        return;
    }
    ZAM_FUZZ_CHECK(verdict.check == FrameCheck::Ok && LogTexts().empty());
    ZAM_FUZZ_CHECK(verdict.network == message->GetNetworkNumber());
    ZAM_FUZZ_CHECK((image == nullptr) == (verdict.image == nullptr));
    ZAM_FUZZ_CHECK(image == nullptr || *image == *verdict.image);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Bytes bytes(data, data + size);
    std::size_t next = 0; // where the next verdict begins
    for (const FrameVerdict& verdict : zam::tools::DecodeFrames(bytes)) {
        ZAM_FUZZ_CHECK(verdict.offset == next && verdict.extent > 0);
        CheckVerdict(bytes, verdict);
        next += verdict.extent;
    }
    ZAM_FUZZ_CHECK(next == size);
    ClearLogs(); // the capture keeps every line: keep memory flat over millions of runs
    return 0;
}
