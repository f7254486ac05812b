// Test platform's libdlog: every line to standard error, marked as the board's.
#include "dlog.h"

#include <cstdarg>
#include <cstdio>

extern "C" int __dlog_printf(int severity, const char* source, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::fprintf(stderr, "board <%d> %s: ", severity, source);
    const int n = std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
    return n;
}
