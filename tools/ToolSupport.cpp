// MAC lists, report text, option parsing, the FIFO directory and error lines for the two
// programs.
#include "ToolSupport.h"

#include "JsonLine.h"
#include "LxTarvexDetectedMacMsg.h"
#include "ZamTarvexMuxMsgVersion.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Set by tools/CMakeLists.txt from its cache variables: the IPC library's own names stay
// out of the sources, so that a build over a board's library can name its own.
#if !defined(ZAM_FIFO_DIR_VARIABLE) || !defined(ZAM_FIFO_DIR_DEFAULT)
#error "ZAM_FIFO_DIR_VARIABLE and ZAM_FIFO_DIR_DEFAULT come from tools/CMakeLists.txt"
#endif

namespace zam::tools {
namespace {

constexpr long kLastMac = 127;

// A whole decimal number (optional leading '-') within min..max; strtol alone would accept
// blanks, '+', trailing text and silently clamp on overflow.
bool ParseNumber(const std::string& text, long min, long max, long& value) {
    const char* begin = text.c_str();
    const char* digits = *begin == '-' ? begin + 1 : begin;
    if (*digits < '0' || *digits > '9') {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const long parsed = std::strtol(begin, &end, 10);
    if (errno != 0 || *end != '\0' || parsed < min || parsed > max) {
        return false;
    }
    value = parsed;
    return true;
}

// One item of a MAC list: "17" or "0-3".
bool ParseMacItem(const std::string& item, std::bitset<128>& image) {
    const std::string::size_type dash = item.find('-');
    long first = 0;
    long last = 0;
    if (dash == std::string::npos) {
        if (!ParseNumber(item, 0, kLastMac, first)) {
            return false;
        }
        last = first;
    } else {
        const std::string low = item.substr(0, dash);
        const std::string high = item.substr(dash + 1);
        // `low` holds no '-'; a '-' opening `high` ("3--4") is refused here.
        if (high.empty() || high[0] == '-' || !ParseNumber(low, 0, kLastMac, first) ||
            !ParseNumber(high, 0, kLastMac, last) || last < first) {
            return false;
        }
    }
    for (long mac = first; mac <= last; ++mac) {
        image.set(static_cast<std::size_t>(mac));
    }
    return true;
}

} // namespace

bool ParseMacList(const std::string& text, std::unique_ptr<std::bitset<128>>& image,
                  std::string& error) {
    if (text == "none") {
        image.reset();
        return true;
    }
    auto parsed = std::make_unique<std::bitset<128>>();
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type comma = text.find(',', start);
        const std::string item = text.substr(start, comma - start);
        if (!ParseMacItem(item, *parsed)) {
            error = "bad MAC list \"" + text + "\": \"" + item +
                    "\" is not a MAC 0-127 or a range FIRST-LAST with FIRST <= LAST";
            return false;
        }
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    image = std::move(parsed);
    return true;
}

std::string FormatMacList(const std::bitset<128>* image) {
    if (image == nullptr) {
        return "none";
    }
    std::string out;
    for (std::size_t mac = 0; mac < image->size(); ++mac) {
        if (!image->test(mac)) {
            continue;
        }
        std::size_t last = mac;
        while (last + 1 < image->size() && image->test(last + 1)) {
            ++last;
        }
        out += (out.empty() ? "" : ",") + std::to_string(mac);
        if (last > mac) {
            out += "-" + std::to_string(last);
        }
        mac = last;
    }
    return out.empty() ? "empty" : out;
}

std::vector<long long> MacNumbers(const std::bitset<128>* image) {
    std::vector<long long> macs;
    for (std::size_t mac = 0; image != nullptr && mac < image->size(); ++mac) {
        if (image->test(mac)) {
            macs.push_back(static_cast<long long>(mac));
        }
    }
    return macs;
}

std::string FormatReport(const LxTarvexDetectedMacMsg& report) {
    return "network " + std::to_string(report.GetNetworkNumber()) + " macs " +
           FormatMacList(report.GetActiveMacImage());
}

namespace {

const Option* FindOption(const std::vector<Option>& options, const std::string& name) {
    for (const Option& candidate : options) {
        if (name == candidate.name) {
            return &candidate;
        }
    }
    return nullptr;
}

bool IsFlag(const Option& option) {
    return option.number == nullptr && option.text == nullptr;
}

// Stores `value` in `option`; false with `error` set when a number is malformed or out of
// range.
bool StoreValue(const Option& option, const std::string& value, std::string& error) {
    if (option.number != nullptr && !ParseNumber(value, option.min, option.max, *option.number)) {
        error = std::string(option.name) + ": \"" + value + "\" is not a number from " +
                std::to_string(option.min) + " to " + std::to_string(option.max);
        return false;
    }
    if (option.text != nullptr) {
        *option.text = value;
    }
    return true;
}

// Takes argv[i] ("--name", "--name=VALUE") for `option`, and argv[i + 1] when that is its
// value; false with `error` set.
bool TakeOption(const Option& option, int argc, char* const* argv, int& i, std::string& error) {
    const std::string arg = argv[i];
    const std::string::size_type equals = arg.find('=');
    if (IsFlag(option) && equals != std::string::npos) {
        error = std::string(option.name) + " takes no value";
        return false;
    }
    if (!IsFlag(option)) {
        if (equals == std::string::npos && i + 1 >= argc) {
            error = std::string(option.name) + " needs a value";
            return false;
        }
        const std::string value = equals != std::string::npos ? arg.substr(equals + 1) : argv[++i];
        if (!StoreValue(option, value, error)) {
            return false;
        }
    }
    if (option.given != nullptr) {
        *option.given = true;
    }
    return true;
}

} // namespace

ParseOutcome ParseOptions(int argc, char* const* argv, const std::vector<Option>& options,
                          std::vector<std::string>* operands, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            return ParseOutcome::Help;
        }
        if (arg == "--version") {
            return ParseOutcome::Version;
        }
        const bool isOption = arg.size() > 1 && arg[0] == '-';
        if (!isOption && operands != nullptr) {
            operands->push_back(arg);
            continue;
        }
        const Option* option = FindOption(options, arg.substr(0, arg.find('=')));
        if (option == nullptr) {
            error = std::string("unknown ") + (isOption ? "option" : "argument") + " \"" + arg +
                    "\" (see --help)";
            return ParseOutcome::Error;
        }
        if (!TakeOption(*option, argc, argv, i, error)) {
            return ParseOutcome::Error;
        }
    }
    return ParseOutcome::Run;
}

bool JsonRequested(int argc, char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--json") {
            return true;
        }
    }
    return false;
}

int HandleCommandLine(int argc, char* const* argv, const std::vector<Option>& options,
                      std::vector<std::string>* operands, const char* program,
                      const std::string& usage) {
    std::string error;
    switch (ParseOptions(argc, argv, options, operands, error)) {
    case ParseOutcome::Help:
        std::fputs(usage.c_str(), stdout);
        return kExitDone;
    case ParseOutcome::Version:
        std::printf("%s\n", VersionLine(program).c_str());
        return kExitDone;
    case ParseOutcome::Error:
        return ArgumentError(program, JsonRequested(argc, argv), error);
    case ParseOutcome::Run:
        break;
    }
    return -1;
}

std::string FifoDirectory() {
    const char* variable = ZAM_FIFO_DIR_VARIABLE;
    const char* dir = *variable != '\0' ? std::getenv(variable) : nullptr;
    return dir != nullptr && *dir != '\0' ? dir : ZAM_FIFO_DIR_DEFAULT;
}

std::string FifoDirectoryNote() {
    const std::string variable = ZAM_FIFO_DIR_VARIABLE;
    if (variable.empty()) {
        return std::string("(in ") + ZAM_FIFO_DIR_DEFAULT + ")";
    }
    return "(in $" + variable + ", default " + ZAM_FIFO_DIR_DEFAULT + ")";
}

std::string ExitStatusHelp() {
    return "Exit status: 0 done, 1 IPC failure, 2 bad arguments, 3 timeout.\n";
}

std::string DescribeSendFailure(int status, const char* peer, const char* fifo) {
    return std::string("cannot send to ") + fifo + " (IPC status " + std::to_string(status) +
           "; is a " + peer + " reading it?)";
}

void PrintError(const char* program, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", program, message.c_str());
    std::fflush(stderr);
}

int ArgumentError(const char* program, bool json, const std::string& message) {
    PrintError(program, message);
    if (json) {
        JsonLine()
            .Text("error", "arguments")
            .Text("message", message)
            .Number("exit_code", kExitBadArguments)
            .Print();
    }
    return kExitBadArguments;
}

std::string VersionLine(const char* program) {
    return std::string(program) + " (libZamTarvexMuxMsg) " + ZAM_TARVEX_MUX_MSG_VERSION;
}

} // namespace zam::tools
