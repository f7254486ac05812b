// A check for the fuzz targets that holds in every build (NDEBUG or not): a failed
// condition is printed and the process aborts, which libFuzzer and CTest both see.
#ifndef ZAM_FUZZ_CHECK_H
#define ZAM_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>

#define ZAM_FUZZ_CHECK(condition)                                                                  \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);     \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZAM_FUZZ_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ZAM_FUZZ_ASAN 1
#endif

#ifdef ZAM_FUZZ_ASAN
#include <sanitizer/asan_interface.h>
// Marks bytes the code under test must not touch, so that ASan reports any access.
#define ZAM_FUZZ_POISON(address, size) ASAN_POISON_MEMORY_REGION(address, size)
#define ZAM_FUZZ_UNPOISON(address, size) ASAN_UNPOISON_MEMORY_REGION(address, size)
#else
#define ZAM_FUZZ_POISON(address, size) ((void)(address), (void)(size))
#define ZAM_FUZZ_UNPOISON(address, size) ((void)(address), (void)(size))
#endif

#endif
