// Temporary FIFO directory for tests.
#include "TempFifoDir.h"

#include <cstdlib>
#include <dirent.h>
#include <stdexcept>
#include <unistd.h>

TempFifoDir::TempFifoDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                          "/zamipc-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed for " + pattern);
    }
    m_path = pattern;
    setenv("ZAMIPC_FIFO_DIR", m_path.c_str(), 1);
}

TempFifoDir::~TempFifoDir() {
    if (DIR* dir = opendir(m_path.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                unlink(PathOf(name).c_str());
            }
        }
        closedir(dir);
    }
    rmdir(m_path.c_str());
    unsetenv("ZAMIPC_FIFO_DIR");
}
