// Encoding of integers and string parameters in IPC messages.
//
// Integer: 4 bytes, big-endian, two's complement, at any alignment.
// String parameter: the text length N as an integer, the N text bytes, then a NUL byte;
// it takes N + 5 bytes (133 for a 128-character text). Valid when 0 <= N <= 65535,
// the text holds no NUL and the byte after it is NUL.
#ifndef LX_IPC_MSG_UTIL_H
#define LX_IPC_MSG_UTIL_H

#include "LxIpcMsgBuffer.h"

class ZAMIPC_API LxIpcMsgUtil {
public:
    static constexpr int IntegerSize = 4;
    static constexpr int StringParamOverhead = IntegerSize + 1;
    static constexpr int MaxStringParamText = 65535;

    // Appends `value` as 4 bytes. Returns 0, or non-zero for a null buffer.
    static int PutInteger(LxIpcMsgBuffer* buffer, int value);
    // Overwrites the 4 bytes at `position` with `value`. Returns 0, or non-zero when they
    // do not lie within the buffer's length.
    static int PutIntegerAt(LxIpcMsgBuffer* buffer, int position, int value);
    // Appends the NUL-terminated `text` as one string parameter (null counts as "").
    static int PutStringParam(LxIpcMsgBuffer* buffer, const char* text);

    // The integer stored at `bytes` by PutInteger (0 for a null pointer).
    static int ExtractInteger(const unsigned char* bytes);

    // Reads the string parameter at *cursor and moves *cursor past it. With `allocate`
    // false the text and its NUL are copied into the buffer *text points to, which must have
    // room for them; with true *text is set to a new[] copy that the caller frees with
    // delete[]. Returns 0, or non-zero for an invalid parameter (then nothing is copied or
    // allocated and *cursor stays). Reads the length field, then the text no further than its
    // first NUL byte: a reader that keeps a NUL after the bytes it holds bounds the read.
    static int ExtractStringParam(const unsigned char** cursor, unsigned char** text,
                                  bool allocate);
};

#endif
