// Scripted LxIpcFifoSession: same class and layout, definitions of the test's own.
#include "ScriptedSession.h"

#include "LogCapture.h"
#include "LxIpcFifoSession.h"
#include "LxIpcMsgUtil.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

std::vector<LxIpcFifoSession*>& LiveSessions() {
    static std::vector<LxIpcFifoSession*> sessions;
    return sessions;
}

void Record(SessionCall call) {
    Script().calls.push_back(std::move(call));
}

} // namespace

SessionScript& Script() {
    static SessionScript script;
    return script;
}

void ResetScript() {
    Script() = SessionScript();
}

std::vector<SessionCall> CallsOf(const std::string& op) {
    std::vector<SessionCall> found;
    for (const SessionCall& call : Script().calls) {
        if (call.op == op) {
            found.push_back(call);
        }
    }
    return found;
}

std::string Trace() {
    std::string trace;
    const unsigned char* base = nullptr;
    for (const SessionCall& call : Script().calls) {
        char detail[96] = "";
        if (call.op == "new") {
            std::snprintf(detail, sizeof detail, " %s %d", call.name.c_str(), call.arg);
        } else if (call.op == "OpenWriteFifo") {
            std::snprintf(detail, sizeof detail, " %s", call.name.c_str());
        } else if (call.op == "OpenReadFifo") {
            std::snprintf(detail, sizeof detail, " %s 0%o", call.name.c_str(),
                          static_cast<unsigned>(call.arg));
        } else if (call.op == "ReadData") {
            base = base != nullptr ? base : call.where;
            std::snprintf(detail, sizeof detail, " %d@%ld %ds%dms", call.arg,
                          static_cast<long>(call.where - base), call.seconds, call.milliseconds);
        } else if (call.op == "WriteData") {
            std::snprintf(detail, sizeof detail, " %d", call.arg);
        }
        trace += (trace.empty() ? "" : "; ") + call.op + detail;
    }
    return trace;
}

Bytes Word(int value) {
    LxIpcMsgBuffer buffer(4);
    LxIpcMsgUtil::PutInteger(&buffer, value);
    return {buffer.GetBuf(), buffer.GetBuf() + 4};
}

Bytes FrameBytes(int network, const std::string& imageText) {
    LxIpcMsgBuffer buffer(256);
    LxIpcMsgUtil::PutInteger(&buffer, 0xBEAD);
    LxIpcMsgUtil::PutInteger(&buffer, 0);
    buffer.sputc(1);
    LxIpcMsgUtil::PutInteger(&buffer, 2);
    LxIpcMsgUtil::PutInteger(&buffer, network);
    LxIpcMsgUtil::PutStringParam(&buffer, imageText.c_str());
    LxIpcMsgUtil::PutIntegerAt(&buffer, 4, buffer.GetLength() - 8);
    LxIpcMsgUtil::PutInteger(&buffer, 0xBADE);
    return {buffer.GetBuf(), buffer.GetBuf() + buffer.GetLength()};
}

Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t count) {
    return Bytes(bytes.begin() + static_cast<long>(from),
                 bytes.begin() + static_cast<long>(from + count));
}

std::vector<std::string> LogTexts(const std::string& source) {
    std::vector<std::string> texts;
    for (const LogLine& line : CapturedLogs()) {
        const bool expected = line.severity == 3 && line.source == source;
        texts.push_back(expected ? line.text
                                 : "[" + std::to_string(line.severity) + " " + line.source + "] " +
                                       line.text);
    }
    return texts;
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
    m_readFd = m_readKeeperFd = Script().openReadStatus == 0 ? 1 : -1;
    UpdateState();
    return Script().openReadStatus;
}

void LxIpcFifoSession::CloseReadFifo() {
    Record({"CloseReadFifo"});
    m_readFd = m_readKeeperFd = -1;
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

int LxIpcFifoSession::GetReadDescriptor() const {
    return m_readFd;
}

int LxIpcFifoSession::ReadData(unsigned char* buffer, int wanted, int* got, int seconds,
                               int milliseconds) {
    Record({"ReadData", "", wanted, seconds, milliseconds, {}, buffer});
    if (Script().reads.empty()) {
        *got = 0;
        return 2;
    }
    const ScriptedRead read = Script().reads.front();
    Script().reads.pop_front();
    const size_t stored = std::min(read.bytes.size(), static_cast<size_t>(std::max(wanted, 0)));
    if (stored > 0) {
        std::memcpy(buffer, read.bytes.data(), stored);
    }
    *got = read.got >= 0 ? read.got : static_cast<int>(read.bytes.size());
    return read.status;
}

int LxIpcFifoSession::WriteData(const unsigned char* buffer, int count) {
    Record({"WriteData", "", count, 0, 0, std::vector<unsigned char>(buffer, buffer + count)});
    return Script().writeStatus;
}

const char* LxIpcFifoSession::GetName() const {
    return m_name;
}

LxIpcFifoSession::IpcCloseConfirmBehavior LxIpcFifoSession::GetCloseConfirmBehavior() const {
    return m_closeBehavior;
}

void LxIpcFifoSession::UpdateState() {
    SetSessionState(m_writeFd >= 0  ? IpcStateWriteOpen
                    : m_readFd >= 0 ? IpcStateReadOpen
                                    : IpcStateClosed);
}
