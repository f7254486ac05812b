// Growable message buffer.
#include "LxIpcMsgBuffer.h"

#include <climits>
#include <cstring>

LxIpcMsgBuffer::LxIpcMsgBuffer(int room)
    : m_data(nullptr), m_length(0), m_capacity(room > 0 ? room : 0) {
    m_data = new unsigned char[m_capacity > 0 ? static_cast<size_t>(m_capacity) : 1];
}

LxIpcMsgBuffer::~LxIpcMsgBuffer() { delete[] m_data; }

int LxIpcMsgBuffer::sputc(unsigned char byte) {
    if (m_length == INT_MAX) {
        return byte;
    }
    if (m_length == m_capacity) {
        Reserve(m_length + 1);
    }
    m_data[m_length++] = byte;
    return byte;
}

int LxIpcMsgBuffer::sputn(const unsigned char* bytes, int count) {
    if (bytes == nullptr || count <= 0 || count > INT_MAX - m_length) {
        return 0;
    }
    if (count > m_capacity - m_length) {
        Reserve(m_length + count);
    }
    std::memcpy(m_data + m_length, bytes, static_cast<size_t>(count));
    m_length += count;
    return count;
}

bool LxIpcMsgBuffer::Overwrite(int position, const unsigned char* bytes, int count) {
    if (bytes == nullptr || position < 0 || count < 0 || count > m_length - position) {
        return false;
    }
    std::memcpy(m_data + position, bytes, static_cast<size_t>(count));
    return true;
}

const unsigned char* LxIpcMsgBuffer::GetBuf() const { return m_data; }

int LxIpcMsgBuffer::GetLength() const { return m_length; }

void LxIpcMsgBuffer::Reserve(int needed) {
    if (needed <= m_capacity) {
        return;
    }
    int capacity = m_capacity > 0 ? m_capacity : 16;
    while (capacity < needed) {
        capacity = capacity > INT_MAX / 2 ? needed : capacity * 2;
    }
    unsigned char* grown = new unsigned char[static_cast<size_t>(capacity)];
    std::memcpy(grown, m_data, static_cast<size_t>(m_length));
    delete[] m_data;
    m_data = grown;
    m_capacity = capacity;
}
