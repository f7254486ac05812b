// Scripted LxIpcFifoSession: same class and layout, definitions of the test's own.
#include "ScriptedSession.h"

#include "LxIpcFifoSession.h"

#include <algorithm>
#include <iterator>
#include <sstream>

// Records a call: `op` and the text of its arguments.
template <typename... Args> static SessionCall& Record(const char* op, const Args&... args) {
    std::ostringstream text;
    ((text << op) << ... << args);
    Script().calls.push_back({op, text.str()});
    return Script().calls.back();
}

SessionScript& Script() {
    static SessionScript script;
    return script;
}

std::vector<SessionCall> CallsOf(const std::string& op) {
    std::vector<SessionCall> found;
    std::copy_if(Script().calls.begin(), Script().calls.end(), std::back_inserter(found),
                 [&op](const SessionCall& call) { return call.op == op; });
    return found;
}

std::string Trace() {
    std::string trace;
    for (const SessionCall& call : Script().calls) {
        trace += (trace.empty() ? "" : "; ") + call.text;
    }
    return trace;
}

Strings LogTexts() {
    Strings texts;
    for (const LogLine& line : CapturedLogs()) {
        const bool endpoint = line.severity == 3 && line.source.rfind("LxTarvexMuxMsg", 0) == 0;
        texts.push_back((endpoint ? "" : "?") + line.text);
    }
    return texts;
}

LxIpcFifoSession::LxIpcFifoSession(const char* name, IpcCloseConfirmBehavior behavior)
    : m_readFd(-1) {
    Script().session = this;
    Record("new", ' ', name, ' ', behavior);
}

LxIpcFifoSession::~LxIpcFifoSession() {
    Record("delete");
}

int LxIpcFifoSession::OpenReadFifo(const char* name, unsigned int mode) {
    Record("OpenReadFifo", ' ', name, " 0", std::oct, mode);
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
    Record("OpenWriteFifo", ' ', name);
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
    const std::vector<SessionCall> before = CallsOf("ReadData");
    const long offset = buffer - (before.empty() ? buffer : before[0].where);
    SessionCall& call =
        Record("ReadData", ' ', wanted, '@', offset, ' ', seconds, 's', milliseconds, "ms");
    call.arg = wanted, call.where = buffer;
    ScriptedRead read{2};
    if (!Script().reads.empty()) {
        read = Script().reads.front(), Script().reads.pop_front();
    }
    std::copy_n(read.bytes.begin(), std::min<long>(read.bytes.size(), wanted), buffer);
    *got = read.got >= 0 ? read.got : static_cast<int>(read.bytes.size());
    return read.status;
}

int LxIpcFifoSession::WriteData(const unsigned char* buffer, int count) {
    Record("WriteData", ' ', count).data.assign(buffer, buffer + count);
    return Script().writeStatus;
}
