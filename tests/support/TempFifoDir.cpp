// Temporary FIFO directory for tests.
#include "TempFifoDir.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <unistd.h>

TempFifoDir::TempFifoDir() {
    const char* base = std::getenv("TMPDIR");
    m_path = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/zamipc-test-XXXXXX";
    if (mkdtemp(m_path.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed for " + m_path);
    }
    setenv("ZAMIPC_FIFO_DIR", m_path.c_str(), 1);
}

TempFifoDir::~TempFifoDir() {
    std::error_code ignored; // symbolic links are removed, not followed
    std::filesystem::remove_all(m_path, ignored);
    unsetenv("ZAMIPC_FIFO_DIR");
}
