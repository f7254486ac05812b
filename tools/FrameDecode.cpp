// --decode: the server's frame reader (endpoint/LxTarvexMuxMsgServer.cpp) run over captured
// bytes, with the frame header's constants, the IPC library's integers and DeSerialize.
#include "FrameDecode.h"

#include "LxIpcMsgUtil.h"
#include "TarvexFrame.h"
#include "ToolCommon.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

namespace zam::tools {
namespace {

using namespace zam::frame;

constexpr std::size_t kMaxInput = 16u << 20;
constexpr std::size_t kNoSkip = static_cast<std::size_t>(-1);

std::string Hex(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
    return text;
}

std::string At(std::size_t offset) {
    return " at offset " + std::to_string(offset);
}

// Every read gets what it asks for while bytes are left. As in the server, a 4-byte read
// that gets fewer bytes keeps the rest of the buffer as it was, and only the payload's
// count is looked at.
class ReaderModel {
public:
    ReaderModel(const Bytes& in, bool scan) : m_in(in), m_scan(scan) {}

    std::vector<FrameVerdict> Run() {
        for (;;) {
            while (m_pos < m_in.size()) {
                Step();
            }
            if (m_step == Start) {
                break;
            }
            Fail("cut-short", m_in.size(),
                 "the input ends" + At(m_in.size()) + ", within the frame");
        }
        EndSkip(m_in.size());
        return std::move(m_out);
    }

private:
    enum { Start, Length, Payload, End } m_step = Start;

    void Step() {
        const int wanted = m_step == Payload ? m_remaining : WordSize;
        const int got = static_cast<int>(std::min<std::size_t>(wanted, m_in.size() - m_pos));
        std::memcpy(m_buffer + m_at, m_in.data() + m_pos, static_cast<std::size_t>(got));
        m_pos += static_cast<std::size_t>(got);
        if (m_step == Payload) {
            m_at += got;
            m_remaining -= got;
            m_step = m_remaining == 0 ? End : Payload;
            return;
        }
        const int word = LxIpcMsgUtil::ExtractInteger(m_buffer + m_at);
        const std::size_t wordAt = m_pos - static_cast<std::size_t>(got);
        if (m_step == Start && word == StartMarker && !(m_scan && got < WordSize)) {
            EndSkip(wordAt);
            Begin(wordAt);
        } else if (m_step == Start) {
            m_skipped = std::min(m_skipped, wordAt);
            m_pos = m_scan ? wordAt + 1 : m_pos;
        } else if (m_step == Length && word > 0 && word <= MaxPayloadLength) {
            m_remaining = word;
            m_at = HeaderSize;
            m_step = Payload;
        } else if (m_step == Length) {
            Fail("length", wordAt,
                 "length field " + std::to_string(word) + At(wordAt) + " is outside 1.." +
                     std::to_string(MaxPayloadLength));
        } else if (word == EndMarker) {
            Judge(m_at + WordSize);
        } else if (word == StartMarker) {
            Verdict("end-marker", wordAt,
                    "a start marker" + At(wordAt) +
                        " stands for the end marker: a new frame begins");
            Begin(wordAt);
        } else {
            Fail("end-marker", wordAt,
                 "end marker" + At(wordAt) + " is " + Hex(word) + ", not " + Hex(EndMarker));
        }
    }

    void Begin(std::size_t offset) {
        m_frame = offset;
        m_at = WordSize;
        m_step = Length;
    }

    FrameVerdict& Verdict(const char* check, std::size_t at, std::string detail) {
        m_out.push_back({check, m_frame, at, std::move(detail), {}, nullptr});
        return m_out.back();
    }

    // A frame the reader drops; --scan goes back to the byte after its length field.
    void Fail(const char* check, std::size_t at, std::string detail) {
        Verdict(check, at, std::move(detail));
        m_step = Start;
        m_at = 0;
        m_pos = m_scan ? m_frame + HeaderSize : m_pos;
    }

    // The end marker came: DeSerialize's verdict on the frame in the buffer.
    void Judge(int length) {
        m_step = Start;
        m_at = 0;
        try {
            std::unique_ptr<LxTarvexDetectedMacMsg> message(
                LxTarvexDetectedMacMsg::DeSerialize(m_buffer, length));
            if (message == nullptr) {
                Verdict("refused", m_frame,
                        "DeSerialize takes no message from the frame (type " +
                            std::to_string(LxIpcMsgUtil::ExtractInteger(m_buffer + TypeOffset)) +
                            ")");
                return;
            }
            FrameVerdict& ok = Verdict("ok", m_frame, "");
            ok.frame.assign(m_buffer, m_buffer + length);
            ok.message = std::move(message);
        } catch (const std::invalid_argument&) {
            Verdict("image-text", m_frame + ImageOffset,
                    "image text" + At(m_frame + ImageOffset) +
                        " is not 128 '0'/'1' characters (the server drops the request)");
        }
    }

    // The bytes from m_skipped up to `end` held no start marker.
    void EndSkip(std::size_t end) {
        if (m_skipped < end) {
            m_out.push_back(
                {"start-marker",
                 m_skipped,
                 m_skipped,
                 "no start marker; " + std::to_string(end - m_skipped) + " bytes skipped",
                 {},
                 nullptr});
        }
        m_skipped = kNoSkip;
    }

    const Bytes& m_in;
    const bool m_scan;
    std::vector<FrameVerdict> m_out;
    unsigned char m_buffer[MaxFrameSize] = {};
    int m_at = 0; // where the next read stores, as the server's cursor
    int m_remaining = 0;
    std::size_t m_pos = 0;   // bytes read so far
    std::size_t m_frame = 0; // where the frame being read began
    std::size_t m_skipped = kNoSkip;
};

// Hex text: '#' starts a comment, a line with a ':' holds bytes after it only when its label
// ends in "hex" (as --hex prints), blank-separated groups of hex digit pairs.
bool ParseHexText(const std::string& text, Bytes& bytes, std::string& error) {
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        line.erase(std::min(line.find('#'), line.size()));
        const std::string::size_type colon = line.find(':');
        if (colon != std::string::npos) {
            std::string label = line.substr(0, colon);
            label.erase(label.find_last_not_of(" \t\r") + 1);
            const bool hex = label.size() >= 3 && label.compare(label.size() - 3, 3, "hex") == 0;
            line = hex ? line.substr(colon + 1) : "";
        }
        std::istringstream groups(line);
        for (std::string group; groups >> group;) {
            if (group.size() % 2 != 0 ||
                group.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
                error = "line " + std::to_string(number) +
                        ": not hex bytes (pairs of hex digits, '#' comments)";
                return false;
            }
            for (std::size_t i = 0; i < group.size(); i += 2) {
                bytes.push_back(
                    static_cast<unsigned char>(std::stoi(group.substr(i, 2), nullptr, 16)));
            }
        }
    }
    return true;
}

// The input as bytes: hex text when it is all printable ASCII and blanks, else raw.
bool ReadFrameInput(const std::string& path, Bytes& bytes, std::string& error) {
    const bool standardInput = path.empty() || path == "-";
    const std::string name = standardInput ? "standard input" : path;
    std::ifstream file;
    if (!standardInput) {
        file.open(path, std::ios::binary);
    }
    std::istream& in = standardInput ? std::cin : file;
    std::string input;
    char chunk[1 << 16];
    while (in && input.size() <= kMaxInput) {
        in.read(chunk, sizeof chunk);
        input.append(chunk, static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad() || (!standardInput && !file.is_open())) {
        error = "cannot read " + name + ": " + std::strerror(errno);
    } else if (input.size() > kMaxInput) {
        error = name + " is larger than 16 MiB";
    } else if (std::all_of(input.begin(), input.end(), [](char c) {
                   return (c >= 0x20 && c <= 0x7E) || c == '\n' || c == '\t' || c == '\r';
               })) {
        ParseHexText(input, bytes, error);
    } else {
        bytes.assign(input.begin(), input.end());
    }
    if (error.empty() && bytes.empty()) {
        error = "no frame bytes in " + name;
    }
    return error.empty();
}

void Print(const FrameVerdict& v, bool json) {
    const unsigned char* f = v.frame.data();
    const int size = static_cast<int>(v.frame.size());
    if (json) {
        JsonLine line;
        line.Add("offset", static_cast<long long>(v.offset)).Add("verdict", std::string(v.check));
        if (v.message == nullptr) {
            return line.Add("at", static_cast<long long>(v.at)).Add("message", v.detail).Print();
        }
        const std::bitset<128>* image = v.message->GetActiveMacImage();
        return line.Add("frame_length", size)
            .Add("start_marker", LxIpcMsgUtil::ExtractInteger(f))
            .Add("length", LxIpcMsgUtil::ExtractInteger(f + LengthOffset))
            .Add("lead_byte", f[HeaderSize])
            .Add("type", LxIpcMsgUtil::ExtractInteger(f + TypeOffset))
            .Add("network", v.message->GetNetworkNumber())
            .Raw("image", image != nullptr ? "true" : "false")
            .Raw("macs", MacJson(image))
            .Add("end_marker", LxIpcMsgUtil::ExtractInteger(f + size - WordSize))
            .Print();
    }
    if (v.message == nullptr) {
        std::printf("offset %zu: %s: %s\n", v.offset, v.check, v.detail.c_str());
        return;
    }
    std::printf("offset %zu: ok: start %s, length %d, lead %d, type %d, network %u, macs %s, "
                "end %s (%d bytes)\n",
                v.offset, Hex(LxIpcMsgUtil::ExtractInteger(f)).c_str(),
                LxIpcMsgUtil::ExtractInteger(f + LengthOffset), f[HeaderSize],
                LxIpcMsgUtil::ExtractInteger(f + TypeOffset), v.message->GetNetworkNumber(),
                FormatMacList(v.message->GetActiveMacImage()).c_str(),
                Hex(LxIpcMsgUtil::ExtractInteger(f + size - WordSize)).c_str(), size);
}

} // namespace

std::vector<FrameVerdict> DecodeFrames(const Bytes& bytes, bool scan) {
    return ReaderModel(bytes, scan).Run();
}

int RunDecode(const char* program, const std::string& path, bool json, bool scan) {
    Bytes bytes;
    std::string error;
    if (!ReadFrameInput(path, bytes, error)) {
        return Printer(program, false, json).Failure("input", error, kExitBadArguments);
    }
    bool allOk = true;
    for (const FrameVerdict& verdict : DecodeFrames(bytes, scan)) {
        allOk = allOk && verdict.message != nullptr;
        Print(verdict, json);
    }
    std::fflush(stdout);
    return allOk ? kExitDone : kExitIpcFailed;
}

} // namespace zam::tools
