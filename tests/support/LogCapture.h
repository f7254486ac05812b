// A __dlog_printf of the tests' own that keeps every line the library logs.
#ifndef ZAM_TEST_LOG_CAPTURE_H
#define ZAM_TEST_LOG_CAPTURE_H

#include <string>
#include <vector>

// The texts of the lines logged since the last ClearLogs(), oldest first; only those of
// `source` when one is given. A line not of severity 3 is marked "?".
std::vector<std::string> LogTexts(const std::string& source = "");
void ClearLogs();

#endif
