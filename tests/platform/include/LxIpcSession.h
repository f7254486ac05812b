// Test platform: a second implementation of the IPC interface, deliberately unlike ours
// (here: members defined in the headers where they are short).
#pragma once

class LxIpcSession {
public:
    LxIpcSession() : m_state(0) {}
    virtual ~LxIpcSession() = default;
    virtual int Handle() const = 0; // never called by the message library
    virtual int ReadData(unsigned char* buffer, int wanted, int* got, int seconds,
                         int milliseconds) = 0;
    virtual int WriteData(const unsigned char* buffer, int count) = 0;
    int GetSessionState() const { return m_state; } // 0 nothing open, 4 read, 5 write FIFO open

protected:
    int m_state;
};
