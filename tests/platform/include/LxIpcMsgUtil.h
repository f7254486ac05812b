// Test platform: integers are 4 bytes little-endian; a string parameter is its length N as
// 2 bytes little-endian (N <= 180) and the N text bytes, without NUL.
#pragma once

class LxIpcMsgBuffer;

class LxIpcMsgUtil {
public:
    static int PutInteger(LxIpcMsgBuffer* buffer, int value);
    static int PutIntegerAt(LxIpcMsgBuffer* buffer, int position, int value);
    static int PutStringParam(LxIpcMsgBuffer* buffer, const char* text);
    static int ExtractInteger(const unsigned char* bytes);
    static int ExtractStringParam(const unsigned char** cursor, unsigned char** text,
                                  bool allocate);
};
