// Test platform: message buffer.
#ifndef TEST_PLATFORM_LX_IPC_MSG_BUFFER_H
#define TEST_PLATFORM_LX_IPC_MSG_BUFFER_H

#include <vector>

class LxIpcMsgBuffer {
public:
    explicit LxIpcMsgBuffer(int room);
    virtual ~LxIpcMsgBuffer();
    int sputc(unsigned char byte);
    const unsigned char* GetBuf() const;
    int GetLength() const;

private:
    friend class LxIpcMsgUtil;
    std::vector<unsigned char> m_bytes;
};

#endif
