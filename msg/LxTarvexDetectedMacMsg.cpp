// The detected-MAC report and its frame.
#include "LxTarvexDetectedMacMsg.h"

#include "LxIpcMsgBuffer.h"
#include "LxIpcMsgUtil.h"
#include "TarvexFrame.h"
#include "dlog.h"

#include <algorithm>
#include <cstring>
#include <memory>

using namespace zam::frame;

namespace {

constexpr int kLogSeverity = 3;
constexpr const char* kLogSource = "LxTarvexDetectedMacMsg";
constexpr const char* kNullFrameFormat = "%s: called with NULL pointer";
constexpr const char* kInvalidStringFormat = "%s Invalid string parameter in msg";

// Room for the string parameter's bytes as DeSerialize hands them to the IPC library, and
// for the longest text that so many bytes can carry, with its NUL.
constexpr int kParamRoom = MaxFrameSize;
constexpr int kTextCapacity = MaxFrameSize;

// The image text, 8 characters at a time: a group of 8 characters is handled as one 64-bit
// word with its first character in the top byte, and stands for one byte of the image.
constexpr int kGroups = ImageBits / 8;
constexpr unsigned long long kLowBits = 0x0101010101010101ULL;
constexpr unsigned long long kZeros = 0x3030303030303030ULL; // "00000000"

// The 8 characters of `byte`, its top bit first.
unsigned long long CharsOfByte(unsigned long long byte) {
    const unsigned long long picked = (byte * kLowBits) & 0x8040201008040201ULL;
    return (((picked + 0x7F7F7F7F7F7F7F7FULL) >> 7) & kLowBits) | kZeros;
}

// The byte that 8 '0'/'1' characters stand for.
unsigned long long ByteOfChars(unsigned long long chars) {
    return ((chars & kLowBits) * 0x0102040810204080ULL) >> 56;
}

// A group of characters as a word and back: explicit shifts, the same on every host, which
// the compiler turns into one load or store.
unsigned long long LoadGroup(const unsigned char* in) {
    return static_cast<unsigned long long>(in[0]) << 56 |
           static_cast<unsigned long long>(in[1]) << 48 |
           static_cast<unsigned long long>(in[2]) << 40 |
           static_cast<unsigned long long>(in[3]) << 32 |
           static_cast<unsigned long long>(in[4]) << 24 |
           static_cast<unsigned long long>(in[5]) << 16 |
           static_cast<unsigned long long>(in[6]) << 8 | in[7];
}

void StoreGroup(unsigned long long chars, char* out) {
    out[0] = static_cast<char>(chars >> 56);
    out[1] = static_cast<char>(chars >> 48);
    out[2] = static_cast<char>(chars >> 40);
    out[3] = static_cast<char>(chars >> 32);
    out[4] = static_cast<char>(chars >> 24);
    out[5] = static_cast<char>(chars >> 16);
    out[6] = static_cast<char>(chars >> 8);
    out[7] = static_cast<char>(chars);
}

// Character k of the text stands for bit 127 - k, as std::bitset<128>::to_string() has it.
void WriteImageText(const std::bitset<ImageBits>& image, char (&text)[ImageBits + 1]) {
    const std::bitset<ImageBits> lowMask(~0ULL);
    const unsigned long long words[] = {(image >> 64).to_ullong(), (image & lowMask).to_ullong()};
    for (int g = 0; g < kGroups; ++g) {
        StoreGroup(CharsOfByte(words[g / 8] >> (56 - 8 * (g % 8)) & 0xFF), text + 8 * g);
    }
    text[ImageBits] = '\0';
}

// Reads a 128-character image text into `image`. False when a character is not '0' or '1'
// (the NUL of a shorter text included); `image` is then not to be used.
bool ReadImageText(const unsigned char* text, std::bitset<ImageBits>& image) {
    unsigned long long words[2] = {0, 0};
    bool digits = true;
    for (int g = 0; g < kGroups; ++g) {
        const unsigned long long chars = LoadGroup(text + 8 * g);
        digits = digits && (chars & 0xFEFEFEFEFEFEFEFEULL) == kZeros;
        words[g / 8] = words[g / 8] << 8 | ByteOfChars(chars);
    }
    image = std::bitset<ImageBits>(words[0]) << 64 | std::bitset<ImageBits>(words[1]);
    return digits;
}

enum class ImageParam { Text, Invalid, CutShort };

// Extracts the image text's string parameter into `text`, whatever the IPC library's
// encoding. The library gets a zero-filled copy of fixed size holding the parameter's bytes
// within the frame, so it reads nothing outside that copy whatever the parameter's own
// length fields say, and `text` has room for any text such a copy can hold. A parameter the
// library reports as ending past the bytes held was cut short.
ImageParam ExtractImageText(const unsigned char* frame, int length,
                            unsigned char (&text)[kTextCapacity]) {
    unsigned char param[kParamRoom] = {};
    const int held = std::min(length, MaxFrameSize) - ImageOffset;
    std::memcpy(param, frame + ImageOffset, static_cast<size_t>(held));
    const unsigned char* cursor = param;
    unsigned char* out = text;
    if (LxIpcMsgUtil::ExtractStringParam(&cursor, &out, false) != 0) {
        return ImageParam::Invalid;
    }
    return cursor - param > held ? ImageParam::CutShort : ImageParam::Text;
}

} // namespace

LxTarvexDetectedMacMsg::LxTarvexDetectedMacMsg(unsigned short networkNumber,
                                               std::bitset<128>* activeMacImage)
    : m_networkNumber(networkNumber), m_activeMacImage(activeMacImage) {}

LxTarvexDetectedMacMsg::~LxTarvexDetectedMacMsg() {
    delete m_activeMacImage;
    m_activeMacImage = nullptr;
}

std::bitset<128>* LxTarvexDetectedMacMsg::GetActiveMacImage() const {
    return m_activeMacImage;
}

unsigned short LxTarvexDetectedMacMsg::GetNetworkNumber() const {
    return m_networkNumber;
}

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

    unsigned char text[kTextCapacity] = {};
    std::unique_ptr<std::bitset<128>> image;
    switch (ExtractImageText(frame, length, text)) {
    case ImageParam::CutShort:
        return nullptr;
    case ImageParam::Invalid:
        __dlog_printf(kLogSeverity, kLogSource, kInvalidStringFormat, "DeSerialize");
        break;
    case ImageParam::Text:
        if (text[0] != '\0') {
            image.reset(new std::bitset<128>);
            if (!ReadImageText(text, *image)) {
                // The standard conversion raises std::invalid_argument for the character
                // that is not '0' or '1'; unwinding frees both bitsets.
                image.reset(new std::bitset<128>(reinterpret_cast<const char*>(text), ImageBits));
            }
        }
        break;
    }
    auto* message = new LxTarvexDetectedMacMsg(networkNumber, image.get());
    image.release(); // now owned by the message
    return message;
}
