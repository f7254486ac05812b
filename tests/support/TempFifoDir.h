// A fresh FIFO directory for one test: created under $TMPDIR (or /tmp), set as ZAMIPC_FIFO_DIR,
// removed with everything in it when the object goes.
#ifndef ZAM_TEST_TEMP_FIFO_DIR_H
#define ZAM_TEST_TEMP_FIFO_DIR_H

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

class TempFifoDir {
public:
    TempFifoDir() : m_path(std::filesystem::temp_directory_path() / "zamipc-test-XXXXXX") {
        if (mkdtemp(m_path.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed for " + m_path);
        }
        setenv("ZAMIPC_FIFO_DIR", m_path.c_str(), 1);
    }
    ~TempFifoDir() {
        std::error_code ignored; // symbolic links are removed, not followed
        std::filesystem::remove_all(m_path, ignored);
        unsetenv("ZAMIPC_FIFO_DIR");
    }
    TempFifoDir(const TempFifoDir&) = delete;
    TempFifoDir& operator=(const TempFifoDir&) = delete;

    const std::string& Path() const { return m_path; }
    std::string PathOf(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

#endif
