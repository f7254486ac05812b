// Report and failure lines of the two programs.
#include "ReportPrinter.h"

#include "FrameText.h"
#include "JsonLine.h"
#include "LxIpcMsgBuffer.h"
#include "LxTarvexDetectedMacMsg.h"
#include "ToolSupport.h"

#include <cstdio>
#include <memory>

namespace zam::tools {

ReportPrinter::ReportPrinter(const char* program, bool hex, bool json)
    : m_program(program), m_hex(hex), m_json(json) {}

void ReportPrinter::Report(const char* direction, const LxTarvexDetectedMacMsg& report,
                           bool textLine, long long rttMicros) const {
    const std::unique_ptr<LxIpcMsgBuffer> frame(report.Serialize());
    if (!m_json) {
        if (textLine) {
            std::printf("%s: %s\n", direction, FormatReport(report).c_str());
        }
        if (m_hex) {
            std::printf("%s hex: %s\n", direction,
                        FrameHex(frame->GetBuf(), frame->GetLength(), true).c_str());
        }
        std::fflush(stdout);
        return;
    }
    JsonLine line;
    line.Text("direction", direction)
        .Number("network", report.GetNetworkNumber())
        .Bool("image", report.GetActiveMacImage() != nullptr)
        .Numbers("macs", MacNumbers(report.GetActiveMacImage()))
        .Number("frame_length", frame->GetLength());
    if (m_hex) {
        line.Text("hex", FrameHex(frame->GetBuf(), frame->GetLength(), false));
    }
    if (rttMicros >= 0) {
        line.Number("rtt_us", rttMicros);
    }
    line.Print();
}

void ReportPrinter::Failure(const char* kind, const std::string& message, std::optional<int> status,
                            std::optional<int> exitCode) const {
    PrintError(m_program, message);
    if (!m_json) {
        return;
    }
    JsonLine line;
    line.Text("error", kind).Text("message", message);
    if (status.has_value()) {
        line.Number("status", *status);
    }
    if (exitCode.has_value()) {
        line.Number("exit_code", *exitCode);
    }
    line.Print();
}

} // namespace zam::tools
