// A growable byte buffer that IPC messages are built in.
#ifndef LX_IPC_MSG_BUFFER_H
#define LX_IPC_MSG_BUFFER_H

#include "ZamIpcExport.h"

class ZAMIPC_API LxIpcMsgBuffer {
public:
    // An empty buffer with room for `room` bytes (negative counts as 0); grows as needed.
    explicit LxIpcMsgBuffer(int room);
    virtual ~LxIpcMsgBuffer();

    LxIpcMsgBuffer(const LxIpcMsgBuffer&) = delete;
    LxIpcMsgBuffer& operator=(const LxIpcMsgBuffer&) = delete;

    // Appends one byte; returns it.
    int sputc(unsigned char byte);
    // Appends `count` bytes; returns the number appended (0 for bad arguments).
    int sputn(const unsigned char* bytes, int count);
    // Overwrites `count` bytes at `position`; false unless they lie within the length.
    bool Overwrite(int position, const unsigned char* bytes, int count);

    // The bytes appended so far (GetLength() of them); valid until the next append.
    const unsigned char* GetBuf() const;
    int GetLength() const;

private:
    // Grows the storage (doubling) to hold `needed` bytes; allocation failure throws.
    ZAMIPC_HIDDEN void Reserve(int needed);

    unsigned char* m_data;
    int m_length;
    int m_capacity;
};

#endif
