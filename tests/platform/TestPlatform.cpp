// Test platform's libzamipc: FIFOs in $ZAMIPC_FIFO_DIR (default /tmp), read ends opened
// read-write so that they never see end-of-file, little-endian integers, length-prefixed
// strings without NUL, negative failure statuses.
#include "LxIpcFifoSession.h"
#include "LxIpcMsgBuffer.h"
#include "LxIpcMsgUtil.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum { kOk = 0, kTimeout = 2, kNoFifo = -1, kNoReader = -2, kNotOpen = -3, kIoError = -4,
       kBadParam = -5 };
constexpr int kMaxText = 180;

std::string PathOf(const char* name) {
    const char* dir = std::getenv("ZAMIPC_FIFO_DIR");
    return std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/" + name;
}

} // namespace

int LxIpcFifoSession::OpenReadFifo(const char* name, unsigned int mode) {
    const std::string path = PathOf(name);
    mkfifo(path.c_str(), static_cast<mode_t>(mode));
    const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        CloseReadFifo();
        m_readFd = fd;
    }
    Settle();
    return fd >= 0 ? kOk : kIoError;
}

int LxIpcFifoSession::OpenWriteFifo(const char* name) {
    CloseWriteFifo();
    m_writeFd = open(PathOf(name).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    Settle();
    return m_writeFd >= 0 ? kOk : errno == ENOENT ? kNoFifo : errno == ENXIO ? kNoReader : kIoError;
}

void LxIpcFifoSession::Close(int& fd) {
    if (fd >= 0) {
        close(fd);
    }
    fd = -1;
    Settle();
}

int LxIpcFifoSession::ReadData(unsigned char* buffer, int wanted, int* got, int seconds,
                               int milliseconds) {
    *got = 0;
    if (m_readFd < 0) {
        return kNotOpen;
    }
    pollfd ready = {m_readFd, POLLIN, 0};
    if (poll(&ready, 1, seconds * 1000 + milliseconds) <= 0) {
        return kTimeout;
    }
    const ssize_t n = read(m_readFd, buffer, static_cast<size_t>(wanted));
    *got = n > 0 ? static_cast<int>(n) : 0;
    return n > 0 ? kOk : kIoError;
}

// One write, as a frame fits the FIFO's atomic size; no wait for room.
int LxIpcFifoSession::WriteData(const unsigned char* buffer, int count) {
    if (m_writeFd < 0) {
        return kNotOpen;
    }
    return write(m_writeFd, buffer, static_cast<size_t>(count)) == count ? kOk : kIoError;
}

int LxIpcMsgUtil::PutInteger(LxIpcMsgBuffer* buffer, int value) {
    buffer->m_bytes.resize(buffer->m_bytes.size() + 4);
    return PutIntegerAt(buffer, buffer->GetLength() - 4, value);
}

int LxIpcMsgUtil::PutIntegerAt(LxIpcMsgBuffer* buffer, int position, int value) {
    const auto bits = static_cast<unsigned int>(value);
    for (int i = 0; i < 4; ++i) {
        buffer->m_bytes.at(static_cast<size_t>(position + i)) =
            static_cast<unsigned char>(bits >> (8 * i));
    }
    return kOk;
}

int LxIpcMsgUtil::PutStringParam(LxIpcMsgBuffer* buffer, const char* text) {
    const size_t length = std::strlen(text);
    if (length > kMaxText) {
        return kBadParam;
    }
    buffer->sputc(static_cast<unsigned char>(length));
    buffer->sputc(static_cast<unsigned char>(length >> 8));
    buffer->m_bytes.insert(buffer->m_bytes.end(), text, text + length);
    return kOk;
}

int LxIpcMsgUtil::ExtractInteger(const unsigned char* bytes) {
    return static_cast<int>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 |
                            static_cast<unsigned int>(bytes[3]) << 24);
}

int LxIpcMsgUtil::ExtractStringParam(const unsigned char** cursor, unsigned char** text,
                                     bool allocate) {
    const unsigned char* param = *cursor;
    const int length = param[0] | param[1] << 8;
    if (length > kMaxText || std::memchr(param + 2, '\0', static_cast<size_t>(length))) {
        return kBadParam;
    }
    unsigned char* out = allocate ? new unsigned char[length + 1] : *text;
    std::memcpy(out, param + 2, static_cast<size_t>(length));
    out[length] = '\0';
    *text = out;
    *cursor = param + 2 + length;
    return kOk;
}
