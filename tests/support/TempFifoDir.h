// A fresh FIFO directory for one test: created under $TMPDIR, set as ZAMIPC_FIFO_DIR,
// removed with everything in it when the object goes.
#ifndef ZAM_TEST_TEMP_FIFO_DIR_H
#define ZAM_TEST_TEMP_FIFO_DIR_H

#include <string>

class TempFifoDir {
public:
    TempFifoDir();
    ~TempFifoDir();
    TempFifoDir(const TempFifoDir&) = delete;
    TempFifoDir& operator=(const TempFifoDir&) = delete;

    const std::string& Path() const { return m_path; }
    std::string PathOf(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

#endif
