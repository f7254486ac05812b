// Test platform: logging call.
#ifndef TEST_PLATFORM_DLOG_H
#define TEST_PLATFORM_DLOG_H

extern "C" int __dlog_printf(int severity, const char* source, const char* format, ...);

#endif
