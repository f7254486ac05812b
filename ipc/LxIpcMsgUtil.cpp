// Integer and string parameter encoding.
#include "LxIpcMsgUtil.h"

#include "LxIpcSession.h"

#include <cstring>

namespace {

void EncodeInteger(int value, unsigned char* out) {
    const unsigned int bits = static_cast<unsigned int>(value);
    out[0] = static_cast<unsigned char>(bits >> 24);
    out[1] = static_cast<unsigned char>(bits >> 16);
    out[2] = static_cast<unsigned char>(bits >> 8);
    out[3] = static_cast<unsigned char>(bits);
}

} // namespace

int LxIpcMsgUtil::PutInteger(LxIpcMsgBuffer* buffer, int value) {
    if (buffer == nullptr) {
        return IpcStatusBadArgument;
    }
    unsigned char bytes[IntegerSize];
    EncodeInteger(value, bytes);
    return buffer->sputn(bytes, IntegerSize) == IntegerSize ? IpcStatusOk : IpcStatusBadArgument;
}

int LxIpcMsgUtil::PutIntegerAt(LxIpcMsgBuffer* buffer, int position, int value) {
    unsigned char bytes[IntegerSize];
    EncodeInteger(value, bytes);
    return buffer != nullptr && buffer->Overwrite(position, bytes, IntegerSize)
               ? IpcStatusOk
               : IpcStatusBadArgument;
}

int LxIpcMsgUtil::PutStringParam(LxIpcMsgBuffer* buffer, const char* text) {
    const char* value = text != nullptr ? text : "";
    const size_t length = std::strlen(value);
    if (buffer == nullptr || length > static_cast<size_t>(MaxStringParamText)) {
        return IpcStatusBadArgument;
    }
    const int textLength = static_cast<int>(length);
    PutInteger(buffer, textLength);
    // The terminating NUL is part of the encoding: copy it with the text.
    buffer->sputn(reinterpret_cast<const unsigned char*>(value), textLength + 1);
    return IpcStatusOk;
}

int LxIpcMsgUtil::ExtractInteger(const unsigned char* bytes) {
    if (bytes == nullptr) {
        return 0;
    }
    const unsigned int bits = static_cast<unsigned int>(bytes[0]) << 24 |
                              static_cast<unsigned int>(bytes[1]) << 16 |
                              static_cast<unsigned int>(bytes[2]) << 8 | bytes[3];
    return static_cast<int>(bits);
}

int LxIpcMsgUtil::ExtractStringParam(const unsigned char** cursor, unsigned char** text,
                                     bool allocate) {
    if (cursor == nullptr || *cursor == nullptr || text == nullptr ||
        (!allocate && *text == nullptr)) {
        return IpcStatusBadArgument;
    }
    const unsigned char* param = *cursor;
    const int length = ExtractInteger(param);
    if (length < 0 || length > MaxStringParamText) {
        return IpcStatusBadArgument;
    }
    // Valid only when the first NUL is exactly the terminator: scans at most N + 1 bytes.
    const unsigned char* body = param + IntegerSize;
    const void* nul = std::memchr(body, '\0', static_cast<size_t>(length) + 1);
    if (nul != body + length) {
        return IpcStatusBadArgument;
    }
    unsigned char* out = allocate ? new unsigned char[static_cast<size_t>(length) + 1] : *text;
    std::memcpy(out, body, static_cast<size_t>(length) + 1);
    *text = out;
    *cursor = body + length + 1;
    return IpcStatusOk;
}
