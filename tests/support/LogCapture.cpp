// Defined in the test executable, this __dlog_printf stands in front of libdlog's.
#include "LogCapture.h"

#include "dlog.h"

#include <cstdarg>
#include <cstdio>

namespace {

struct LogLine {
    int severity;
    std::string source;
    std::string text; // the formatted line
};

std::vector<LogLine>& Lines() {
    static std::vector<LogLine> lines;
    return lines;
}

} // namespace

void ClearLogs() {
    Lines().clear();
}

std::vector<std::string> LogTexts(const std::string& source) {
    std::vector<std::string> texts;
    for (const LogLine& line : Lines()) {
        if (source.empty() || line.source == source) {
            texts.push_back((line.severity == 3 ? "" : "?") + line.text);
        }
    }
    return texts;
}

extern "C" int __dlog_printf(int severity, const char* source, const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    Lines().push_back({severity, source, text});
    return n;
}
