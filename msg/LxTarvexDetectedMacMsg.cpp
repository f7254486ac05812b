// The detected-MAC report and its frame.
#include "LxTarvexDetectedMacMsg.h"

#include "LxIpcMsgBuffer.h"
#include "LxIpcMsgUtil.h"
#include "TarvexFrame.h"
#include "dlog.h"

#include <memory>

using namespace zam::frame;

namespace {

constexpr int kLogSeverity = 3;
constexpr const char* kLogSource = "LxTarvexDetectedMacMsg";
constexpr const char* kNullFrameFormat = "%s: called with NULL pointer";
constexpr const char* kInvalidStringFormat = "%s Invalid string parameter in msg";

// Room for the longest image text a frame of MaxFrameSize bytes can carry, and its NUL.
constexpr int kTextCapacity = MaxFrameSize;

// Character k of the text stands for bit 127 - k, as std::bitset<128>::to_string() has it.
// Taken a 64-bit word at a time: far cheaper than 128 checked bit tests.
void WriteImageText(const std::bitset<ImageBits>& image, char (&text)[ImageBits + 1]) {
    constexpr int kWordBits = 64;
    const std::bitset<ImageBits> lowMask(~0ULL);
    const unsigned long long words[] = {(image >> kWordBits).to_ullong(),
                                        (image & lowMask).to_ullong()};
    char* out = text;
    for (const unsigned long long word : words) {
        for (int bit = kWordBits - 1; bit >= 0; --bit) {
            *out++ = (word >> bit & 1U) != 0 ? '1' : '0';
        }
    }
    *out = '\0';
}

} // namespace

LxTarvexDetectedMacMsg::LxTarvexDetectedMacMsg(unsigned short networkNumber,
                                               std::bitset<128>* activeMacImage)
    : m_networkNumber(networkNumber), m_activeMacImage(activeMacImage) {}

LxTarvexDetectedMacMsg::~LxTarvexDetectedMacMsg() {
    delete m_activeMacImage;
    m_activeMacImage = nullptr;
}

std::bitset<128>* LxTarvexDetectedMacMsg::GetActiveMacImage() const { return m_activeMacImage; }

unsigned short LxTarvexDetectedMacMsg::GetNetworkNumber() const { return m_networkNumber; }

LxIpcMsgBuffer* LxTarvexDetectedMacMsg::Serialize() const {
    auto* buffer = new LxIpcMsgBuffer(MaxFrameSize);
    LxIpcMsgUtil::PutInteger(buffer, StartMarker);
    LxIpcMsgUtil::PutInteger(buffer, 0); // payload length, filled in below
    buffer->sputc(LeadByte);
    LxIpcMsgUtil::PutInteger(buffer, DetectedMacMsgType);
    LxIpcMsgUtil::PutInteger(buffer, m_networkNumber);
    char text[ImageBits + 1] = "";
    if (m_activeMacImage != nullptr) {
        WriteImageText(*m_activeMacImage, text);
    }
    LxIpcMsgUtil::PutStringParam(buffer, text);
    LxIpcMsgUtil::PutIntegerAt(buffer, LengthOffset, buffer->GetLength() - HeaderSize);
    LxIpcMsgUtil::PutInteger(buffer, EndMarker);
    return buffer;
}

LxTarvexDetectedMacMsg* LxTarvexDetectedMacMsg::DeSerialize(const unsigned char* frame,
                                                            int length) {
    if (frame == nullptr) {
        __dlog_printf(kLogSeverity, kLogSource, kNullFrameFormat, "DeSerialize");
        return nullptr;
    }
    // Markers and the length field are the endpoints' concern; `length` only bounds what
    // is read here, so that no field is taken from beyond the bytes really held.
    if (length < ImageOffset ||
        LxIpcMsgUtil::ExtractInteger(frame + TypeOffset) != DetectedMacMsgType) {
        return nullptr;
    }
    const auto networkNumber =
        static_cast<unsigned short>(LxIpcMsgUtil::ExtractInteger(frame + NetworkOffset) & 0xFFFF);

    // A text that would run past the bytes held or past the text buffer is refused. A
    // negative length field runs past nothing: it is an invalid string parameter, which
    // ExtractStringParam reports below without reading the text.
    const unsigned char* param = frame + ImageOffset;
    const int available = length - ImageOffset;
    const bool negativeLength =
        available >= WordSize && LxIpcMsgUtil::ExtractInteger(param) < 0;
    int textLength = 0;
    if (!negativeLength && (LxIpcMsgUtil::MeasureStringParam(param, available, &textLength) < 0 ||
                            textLength >= kTextCapacity)) {
        return nullptr;
    }
    unsigned char text[kTextCapacity] = {};
    unsigned char* textOut = text;
    const unsigned char* cursor = frame + ImageOffset;
    std::unique_ptr<std::bitset<128>> image;
    if (LxIpcMsgUtil::ExtractStringParam(&cursor, &textOut, false) != 0) {
        __dlog_printf(kLogSeverity, kLogSource, kInvalidStringFormat, "DeSerialize");
    } else if (text[0] != '\0') {
        // The standard conversion raises std::invalid_argument for any character other
        // than '0' and '1' among the first 128, the NUL of a shorter text included.
        image.reset(new std::bitset<128>(reinterpret_cast<const char*>(text), ImageBits));
    }
    auto* message = new LxTarvexDetectedMacMsg(networkNumber, image.get());
    image.release(); // now owned by the message
    return message;
}
