// Test platform: a second implementation of the IPC interface, deliberately unlike ours.
#ifndef TEST_PLATFORM_LX_IPC_SESSION_H
#define TEST_PLATFORM_LX_IPC_SESSION_H

class LxIpcSession {
public:
    LxIpcSession();
    virtual ~LxIpcSession();
    virtual int Handle() const = 0; // never called by the message library
    virtual int ReadData(unsigned char* buffer, int wanted, int* got, int seconds,
                         int milliseconds) = 0;
    virtual int WriteData(const unsigned char* buffer, int count) = 0;
    int GetSessionState() const; // 0 nothing open, 4 read FIFO open, 5 write FIFO open

protected:
    int m_state;
};

#endif
