// MAC lists, report text, option parsing and error lines for the two programs.
#include "ToolSupport.h"

#include "LxTarvexDetectedMacMsg.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

std::string FormatReport(const LxTarvexDetectedMacMsg& report) {
    return "network " + std::to_string(report.GetNetworkNumber()) + " macs " +
           FormatMacList(report.GetActiveMacImage());
}

ParseOutcome ParseOptions(int argc, char* const* argv, const std::vector<Option>& options,
                          std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            return ParseOutcome::Help;
        }
        const std::string::size_type equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const Option* option = nullptr;
        for (const Option& candidate : options) {
            if (name == candidate.name) {
                option = &candidate;
            }
        }
        if (option == nullptr) {
            error = "unknown option \"" + arg + "\" (see --help)";
            return ParseOutcome::Error;
        }
        std::string value;
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            error = name + " needs a value";
            return ParseOutcome::Error;
        }
        if (option->number != nullptr &&
            !ParseNumber(value, option->min, option->max, *option->number)) {
            error = name + ": \"" + value + "\" is not a number from " +
                    std::to_string(option->min) + " to " + std::to_string(option->max);
            return ParseOutcome::Error;
        }
        if (option->text != nullptr) {
            *option->text = value;
        }
        if (option->given != nullptr) {
            *option->given = true;
        }
    }
    return ParseOutcome::Run;
}

int HandleCommandLine(int argc, char* const* argv, const std::vector<Option>& options,
                      const char* program, const char* usage) {
    std::string error;
    switch (ParseOptions(argc, argv, options, error)) {
    case ParseOutcome::Help:
        std::fputs(usage, stdout);
        return 0;
    case ParseOutcome::Error:
        PrintError(program, error);
        return 2;
    case ParseOutcome::Run:
        break;
    }
    return -1;
}

std::string DescribeSendFailure(int status, const char* peer, const char* fifo) {
    return std::string("cannot send to ") + fifo + " (IPC status " + std::to_string(status) +
           "; is a " + peer + " reading it?)";
}

void PrintError(const char* program, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", program, message.c_str());
    std::fflush(stderr);
}

} // namespace zam::tools
