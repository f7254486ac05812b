// Server endpoint: the four-step frame reader and the reply sender.
#include "LxTarvexMuxMsgServer.h"

#include "EndpointIo.h"
#include "LxIpcFifoSession.h"
#include "LxIpcMsgUtil.h"
#include "LxTarvexDetectedMacMsg.h"
#include "TarvexFrame.h"
#include "dlog.h"

using namespace zam::endpoint;
using namespace zam::frame;

namespace {

constexpr const char* kLogSource = "LxTarvexMuxMsgServer";
constexpr const char* kNotInitializedFormat = "%s: IPC not initialized.";
constexpr const char* kInitOperation = "InitTarvexMuxMsgServer";

// Milliseconds each read of the server may wait (the second timing word).
constexpr int s_serverReadTimeout = 20;

} // namespace

LxTarvexMuxMsgServer* LxTarvexMuxMsgServer::s_tarvexMuxMsgServerSingleton = nullptr;

LxTarvexMuxMsgServer* LxTarvexMuxMsgServer::GetInstance() {
    if (s_tarvexMuxMsgServerSingleton == nullptr) {
        s_tarvexMuxMsgServerSingleton = new LxTarvexMuxMsgServer();
    }
    return s_tarvexMuxMsgServerSingleton;
}

LxTarvexMuxMsgServer::LxTarvexMuxMsgServer()
    : m_readState(ReadStateStartMarker), m_rxBuffer(new unsigned char[MaxFrameSize]()),
      m_rxCursor(m_rxBuffer), m_bytesRemaining(0), m_session(nullptr) {}

LxTarvexMuxMsgServer::~LxTarvexMuxMsgServer() {
    if (m_session != nullptr) {
        m_session->CloseReadFifo();
        delete m_session;
        m_session = nullptr;
    }
    delete[] m_rxBuffer;
    s_tarvexMuxMsgServerSingleton = nullptr;
}

bool LxTarvexMuxMsgServer::InitTarvexMuxMsgServer() {
    // An existing session is kept whatever happens: with its FIFO open there is nothing to
    // do, otherwise it reopens the FIFO itself. A new session in its place would drop the
    // bytes waiting in the FIFO, and all of it should the new open fail.
    if (m_session != nullptr) {
        return m_session->GetSessionState() == kStateReadOpen ||
               OpenOwnFifo(*m_session, kServerFifoName, kLogSource, kInitOperation) == 0;
    }
    m_session = new LxIpcFifoSession(kServerFifoName, kServerCloseBehavior);
    if (OpenOwnFifo(*m_session, kServerFifoName, kLogSource, kInitOperation) != 0) {
        delete m_session;
        m_session = nullptr;
        return false;
    }
    return true;
}

LxTarvexDetectedMacMsg* LxTarvexMuxMsgServer::ReadFromClient() {
    if (m_session == nullptr) {
        __dlog_printf(kLogSeverity, kLogSource, kNotInitializedFormat, "ReadFromClient");
        return nullptr;
    }
    if (m_session->GetSessionState() != kStateReadOpen) {
        OpenOwnFifo(*m_session, kServerFifoName, kLogSource, "ReadFromClient");
    }
    int got = 0;
    const int status = m_session->ReadData(m_rxCursor, ReadWanted(), &got, 0, s_serverReadTimeout);
    if (status == kReadTimedOut) {
        return nullptr;
    }
    if (status != 0) {
        __dlog_printf(kLogSeverity, kLogSource, kReadStatusFormat, "ReadFromClient", status);
        ResetReader();
        return nullptr;
    }
    if (m_readState == ReadStatePayload) {
        TakePayload(got);
        return nullptr;
    }
    return TakeWord();
}

int LxTarvexMuxMsgServer::SendToClient(LxTarvexDetectedMacMsg* message) {
    return SendFrame(m_session, kClientFifoName, message, kLogSource, "SendToClient");
}

int LxTarvexMuxMsgServer::ReadWanted() const {
    return m_readState == ReadStatePayload ? m_bytesRemaining : WordSize;
}

// The 4-byte steps: start marker, length and end marker.
LxTarvexDetectedMacMsg* LxTarvexMuxMsgServer::TakeWord() {
    const int word = LxIpcMsgUtil::ExtractInteger(m_rxCursor);
    switch (m_readState) {
    case ReadStateStartMarker:
        if (word == StartMarker) {
            m_rxCursor += WordSize;
            m_readState = ReadStateLength;
        }
        break;
    case ReadStateLength:
        m_bytesRemaining = word;
        // Above MaxPayloadLength the frame could not fit the buffer: refuse it.
        if (word > 0 && word <= MaxPayloadLength) {
            m_rxCursor += WordSize;
            m_readState = ReadStatePayload;
        } else {
            ResetReader();
        }
        break;
    case ReadStateEndMarker:
        if (word == EndMarker) {
            return CompleteFrame();
        }
        if (word == StartMarker) {
            m_rxCursor = m_rxBuffer + WordSize; // a new frame begins with these 4 bytes
            m_readState = ReadStateLength;
        } else {
            ResetReader();
        }
        break;
    case ReadStatePayload:
        break;
    }
    return nullptr;
}

void LxTarvexMuxMsgServer::TakePayload(int got) {
    if (got < 0 || got > m_bytesRemaining) {
        __dlog_printf(kLogSeverity, kLogSource, kReadStatusFormat, "ReadFromClient", 0);
        ResetReader();
        return;
    }
    m_rxCursor += got;
    m_bytesRemaining -= got;
    if (m_bytesRemaining == 0) {
        m_readState = ReadStateEndMarker;
    }
}

LxTarvexDetectedMacMsg* LxTarvexMuxMsgServer::CompleteFrame() {
    const int frameLength = static_cast<int>(m_rxCursor + WordSize - m_rxBuffer);
    // Reset first: should DeSerialize raise, the next read still starts at the buffer's start.
    ResetReader();
    return LxTarvexDetectedMacMsg::DeSerialize(m_rxBuffer, frameLength);
}

void LxTarvexMuxMsgServer::ResetReader() {
    m_readState = ReadStateStartMarker;
    m_rxCursor = m_rxBuffer;
}
