// Default logging sink: syslog, and standard error when DLOG_STDERR=1.
#include "dlog.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <syslog.h>
#include <unistd.h>

namespace {

constexpr int kLineCapacity = 512;

bool StderrWanted() {
    const char* value = std::getenv("DLOG_STDERR");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

int SyslogLevel(int severity) {
    if (severity < LOG_EMERG) {
        return LOG_EMERG;
    }
    return severity > LOG_DEBUG ? LOG_DEBUG : severity;
}

} // namespace

extern "C" int __dlog_printf(int severity, const char* source, const char* format, ...) {
    char line[kLineCapacity] = "";
    int length = 0;
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        length = std::vsnprintf(line, sizeof line, format, args);
        va_end(args);
    }
    const char* name = source != nullptr ? source : "?";

    syslog(LOG_USER | SyslogLevel(severity), "%s: %s", name, line);
    if (StderrWanted()) {
        // One write per line so that lines of concurrent processes do not mix.
        char out[kLineCapacity + 64];
        const int n = std::snprintf(out, sizeof out, "%s: %s\n", name, line);
        if (n > 0) {
            const size_t size = static_cast<size_t>(n) < sizeof out ? static_cast<size_t>(n)
                                                                  : sizeof out - 1;
            ssize_t ignored = write(STDERR_FILENO, out, size);
            static_cast<void>(ignored);
        }
    }
    return length;
}
