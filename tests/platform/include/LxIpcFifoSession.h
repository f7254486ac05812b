// Test platform: FIFO session. Failures are negative statuses.
#pragma once

#include "LxIpcSession.h"

class LxIpcFifoSession : public LxIpcSession {
public:
    enum IpcCloseConfirmBehavior { CloseAtOnce = 0, CloseAfterWrite = 1, CloseAfterBoth = 2 };

    LxIpcFifoSession(const char*, IpcCloseConfirmBehavior) : m_readFd(-1), m_writeFd(-1) {}
    ~LxIpcFifoSession() override {
        CloseWriteFifo();
        CloseReadFifo();
    }
    int OpenReadFifo(const char* name, unsigned int mode);
    void CloseReadFifo() { Close(m_readFd); }
    int OpenWriteFifo(const char* name);
    void CloseWriteFifo() { Close(m_writeFd); }
    int Handle() const override { return m_readFd; }
    int ReadData(unsigned char* buffer, int wanted, int* got, int seconds,
                 int milliseconds) override;
    int WriteData(const unsigned char* buffer, int count) override;

private:
    void Close(int& fd);
    void Settle() { m_state = m_writeFd >= 0 ? 5 : m_readFd >= 0 ? 4 : 0; }

    int m_readFd;
    int m_writeFd;
};
