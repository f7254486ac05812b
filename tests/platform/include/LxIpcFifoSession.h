// Test platform: FIFO session. Failures are negative statuses.
#pragma once

#include "LxIpcSession.h"

class LxIpcFifoSession : public LxIpcSession {
public:
    enum IpcCloseConfirmBehavior { CloseAtOnce = 0, CloseAfterWrite = 1, CloseAfterBoth = 2 };

    LxIpcFifoSession(const char* name, IpcCloseConfirmBehavior behavior);
    ~LxIpcFifoSession() override;
    int OpenReadFifo(const char* name, unsigned int mode);
    void CloseReadFifo();
    int OpenWriteFifo(const char* name);
    void CloseWriteFifo();
    int Handle() const override;
    int ReadData(unsigned char* buffer, int wanted, int* got, int seconds,
                 int milliseconds) override;
    int WriteData(const unsigned char* buffer, int count) override;

private:
    void Close(int& fd);
    void Settle();

    int m_readFd;
    int m_writeFd;
};
