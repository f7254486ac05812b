// Scripted LxIpcFifoSession: same class and layout, definitions of the test's own.
#include "ScriptedSession.h"

#include "LxIpcFifoSession.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

std::vector<LxIpcFifoSession*>& LiveSessions() {
    static std::vector<LxIpcFifoSession*> sessions;
    return sessions;
}

void Record(SessionCall call) { Script().calls.push_back(std::move(call)); }

} // namespace

SessionScript& Script() {
    static SessionScript script;
    return script;
}

void ResetScript() { Script() = SessionScript(); }

std::vector<SessionCall> CallsOf(const std::string& op) {
    std::vector<SessionCall> found;
    for (const SessionCall& call : Script().calls) {
        if (call.op == op) {
            found.push_back(call);
        }
    }
    return found;
}

void DropReadFifo() {
    for (LxIpcFifoSession* session : LiveSessions()) {
        session->CloseReadFifo();
    }
}

LxIpcFifoSession::LxIpcFifoSession(const char* name, IpcCloseConfirmBehavior behavior)
    : m_name(), m_closeBehavior(behavior), m_readFd(-1), m_readKeeperFd(-1), m_writeFd(-1) {
    std::strncpy(m_name, name, sizeof m_name - 1);
    ++Script().live;
    LiveSessions().push_back(this);
    Record({"new", name, behavior});
}

LxIpcFifoSession::~LxIpcFifoSession() {
    --Script().live;
    auto& live = LiveSessions();
    live.erase(std::remove(live.begin(), live.end(), this), live.end());
    Record({"delete", m_name});
}

int LxIpcFifoSession::OpenReadFifo(const char* name, unsigned int mode) {
    Record({"OpenReadFifo", name, static_cast<int>(mode)});
    m_readFd = Script().openReadStatus == 0 ? 1 : -1;
    UpdateState();
    return Script().openReadStatus;
}

void LxIpcFifoSession::CloseReadFifo() {
    Record({"CloseReadFifo"});
    m_readFd = -1;
    UpdateState();
}

int LxIpcFifoSession::OpenWriteFifo(const char* name) {
    Record({"OpenWriteFifo", name});
    m_writeFd = Script().openWriteStatus == 0 ? 1 : -1;
    UpdateState();
    return Script().openWriteStatus;
}

void LxIpcFifoSession::CloseWriteFifo() {
    Record({"CloseWriteFifo"});
    m_writeFd = -1;
    UpdateState();
}

int LxIpcFifoSession::GetReadDescriptor() const { return m_readFd; }

int LxIpcFifoSession::ReadData(unsigned char* buffer, int wanted, int* got, int seconds,
                               int milliseconds) {
    Record({"ReadData", "", wanted, seconds, milliseconds});
    if (Script().reads.empty()) {
        *got = 0;
        return 2;
    }
    const ScriptedRead read = Script().reads.front();
    Script().reads.pop_front();
    const size_t stored = std::min(read.bytes.size(), static_cast<size_t>(std::max(wanted, 0)));
    std::memcpy(buffer, read.bytes.data(), stored);
    *got = read.got >= 0 ? read.got : static_cast<int>(read.bytes.size());
    return read.status;
}

int LxIpcFifoSession::WriteData(const unsigned char* buffer, int count) {
    Record({"WriteData", "", count, 0, 0, std::vector<unsigned char>(buffer, buffer + count)});
    return Script().writeStatus;
}

const char* LxIpcFifoSession::GetName() const { return m_name; }

LxIpcFifoSession::IpcCloseConfirmBehavior LxIpcFifoSession::GetCloseConfirmBehavior() const {
    return m_closeBehavior;
}

void LxIpcFifoSession::UpdateState() {
    SetSessionState(m_writeFd >= 0 ? IpcStateWriteOpen
                                   : m_readFd >= 0 ? IpcStateReadOpen : IpcStateClosed);
}
