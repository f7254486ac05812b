// A __dlog_printf of the tests' own that keeps every line the library logs.
#ifndef ZAM_TEST_LOG_CAPTURE_H
#define ZAM_TEST_LOG_CAPTURE_H

#include <string>
#include <vector>

struct LogLine {
    int severity;
    std::string source;
    std::string text; // the formatted line
};

// Lines logged since the last ClearLogs(), oldest first.
const std::vector<LogLine>& CapturedLogs();
void ClearLogs();

// Their texts, only those of `source` when one is given; one not of severity 3 is marked "?".
std::vector<std::string> LogTexts(const std::string& source = "");

#endif
