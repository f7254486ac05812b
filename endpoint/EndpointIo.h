// What the server and the client endpoints share: the values they rely on from the IPC
// library, log texts, opening the own FIFO and sending one frame to the peer.
//
// The IPC library is known only by its interface (ipc/LxIpcFifoSession.h and its
// neighbours): its classes and operations, and the few values below. Its status and state
// names, byte order and string encoding belong to whichever library is linked: our
// stand-in, or the board's own. Endpoint tests link a scripted session in its place
// (tests/support/ScriptedSession.cpp).
#ifndef ZAM_ENDPOINT_IO_H
#define ZAM_ENDPOINT_IO_H

#include "LxIpcFifoSession.h"
#include "TarvexFifos.h"

class LxTarvexDetectedMacMsg;

namespace zam::endpoint {

constexpr unsigned int kFifoMode = 0777;
// How each side's session confirms a close, by value: the interface fixes 2 and 0.
constexpr auto kServerCloseBehavior = static_cast<LxIpcFifoSession::IpcCloseConfirmBehavior>(2);
constexpr auto kClientCloseBehavior = static_cast<LxIpcFifoSession::IpcCloseConfirmBehavior>(0);

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
