// Session state kept by every IPC session.
#include "LxIpcSession.h"

LxIpcSession::LxIpcSession() : m_sessionState(IpcStateClosed) {}

LxIpcSession::~LxIpcSession() = default;

int LxIpcSession::GetSessionState() const { return m_sessionState; }

void LxIpcSession::SetSessionState(int state) { m_sessionState = state; }
