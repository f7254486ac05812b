// The scripted LxIpcFifoSession: the platform class's operations, defined by the tests.
#include "ScriptedSession.h"

#include "LxIpcFifoSession.h"

#include <algorithm>

namespace {

void Record(const std::string& op, const std::string& fifo = "", int number = 0) {
    Script().calls.push_back({op, fifo, number});
}

} // namespace

SessionScript& Script() {
    static SessionScript script;
    return script;
}

void ResetScript() {
    Script() = SessionScript();
}

void ClearCalls() {
    Script().calls.clear();
    Script().firstReadBuffer = nullptr;
}

Strings Ops() {
    Strings ops;
    for (const SessionCall& call : Script().calls) {
        ops.push_back(call.op);
    }
    return ops;
}

LxIpcFifoSession::LxIpcFifoSession(const char* name, IpcCloseConfirmBehavior behavior)
    : m_readFd(-1) {
    Script().session = this;
    Record("new", name, behavior);
}

LxIpcFifoSession::~LxIpcFifoSession() {
    Record("delete");
}

int LxIpcFifoSession::OpenReadFifo(const char* name, unsigned int mode) {
    Record("OpenReadFifo", name, static_cast<int>(mode));
    m_readFd = Script().openReadStatus == 0 ? 1 : m_readFd;
    SetSessionState(m_readFd >= 0 ? IpcStateReadOpen : IpcStateClosed);
    return Script().openReadStatus;
}

void LxIpcFifoSession::CloseReadFifo() {
    Record("CloseReadFifo");
    m_readFd = -1;
    SetSessionState(IpcStateClosed);
}

int LxIpcFifoSession::OpenWriteFifo(const char* name) {
    Record("OpenWriteFifo", name);
    SetSessionState(Script().openWriteStatus == 0 ? IpcStateWriteOpen : GetSessionState());
    return Script().openWriteStatus;
}

void LxIpcFifoSession::CloseWriteFifo() {
    Record("CloseWriteFifo");
    SetSessionState(m_readFd >= 0 ? IpcStateReadOpen : IpcStateClosed);
}

int LxIpcFifoSession::GetReadDescriptor() const {
    return m_readFd;
}

int LxIpcFifoSession::ReadData(unsigned char* buffer, int wanted, int* got, int seconds,
                               int milliseconds) {
    if (Script().firstReadBuffer == nullptr) {
        Script().firstReadBuffer = buffer;
    }
    Script().calls.push_back(
        {"ReadData", "", wanted, buffer - Script().firstReadBuffer, seconds, milliseconds});
    ScriptedRead read{2};
    if (!Script().reads.empty()) {
        read = Script().reads.front();
        Script().reads.pop_front();
    }
    const auto stored = std::min<size_t>(read.bytes.size(), static_cast<size_t>(wanted));
    std::copy_n(read.bytes.begin(), stored, buffer);
    *got = read.got >= 0 ? read.got : static_cast<int>(stored);
    return read.status;
}

int LxIpcFifoSession::WriteData(const unsigned char*, int count) {
    Record("WriteData", "", count);
    return Script().writeStatus;
}
