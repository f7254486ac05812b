// Opening the own FIFO and sending one frame, for both endpoints.
#include "EndpointIo.h"

#include "LxIpcFifoSession.h"
#include "LxIpcMsgBuffer.h"
#include "LxTarvexDetectedMacMsg.h"
#include "dlog.h"

#include <memory>

namespace zam::endpoint {

int OpenOwnFifo(LxIpcFifoSession& session, const char* fifoName, const char* source,
                const char* operation) {
    const int status = session.OpenReadFifo(fifoName, kFifoMode);
    if (status != 0) {
        __dlog_printf(kLogSeverity, source, kOpenFailedFormat, operation, fifoName, status);
    }
    return status;
}

int SendFrame(LxIpcFifoSession* session, const char* peerFifo,
              const LxTarvexDetectedMacMsg* message, const char* source, const char* operation) {
    if (session == nullptr || message == nullptr) {
        return kNoSessionOrMessage;
    }
    if (session->GetSessionState() != kStateWriteOpen) {
        const int opened = session->OpenWriteFifo(peerFifo);
        if (opened != 0) {
            return opened;
        }
    }
    const std::unique_ptr<LxIpcMsgBuffer> frame(message->Serialize());
    const int status = session->WriteData(frame->GetBuf(), frame->GetLength());
    if (status != 0) {
        __dlog_printf(kLogSeverity, source, kWriteStatusFormat, operation, status);
    }
    session->CloseWriteFifo();
    return status;
}

} // namespace zam::endpoint
