// --decode: the server reader's checks on markers and length, then DeSerialize's verdict.
#include "FrameDecoder.h"

#include "FrameText.h"
#include "JsonLine.h"
#include "LxIpcMsgBuffer.h"
#include "LxIpcMsgUtil.h"
#include "LxTarvexDetectedMacMsg.h"
#include "TarvexFrame.h"
#include "ToolSupport.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>

namespace zam::tools {
namespace {

using namespace zam::frame;
using Bytes = std::vector<unsigned char>;

constexpr int kMinPayloadLength = 1;

int WordAt(const Bytes& bytes, std::size_t offset) {
    return LxIpcMsgUtil::ExtractInteger(bytes.data() + offset);
}

std::string Hex(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
    return text;
}

std::string At(std::size_t offset) {
    return "at offset " + std::to_string(offset);
}

// The first start marker at or after `from`; the end of `bytes` when there is none.
std::size_t FindStartMarker(const Bytes& bytes, std::size_t from) {
    for (std::size_t p = from; p + WordSize <= bytes.size(); ++p) {
        if (WordAt(bytes, p) == StartMarker) {
            return p;
        }
    }
    return bytes.size();
}

FrameVerdict Failure(FrameCheck check, std::size_t offset, std::size_t at, std::string detail) {
    FrameVerdict verdict;
    verdict.check = check;
    verdict.offset = offset;
    verdict.at = at;
    verdict.detail = std::move(detail);
    return verdict;
}

// The bytes at `offset` up to the next start marker.
FrameVerdict SkipToStartMarker(const Bytes& bytes, std::size_t offset) {
    const std::size_t next = FindStartMarker(bytes, offset + 1);
    const std::size_t skipped = next - offset;
    const std::string found = bytes.size() - offset >= WordSize
                                  ? " (" + Hex(WordAt(bytes, offset)) + ")"
                                  : std::string(", too few bytes for one");
    FrameVerdict verdict =
        Failure(FrameCheck::StartMarker, offset, offset,
                "no start marker " + At(offset) + found + "; " + std::to_string(skipped) +
                    (skipped == 1 ? " byte" : " bytes") + " skipped");
    verdict.extent = skipped;
    return verdict;
}

// The image text's string parameter as Serialize writes it for a message without image.
const Bytes& EmptyTextParam() {
    static const Bytes param = [] {
        const LxTarvexDetectedMacMsg empty(0, nullptr);
        const std::unique_ptr<LxIpcMsgBuffer> frame(empty.Serialize());
        const unsigned char* bytes = frame->GetBuf();
        return Bytes(bytes + ImageOffset, bytes + frame->GetLength() - WordSize);
    }();
    return param;
}

// Whether the payload has room for the empty text's string parameter before the end marker.
bool RoomForEmptyText(int frameLength) {
    return frameLength - WordSize - ImageOffset >= static_cast<int>(EmptyTextParam().size());
}

// DeSerialize leaves out the image both for the empty text and for an invalid string
// parameter (which it logs); only the first is the empty text's own bytes.
bool HoldsEmptyText(const Bytes& bytes, std::size_t offset) {
    const Bytes& empty = EmptyTextParam();
    const auto param = static_cast<std::ptrdiff_t>(offset + ImageOffset);
    return std::equal(empty.begin(), empty.end(), bytes.begin() + param);
}

FrameVerdict Passed(const Bytes& bytes, std::size_t offset, int frameLength,
                    const LxTarvexDetectedMacMsg& message) {
    FrameVerdict verdict;
    verdict.offset = offset;
    verdict.at = offset;
    verdict.extent = static_cast<std::size_t>(frameLength);
    verdict.startMarker = WordAt(bytes, offset);
    verdict.length = WordAt(bytes, offset + LengthOffset);
    verdict.leadByte = bytes[offset + HeaderSize];
    verdict.type = WordAt(bytes, offset + TypeOffset);
    verdict.network = message.GetNetworkNumber();
    if (message.GetActiveMacImage() != nullptr) {
        verdict.image = std::make_unique<std::bitset<128>>(*message.GetActiveMacImage());
    }
    verdict.endMarker = WordAt(bytes, offset + static_cast<std::size_t>(frameLength - WordSize));
    return verdict;
}

// A frame whose markers and length passed: DeSerialize's verdict, told apart by what it
// returns and by the frame's own bytes.
FrameVerdict Judge(const Bytes& bytes, std::size_t offset, int frameLength) {
    const std::size_t text = offset + ImageOffset;
    std::unique_ptr<LxTarvexDetectedMacMsg> message;
    try {
        message.reset(LxTarvexDetectedMacMsg::DeSerialize(bytes.data() + offset, frameLength));
    } catch (const std::invalid_argument&) {
        return Failure(FrameCheck::ImageText, offset, text,
                       "image text " + At(text) + " is not 128 '0'/'1' characters");
    }
    if (message == nullptr && frameLength < ImageOffset) {
        return Failure(FrameCheck::CutShort, offset, offset + TypeOffset,
                       "a frame of " + std::to_string(frameLength) +
                           " bytes has no room for its type and network");
    }
    const int type = WordAt(bytes, offset + TypeOffset);
    if (message == nullptr && type != DetectedMacMsgType) {
        return Failure(FrameCheck::Type, offset, offset + TypeOffset,
                       "message type " + At(offset + TypeOffset) + " is " + std::to_string(type) +
                           ", not " + std::to_string(DetectedMacMsgType));
    }
    const std::size_t end = offset + static_cast<std::size_t>(frameLength - WordSize);
    const bool withoutImage = message != nullptr && message->GetActiveMacImage() == nullptr;
    if (message == nullptr || (withoutImage && !RoomForEmptyText(frameLength))) {
        return Failure(FrameCheck::CutShort, offset, text,
                       "the string parameter " + At(text) + " runs past the payload's end " +
                           At(end));
    }
    if (withoutImage && !HoldsEmptyText(bytes, offset)) {
        return Failure(FrameCheck::StringParam, offset, text,
                       "invalid string parameter " + At(text) + " (the image is dropped)");
    }
    return Passed(bytes, offset, frameLength, *message);
}

// The frame at `offset`, which begins with a start marker; sets `next` to where the next
// frame is looked for.
FrameVerdict CheckFrame(const Bytes& bytes, std::size_t offset, std::size_t& next) {
    const std::size_t size = bytes.size();
    // After a failure the bytes up to the next start marker go with the failed frame.
    next = FindStartMarker(bytes, offset + HeaderSize);
    if (size - offset < static_cast<std::size_t>(HeaderSize)) {
        return Failure(FrameCheck::CutShort, offset, offset + LengthOffset,
                       "the input ends " + At(size) + ", within the length field");
    }
    const int length = WordAt(bytes, offset + LengthOffset);
    if (length < kMinPayloadLength || length > MaxPayloadLength) {
        return Failure(FrameCheck::Length, offset, offset + LengthOffset,
                       "length field " + std::to_string(length) + " " + At(offset + LengthOffset) +
                           " is outside " + std::to_string(kMinPayloadLength) + ".." +
                           std::to_string(MaxPayloadLength));
    }
    const int frameLength = length + Overhead;
    if (size - offset < static_cast<std::size_t>(frameLength)) {
        return Failure(FrameCheck::CutShort, offset, size,
                       "the input ends " + At(size) + ", within a frame of " +
                           std::to_string(frameLength) + " bytes");
    }
    const std::size_t end = offset + static_cast<std::size_t>(HeaderSize + length);
    if (WordAt(bytes, end) != EndMarker) {
        return Failure(FrameCheck::EndMarker, offset, end,
                       "end marker " + At(end) + " is " + Hex(WordAt(bytes, end)) + ", not " +
                           Hex(EndMarker));
    }
    next = offset + static_cast<std::size_t>(frameLength);
    return Judge(bytes, offset, frameLength);
}

std::string TextLine(const FrameVerdict& verdict) {
    std::string line =
        "offset " + std::to_string(verdict.offset) + ": " + CheckName(verdict.check) + ": ";
    if (verdict.check != FrameCheck::Ok) {
        return line + verdict.detail;
    }
    return line + "start " + Hex(verdict.startMarker) + ", length " +
           std::to_string(verdict.length) + ", lead " + std::to_string(verdict.leadByte) +
           ", type " + std::to_string(verdict.type) + ", network " +
           std::to_string(verdict.network) + ", macs " + FormatMacList(verdict.image.get()) +
           ", end " + Hex(verdict.endMarker) + " (" + std::to_string(verdict.extent) + " bytes)";
}

JsonLine JsonOf(const FrameVerdict& verdict) {
    JsonLine line;
    line.Number("offset", static_cast<long long>(verdict.offset))
        .Text("verdict", CheckName(verdict.check));
    if (verdict.check != FrameCheck::Ok) {
        line.Number("at", static_cast<long long>(verdict.at)).Text("message", verdict.detail);
        return line;
    }
    line.Number("frame_length", static_cast<long long>(verdict.extent))
        .Number("start_marker", verdict.startMarker)
        .Number("length", verdict.length)
        .Number("lead_byte", verdict.leadByte)
        .Number("type", verdict.type)
        .Number("network", verdict.network)
        .Bool("image", verdict.image != nullptr)
        .Numbers("macs", MacNumbers(verdict.image.get()))
        .Number("end_marker", verdict.endMarker);
    return line;
}

} // namespace

const char* CheckName(FrameCheck check) {
    switch (check) {
    case FrameCheck::Ok:
        return "ok";
    case FrameCheck::StartMarker:
        return "start-marker";
    case FrameCheck::Length:
        return "length";
    case FrameCheck::CutShort:
        return "cut-short";
    case FrameCheck::EndMarker:
        return "end-marker";
    case FrameCheck::Type:
        return "type";
    case FrameCheck::StringParam:
        return "string-param";
    case FrameCheck::ImageText:
        return "image-text";
    }
    return "?";
}

std::vector<FrameVerdict> DecodeFrames(const Bytes& bytes) {
    std::vector<FrameVerdict> verdicts;
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        if (bytes.size() - offset < static_cast<std::size_t>(WordSize) ||
            WordAt(bytes, offset) != StartMarker) {
            verdicts.push_back(SkipToStartMarker(bytes, offset));
            offset += verdicts.back().extent;
            continue;
        }
        std::size_t next = 0;
        verdicts.push_back(CheckFrame(bytes, offset, next));
        if (verdicts.back().check != FrameCheck::Ok && verdicts.back().extent == 0) {
            verdicts.back().extent = next - offset;
        }
        offset = next;
    }
    return verdicts;
}

int RunDecode(const char* program, const std::string& path, bool json) {
    Bytes bytes;
    std::string error;
    if (!ReadFrameInput(path, bytes, error)) {
        PrintError(program, error);
        if (json) {
            JsonLine()
                .Text("error", "input")
                .Text("message", error)
                .Number("exit_code", kExitBadArguments)
                .Print();
        }
        return kExitBadArguments;
    }
    bool allPassed = true;
    for (const FrameVerdict& verdict : DecodeFrames(bytes)) {
        allPassed = allPassed && verdict.check == FrameCheck::Ok;
        if (json) {
            JsonOf(verdict).Print();
        } else {
            std::printf("%s\n", TextLine(verdict).c_str());
        }
    }
    std::fflush(stdout);
    return allPassed ? kExitDone : kExitFrameFailed;
}

} // namespace zam::tools
