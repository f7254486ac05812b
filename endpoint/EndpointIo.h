// What the server and the client endpoints share: FIFO names, log texts, opening the
// own FIFO and sending one frame to the peer.
#ifndef ZAM_ENDPOINT_IO_H
#define ZAM_ENDPOINT_IO_H

class LxIpcFifoSession;
class LxTarvexDetectedMacMsg;

namespace zam::endpoint {

constexpr const char* kServerFifoName = "TarMuxMsgServerIpc"; // requests, read by the server
constexpr const char* kClientFifoName = "TarMuxMsgClientIpc"; // replies, read by the client
constexpr unsigned int kFifoMode = 0777;

// Returned by the send operations when there is no session or no message.
constexpr int kNoSessionOrMessage = 5;
// Values of the IPC library the endpoints rely on.
constexpr int kReadTimedOut = 2;     // read status: nothing arrived in time
constexpr int kStateReadOpen = 4;    // session state: own read FIFO open
constexpr int kStateWriteOpen = 5;   // session state: peer's FIFO open for writing

constexpr int kLogSeverity = 3;
constexpr const char* kOpenFailedFormat = "%s: Failed to open IPC FIFO: %s  sessionStatus: %d";
constexpr const char* kReadStatusFormat = "%s: INVALID READ STATUS: %d";
constexpr const char* kWriteStatusFormat = "%s: INVALID WRITE STATUS: %d";

// Opens the FIFO `fifoName` for reading through `session`; a failure is logged with
// `source` and `operation`. Returns the status.
int OpenOwnFifo(LxIpcFifoSession& session, const char* fifoName, const char* source,
                const char* operation);

// Serialises `message` and writes its frame to the FIFO `peerFifo` in one write, opening
// the write FIFO first unless it is open and closing it after any write attempt.
// Returns 0, kNoSessionOrMessage, or the IPC failure status.
int SendFrame(LxIpcFifoSession* session, const char* peerFifo,
              const LxTarvexDetectedMacMsg* message, const char* source, const char* operation);

} // namespace zam::endpoint

#endif
