// How the programs print the reports they send and receive, and their failures: a text line
// per report (with --hex, a line of the frame's bytes beside it), or with --json one JSON
// object per report and per failure.
#ifndef ZAM_TOOLS_REPORT_PRINTER_H
#define ZAM_TOOLS_REPORT_PRINTER_H

#include <optional>
#include <string>

class LxTarvexDetectedMacMsg;

namespace zam::tools {

class ReportPrinter {
public:
    ReportPrinter(const char* program, bool hex, bool json);

    // Prints the report that went (or came) as `direction` ("request" or "reply"). Text:
    // "<direction>: network N macs LIST" when `textLine`, then with --hex
    // "<direction> hex: <frame>". JSON: direction, network, image, macs, frame_length, with
    // --hex the frame, and rtt_us when `rttMicros` is not negative. The frame is the one
    // Serialize makes of the report: for a received report the library hands out the
    // message, not the bytes it read.
    void Report(const char* direction, const LxTarvexDetectedMacMsg& report, bool textLine,
                long long rttMicros = -1) const;

    // A failure of kind `kind` ("ipc", "timeout", "bad-reply", "bad-request"): one line on
    // standard error and, with --json, an object on standard output with the IPC `status`
    // and the `exitCode` the program ends with, when given.
    void Failure(const char* kind, const std::string& message,
                 std::optional<int> status = std::nullopt,
                 std::optional<int> exitCode = std::nullopt) const;

private:
    const char* m_program;
    bool m_hex;
    bool m_json;
};

} // namespace zam::tools

#endif
