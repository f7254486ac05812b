// What tarvexmux-server and tarvexmux-client share: exit statuses, the command line, MAC
// lists, JSON lines and the report and failure lines both print.
#ifndef ZAM_TOOL_COMMON_H
#define ZAM_TOOL_COMMON_H

#include <bitset>
#include <memory>
#include <string>

class LxTarvexDetectedMacMsg;

namespace zam::tools {

constexpr int kExitDone = 0;
constexpr int kExitIpcFailed = 1; // --decode: a verdict other than ok
constexpr int kExitBadArguments = 2;
constexpr int kExitTimeout = 3;
constexpr int kNone = -1; // no IPC status or exit status to report

// One JSON object on one line, members in the order added; keys are the programs' own.
class JsonLine {
public:
    JsonLine& Add(const char* key, long long value);
    JsonLine& Add(const char* key, const std::string& text); // escaped as a JSON string
    JsonLine& Raw(const char* key, const std::string& json); // true, false, [1,2]
    void Print() const;                                      // with a newline, flushed

private:
    std::string m_members;
};

// "0-3,17,127"; "none" for no image, "empty" for an image with no MAC set.
std::string FormatMacList(const std::bitset<128>* image);
// "[0,1,2,3,17,127]".
std::string MacJson(const std::bitset<128>* image);
// Parses "0-3,17,127" or "none" (no image: null); false with `error` set.
bool ParseMacList(const std::string& text, std::unique_ptr<std::bitset<128>>& image,
                  std::string& error);
// A copy of the report's image for a new message (null for none).
std::bitset<128>* CopyImage(const LxTarvexDetectedMacMsg& report);

// A whole decimal number within min..max, or false.
bool ParseNumber(const char* text, long min, long max, long& value);
// True when "--json" is among the arguments: an argument error before it is JSON too.
bool JsonRequested(int argc, char* const* argv);
// The FIFO directory as the programs report it, and "(in $VARIABLE, default DIR)".
std::string FifoDirectory();
std::string FifoDirectoryNote();
// "cannot send to FIFO (IPC status N; is a PEER reading it?)".
std::string SendFailure(int status, const char* peer, const char* fifo);

class Printer;
// Takes getopt_long's optarg as the value of the number option `name`; false after printing
// the bad-arguments error.
bool TakeNumber(const Printer& out, const char* name, long min, long max, long& value);

// getopt_long's answers that are not the program's own options: help and version (printed,
// 0) or a bad option (2). `usage` comes before the shared exit status lines.
int CommonOption(int option, const char* program, const std::string& usage, bool json,
                 char* const* argv);

// The report and failure lines of one program run.
class Printer {
public:
    Printer(const char* program, bool hex, bool json);
    // "DIRECTION: network N macs LIST" when `textLine`, "DIRECTION hex: ..." with --hex; with
    // --json one object. The frame is the one Serialize makes of the report.
    void Report(const char* direction, const LxTarvexDetectedMacMsg& report, bool textLine,
                long long rttMicros = kNone) const;
    // "PROGRAM: MESSAGE" on stderr and, with --json, an error object of `kind`; returns
    // `exitCode`.
    int Failure(const char* kind, const std::string& message, int exitCode,
                int status = kNone) const;

private:
    const char* m_program;
    bool m_hex;
    bool m_json;
};

} // namespace zam::tools

#endif
