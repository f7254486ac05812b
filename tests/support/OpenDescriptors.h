// The number of descriptors this process has open, as /proc/self/fd lists them.
#ifndef ZAM_TEST_OPEN_DESCRIPTORS_H
#define ZAM_TEST_OPEN_DESCRIPTORS_H

#include <dirent.h>

inline int OpenDescriptors() {
    int count = 0;
    if (DIR* fds = opendir("/proc/self/fd")) {
        while (readdir(fds) != nullptr) {
            ++count;
        }
        closedir(fds);
    }
    return count;
}

#endif
