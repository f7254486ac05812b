# Cross-build for the board: 32-bit big-endian PowerPC Linux with Debian's g++-powerpc-linux-gnu.
# Target programs (the tests included) run on the build machine under qemu-ppc, so plain
# `ctest` in a build directory configured with this file runs every test on the target.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR powerpc)

set(ZAM_CROSS_TRIPLE powerpc-linux-gnu)
set(ZAM_CROSS_SYSROOT /usr/${ZAM_CROSS_TRIPLE})

set(CMAKE_C_COMPILER ${ZAM_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${ZAM_CROSS_TRIPLE}-g++)

# Libraries, headers and packages come from the target's trees only: the cross sysroot and
# every CMAKE_PREFIX_PATH entry (a PowerPC install of this library, a board's sysroot);
# programs from the host.
list(APPEND CMAKE_FIND_ROOT_PATH ${ZAM_CROSS_SYSROOT} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -L: the dynamic loader and the target's shared libraries live under the cross tree.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-ppc;-L;${ZAM_CROSS_SYSROOT})

# The linker's default for PowerPC aligns segments to 64 KiB pages, which pads every shared
# object to over 64 KiB on disk. The board's kernel uses 4 KiB pages; a kernel with larger
# pages needs ZAM_TARGET_PAGE_SIZE set to its page size.
set(ZAM_TARGET_PAGE_SIZE 4096 CACHE STRING "Page size of the target kernel, in bytes")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,-z,max-page-size=${ZAM_TARGET_PAGE_SIZE}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,-z,max-page-size=${ZAM_TARGET_PAGE_SIZE}")
