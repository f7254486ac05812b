// MAC lists, JSON lines, the command line and the report lines of the two programs.
#include "ToolCommon.h"

#include "LxIpcMsgBuffer.h"
#include "LxTarvexDetectedMacMsg.h"
#include "TarvexFrame.h"
#include "ZamTarvexMuxMsgVersion.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>

// Set by tools/CMakeLists.txt: the IPC library's own names stay out of the sources.
#if !defined(ZAM_FIFO_DIR_VARIABLE) || !defined(ZAM_FIFO_DIR_DEFAULT)
#error "ZAM_FIFO_DIR_VARIABLE and ZAM_FIFO_DIR_DEFAULT come from tools/CMakeLists.txt"
#endif

namespace zam::tools {
namespace {

constexpr long kLastMac = 127;

// Where a space goes in grouped hex: before each field after the start marker.
bool FieldStart(int i, int length) {
    using namespace zam::frame;
    return i == LengthOffset || i == HeaderSize || i == TypeOffset || i == NetworkOffset ||
           i == ImageOffset || (length - WordSize > ImageOffset && i == length - WordSize);
}

std::string FrameHex(const unsigned char* bytes, int length, bool grouped) {
    std::string out;
    char pair[3];
    for (int i = 0; i < length; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        out += (grouped && FieldStart(i, length) ? " " : "") + std::string(pair);
    }
    return out;
}

// "17" or "0-3".
bool ParseMacItem(const std::string& item, std::bitset<128>& image) {
    const std::string::size_type dash = item.find('-');
    long first = 0;
    long last = 0;
    const std::string high = dash == std::string::npos ? item : item.substr(dash + 1);
    if (!ParseNumber(item.substr(0, dash).c_str(), 0, kLastMac, first) ||
        !ParseNumber(high.c_str(), 0, kLastMac, last) || last < first || high[0] == '-') {
        return false;
    }
    for (long mac = first; mac <= last; ++mac) {
        image.set(static_cast<std::size_t>(mac));
    }
    return true;
}

} // namespace

JsonLine& JsonLine::Raw(const char* key, const std::string& json) {
    m_members += (m_members.empty() ? "\"" : ",\"") + std::string(key) + "\":" + json;
    return *this;
}

JsonLine& JsonLine::Add(const char* key, long long value) {
    return Raw(key, std::to_string(value));
}

// Quotes, backslashes, control characters and bytes outside ASCII escaped: any message
// (file names included) gives valid JSON.
JsonLine& JsonLine::Add(const char* key, const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(byte));
        out += c == '"' || c == '\\'        ? std::string("\\") + c
               : byte < 0x20 || byte > 0x7E ? std::string(escaped)
                                            : std::string(1, c);
    }
    return Raw(key, out + "\"");
}

void JsonLine::Print() const {
    std::printf("{%s}\n", m_members.c_str());
    std::fflush(stdout);
}

std::string FormatMacList(const std::bitset<128>* image) {
    if (image == nullptr) {
        return "none";
    }
    std::string out;
    for (std::size_t mac = 0; mac < image->size(); ++mac) {
        std::size_t last = mac;
        while (image->test(mac) && last + 1 < image->size() && image->test(last + 1)) {
            ++last;
        }
        if (image->test(mac)) {
            out += (out.empty() ? "" : ",") + std::to_string(mac) +
                   (last > mac ? "-" + std::to_string(last) : "");
        }
        mac = last;
    }
    return out.empty() ? "empty" : out;
}

std::string MacJson(const std::bitset<128>* image) {
    std::string out;
    for (std::size_t mac = 0; image != nullptr && mac < image->size(); ++mac) {
        out += image->test(mac) ? (out.empty() ? "" : ",") + std::to_string(mac) : "";
    }
    return "[" + out + "]";
}

bool ParseMacList(const std::string& text, std::unique_ptr<std::bitset<128>>& image,
                  std::string& error) {
    image.reset(text == "none" ? nullptr : new std::bitset<128>);
    for (std::string::size_type start = 0; image != nullptr && start <= text.size();) {
        const std::string::size_type comma = std::min(text.find(',', start), text.size());
        const std::string item = text.substr(start, comma - start);
        if (!ParseMacItem(item, *image)) {
            error = "bad MAC list \"" + text + "\": \"" + item +
                    "\" is not a MAC 0-127 or a range FIRST-LAST with FIRST <= LAST";
            return false;
        }
        start = comma + 1;
    }
    return true;
}

std::bitset<128>* CopyImage(const LxTarvexDetectedMacMsg& report) {
    const std::bitset<128>* image = report.GetActiveMacImage();
    return image != nullptr ? new std::bitset<128>(*image) : nullptr;
}

// strtol alone would take blanks, '+', trailing text, and clamp on overflow.
bool ParseNumber(const char* text, long min, long max, long& value) {
    const char* digits = text + (*text == '-' ? 1 : 0);
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, 10);
    if (*digits < '0' || *digits > '9' || errno != 0 || *end != '\0' || parsed < min ||
        parsed > max) {
        return false;
    }
    value = parsed;
    return true;
}

bool JsonRequested(int argc, char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) {
            return true;
        }
    }
    return false;
}

std::string FifoDirectory() {
    const char* dir = *ZAM_FIFO_DIR_VARIABLE != '\0' ? std::getenv(ZAM_FIFO_DIR_VARIABLE) : nullptr;
    return dir != nullptr && *dir != '\0' ? dir : ZAM_FIFO_DIR_DEFAULT;
}

std::string FifoDirectoryNote() {
    const std::string variable = ZAM_FIFO_DIR_VARIABLE;
    return variable.empty() ? "(in " ZAM_FIFO_DIR_DEFAULT ")"
                            : "(in $" + variable + ", default " ZAM_FIFO_DIR_DEFAULT ")";
}

std::string SendFailure(int status, const char* peer, const char* fifo) {
    return std::string("cannot send to ") + fifo + " (IPC status " + std::to_string(status) +
           "; is a " + peer + " reading it?)";
}

bool TakeNumber(const Printer& out, const char* name, long min, long max, long& value) {
    if (ParseNumber(optarg, min, max, value)) {
        return true;
    }
    out.Failure("arguments",
                std::string(name) + ": \"" + optarg + "\" is not a number from " +
                    std::to_string(min) + " to " + std::to_string(max),
                kExitBadArguments);
    return false;
}

int CommonOption(int option, const char* program, const std::string& usage, bool json,
                 char* const* argv) {
    if (option == 'h') {
        std::printf("%sExit status: 0 done, 1 IPC failure, 2 bad arguments, 3 timeout.\n",
                    usage.c_str());
        return kExitDone;
    }
    if (option == 'V') {
        std::printf("%s (libZamTarvexMuxMsg) %s\n", program, ZAM_TARVEX_MUX_MSG_VERSION);
        return kExitDone;
    }
    const std::string arg = argv[optind - 1];
    const std::string message =
        option == ':' ? arg + " needs a value" : "bad option \"" + arg + "\" (see --help)";
    return Printer(program, false, json).Failure("arguments", message, kExitBadArguments);
}

Printer::Printer(const char* program, bool hex, bool json)
    : m_program(program), m_hex(hex), m_json(json) {}

void Printer::Report(const char* direction, const LxTarvexDetectedMacMsg& report, bool textLine,
                     long long rttMicros) const {
    const std::unique_ptr<LxIpcMsgBuffer> frame(report.Serialize());
    const int length = frame->GetLength();
    if (m_json) {
        JsonLine line;
        line.Add("direction", direction)
            .Add("network", report.GetNetworkNumber())
            .Raw("image", report.GetActiveMacImage() != nullptr ? "true" : "false")
            .Raw("macs", MacJson(report.GetActiveMacImage()))
            .Add("frame_length", length);
        if (m_hex) {
            line.Add("hex", FrameHex(frame->GetBuf(), length, false));
        }
        if (rttMicros != kNone) {
            line.Add("rtt_us", rttMicros);
        }
        return line.Print();
    }
    if (textLine) {
        std::printf("%s: network %u macs %s\n", direction, report.GetNetworkNumber(),
                    FormatMacList(report.GetActiveMacImage()).c_str());
    }
    if (m_hex) {
        std::printf("%s hex: %s\n", direction, FrameHex(frame->GetBuf(), length, true).c_str());
    }
    std::fflush(stdout);
}

int Printer::Failure(const char* kind, const std::string& message, int exitCode, int status) const {
    std::fprintf(stderr, "%s: %s\n", m_program, message.c_str());
    std::fflush(stderr);
    if (m_json) {
        JsonLine line;
        line.Add("error", kind).Add("message", message);
        if (status != kNone) {
            line.Add("status", status);
        }
        if (exitCode != kNone) {
            line.Add("exit_code", exitCode);
        }
        line.Print();
    }
    return exitCode;
}

} // namespace zam::tools
