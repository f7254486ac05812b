// Client endpoint: request sender and the three-read reply reader.
#include "LxTarvexMuxMsgClient.h"

#include "EndpointIo.h"
#include "LxIpcFifoSession.h"
#include "LxIpcMsgUtil.h"
#include "LxTarvexDetectedMacMsg.h"
#include "TarvexFrame.h"
#include "dlog.h"

#include <algorithm>

using namespace zam::endpoint;
using namespace zam::frame;

namespace {

constexpr const char* kLogSource = "LxTarvexMuxMsgClient";
constexpr const char* kNotReadyFormat = "%s: IPC request failed.";
constexpr const char* kWaitFormat = "%s: Wait For Data status %d";
constexpr const char* kBadLengthFormat = "%s: INVALID FRAME LENGTH: %d";

} // namespace

int LxTarvexMuxMsgClient::s_readTimeout = 2;
LxTarvexMuxMsgClient* LxTarvexMuxMsgClient::s_TarvexMuxMsgClientSingleton = nullptr;

LxTarvexMuxMsgClient* LxTarvexMuxMsgClient::GetInstance() {
    if (s_TarvexMuxMsgClientSingleton == nullptr) {
        s_TarvexMuxMsgClientSingleton = new LxTarvexMuxMsgClient();
    }
    return s_TarvexMuxMsgClientSingleton;
}

LxTarvexMuxMsgClient::LxTarvexMuxMsgClient() : m_ipcReady(false), m_session(nullptr) {}

LxTarvexMuxMsgClient::~LxTarvexMuxMsgClient() {
    if (m_session != nullptr) {
        m_session->CloseReadFifo();
        delete m_session;
        m_session = nullptr;
    }
    s_TarvexMuxMsgClientSingleton = nullptr;
}

bool LxTarvexMuxMsgClient::InitTarvexMuxIpc() {
    if (m_ipcReady) {
        return true;
    }
    m_session = new LxIpcFifoSession(kClientFifoName, kClientCloseBehavior);
    const int status = OpenOwnFifo(*m_session, kClientFifoName, kLogSource, "InitTarvexMuxIpc");
    if (status != 0) {
        delete m_session;
        m_session = nullptr;
    }
    m_ipcReady = status == 0;
    return m_ipcReady;
}

int LxTarvexMuxMsgClient::SendRequest(LxTarvexDetectedMacMsg* message) {
    return SendFrame(m_session, kServerFifoName, message, kLogSource, "SendRequest");
}

LxTarvexDetectedMacMsg* LxTarvexMuxMsgClient::ReadResponse() {
    if (!m_ipcReady) {
        __dlog_printf(kLogSeverity, kLogSource, kNotReadyFormat, "ReadResponse");
        return nullptr;
    }
    // Zeroed, as the server's buffer is: a read that reports success but stores fewer bytes
    // than asked leaves zeros, never stale stack bytes, for the length and the frame.
    unsigned char frame[MaxFrameSize] = {};
    int got = 0;
    int status = m_session->ReadData(frame, WordSize, &got, s_readTimeout, 0);
    if (status != 0) {
        if (status != kReadTimedOut) {
            __dlog_printf(kLogSeverity, kLogSource, kReadStatusFormat, "ReadResponse", status);
        }
        return nullptr;
    }
    status = m_session->ReadData(frame + WordSize, WordSize, &got, s_readTimeout, 0);
    if (status != 0) {
        __dlog_printf(kLogSeverity, kLogSource, kWaitFormat, "ReadResponse", status);
        return nullptr;
    }
    // The length field is untrusted: the rest of the frame (L + 4 bytes) must fit the
    // buffer, and a count of 0 or below cannot be read. Such a frame's bytes stay in the
    // FIFO; the next call reads on from there.
    const int payloadLength = LxIpcMsgUtil::ExtractInteger(frame + LengthOffset);
    if (payloadLength > MaxPayloadLength || payloadLength <= -WordSize) {
        __dlog_printf(kLogSeverity, kLogSource, kBadLengthFormat, "ReadResponse", payloadLength);
        return nullptr;
    }
    status = m_session->ReadData(frame + HeaderSize, payloadLength + WordSize, &got,
                                 s_readTimeout, 0);
    if (status != 0) {
        __dlog_printf(kLogSeverity, kLogSource, kWaitFormat, "ReadResponse", status);
        return nullptr;
    }
    // Only bytes this call stored count as frame bytes.
    const int stored = std::clamp(got, 0, payloadLength + WordSize);
    return LxTarvexDetectedMacMsg::DeSerialize(frame, HeaderSize + stored);
}
