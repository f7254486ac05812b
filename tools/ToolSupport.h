// What tarvexmux-server and tarvexmux-client share: MAC lists, report text, options, errors.
#ifndef ZAM_TOOL_SUPPORT_H
#define ZAM_TOOL_SUPPORT_H

#include <bitset>
#include <memory>
#include <string>
#include <vector>

class LxTarvexDetectedMacMsg;

namespace zam::tools {

// Parses a MAC list such as "0-3,17,127" (bit n = MAC n); "none" gives no image (null).
// False, with `error` set, for an empty list or item, a MAC above 127, a range whose end
// lies below its start, or anything that is not a decimal number.
bool ParseMacList(const std::string& text, std::unique_ptr<std::bitset<128>>& image,
                  std::string& error);

// "0-3,17,127" for the MACs 0, 1, 2, 3, 17 and 127; "none" for no image, "empty" for an
// image with no MAC set.
std::string FormatMacList(const std::bitset<128>* image);

// "network 300 macs 0-3,17,127".
std::string FormatReport(const LxTarvexDetectedMacMsg& report);

// One command-line option, given as "--name VALUE" or "--name=VALUE". A numeric option
// sets `number` (within min..max), a text option sets `text`; `given` may be null.
struct Option {
    const char* name;
    long min;
    long max;
    long* number;
    std::string* text;
    bool* given;
};

enum class ParseOutcome { Run, Help, Error };

// Parses argv[1..] against `options`. "--help" or "-h" gives Help; anything unknown, a
// missing value or a value out of range gives Error with a one-line `error`.
ParseOutcome ParseOptions(int argc, char* const* argv, const std::vector<Option>& options,
                          std::string& error);

// ParseOptions for a program's main: -1 to go on; otherwise the exit status, after the
// usage (0) or a one-line error (2) was printed.
int HandleCommandLine(int argc, char* const* argv, const std::vector<Option>& options,
                      const char* program, const char* usage);

// One line explaining the failure status `status` of a send to the FIFO `fifo`, which
// the `peer` ("server", "client") should be reading.
std::string DescribeSendFailure(int status, const char* peer, const char* fifo);

// Prints "<program>: <message>" as one line on standard error.
void PrintError(const char* program, const std::string& message);

} // namespace zam::tools

#endif
