// Test platform: logging call.
#pragma once

extern "C" int __dlog_printf(int severity, const char* source, const char* format, ...);
