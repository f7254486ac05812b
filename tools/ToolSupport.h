// What tarvexmux-server and tarvexmux-client share: exit statuses, MAC lists, report text,
// options, the FIFO directory and error lines.
#ifndef ZAM_TOOL_SUPPORT_H
#define ZAM_TOOL_SUPPORT_H

#include <bitset>
#include <memory>
#include <string>
#include <vector>

class LxTarvexDetectedMacMsg;

namespace zam::tools {

// Exit statuses, the same for both programs. --decode uses 1 for "a frame failed a check".
constexpr int kExitDone = 0;
constexpr int kExitIpcFailed = 1;
constexpr int kExitBadArguments = 2;
constexpr int kExitTimeout = 3;
constexpr int kExitFrameFailed = 1;

// Parses a MAC list such as "0-3,17,127" (bit n = MAC n); "none" gives no image (null).
// False, with `error` set, for an empty list or item, a MAC above 127, a range whose end
// lies below its start, or anything that is not a decimal number.
bool ParseMacList(const std::string& text, std::unique_ptr<std::bitset<128>>& image,
                  std::string& error);

// "0-3,17,127" for the MACs 0, 1, 2, 3, 17 and 127; "none" for no image, "empty" for an
// image with no MAC set.
std::string FormatMacList(const std::bitset<128>* image);

// The set MACs in ascending order (none for a null image).
std::vector<long long> MacNumbers(const std::bitset<128>* image);

// "network 300 macs 0-3,17,127".
std::string FormatReport(const LxTarvexDetectedMacMsg& report);

// One command-line option, given as "--name VALUE" or "--name=VALUE". A numeric option
// sets `number` (within min..max), a text option sets `text`; an option with neither is a
// flag that takes no value. `given` (may be null) is set when the option appears.
struct Option {
    const char* name;
    long min;
    long max;
    long* number;
    std::string* text;
    bool* given;
};

enum class ParseOutcome { Run, Help, Version, Error };

// Parses argv[1..] against `options`. "--help"/"-h" gives Help, "--version" Version.
// Arguments that are not options go to `operands`, or are an error when it is null.
// Anything unknown, a missing value or a value out of range gives Error with a one-line
// `error`.
ParseOutcome ParseOptions(int argc, char* const* argv, const std::vector<Option>& options,
                          std::vector<std::string>* operands, std::string& error);

// ParseOptions for a program's main: -1 to go on; otherwise the exit status, after the
// usage or version (0) or a one-line error (2; also as a JSON line when --json is among
// the arguments) was printed.
int HandleCommandLine(int argc, char* const* argv, const std::vector<Option>& options,
                      std::vector<std::string>* operands, const char* program,
                      const std::string& usage);

// True when "--json" is among argv[1..], so that even an argument error before it can be
// reported as JSON.
bool JsonRequested(int argc, char* const* argv);

// The directory the IPC library keeps its FIFOs in, as the programs report it: the
// environment variable the build names, or the build's default.
std::string FifoDirectory();

// "(in $VARIABLE, default DIR)" for usage texts.
std::string FifoDirectoryNote();

// The exit status lines shared by both usage texts.
std::string ExitStatusHelp();

// One line explaining the failure status `status` of a send to the FIFO `fifo`, which
// the `peer` ("server", "client") should be reading.
std::string DescribeSendFailure(int status, const char* peer, const char* fifo);

// Prints "<program>: <message>" as one line on standard error.
void PrintError(const char* program, const std::string& message);

// Prints the usage error `message` on standard error and, for --json, as a JSON line on
// standard output; returns kExitBadArguments.
int ArgumentError(const char* program, bool json, const std::string& message);

// "<program> (libZamTarvexMuxMsg) <version>" from the headers the program was built with.
std::string VersionLine(const char* program);

} // namespace zam::tools

#endif
