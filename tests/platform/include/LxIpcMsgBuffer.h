// Test platform: message buffer.
#pragma once

#include <vector>

class LxIpcMsgBuffer {
public:
    explicit LxIpcMsgBuffer(int room) { m_bytes.reserve(room > 0 ? room : 0); }
    virtual ~LxIpcMsgBuffer() = default;
    int sputc(unsigned char byte) {
        m_bytes.push_back(byte);
        return byte;
    }
    const unsigned char* GetBuf() const { return m_bytes.data(); }
    int GetLength() const { return static_cast<int>(m_bytes.size()); }

private:
    friend class LxIpcMsgUtil;
    std::vector<unsigned char> m_bytes;
};
