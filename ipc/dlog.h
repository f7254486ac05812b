// Logging call of the platform: one printf-style line with a severity and a source name.
#ifndef ZAM_DLOG_H
#define ZAM_DLOG_H

#include "ZamIpcExport.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Logs one line. severity: syslog level (3 = error); source: name of the logging file.
 * The line goes to syslog; with DLOG_STDERR=1 in the environment also to standard error.
 * Returns the number of characters of the formatted line. */
ZAMIPC_API int __dlog_printf(int severity, const char* source, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

#ifdef __cplusplus
}
#endif

#endif
