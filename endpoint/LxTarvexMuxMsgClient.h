// The client's endpoint: sends request frames to "TarMuxMsgServerIpc" and reads each reply
// from "TarMuxMsgClientIpc" within one call.
#ifndef LX_TARVEX_MUX_MSG_CLIENT_H
#define LX_TARVEX_MUX_MSG_CLIENT_H

#include "TarvexExport.h"

class LxIpcFifoSession;
class LxTarvexDetectedMacMsg;

// A process-wide singleton used from one thread: GetInstance, InitTarvexMuxIpc, then pairs
// of SendRequest and ReadResponse; delete it at the end. All clients share the one reply
// FIFO and a reply carries nothing that ties it to its request: one client at a time
// should wait for replies.
class TARVEX_API LxTarvexMuxMsgClient {
public:
    // Seconds each read of ReadResponse may wait; read anew for every read. Initially 2.
    static int s_readTimeout;

    // The singleton, created on first use (no IPC call).
    static LxTarvexMuxMsgClient* GetInstance();

    // Closes the read FIFO, deletes the session, clears the singleton.
    virtual ~LxTarvexMuxMsgClient();

    LxTarvexMuxMsgClient(const LxTarvexMuxMsgClient&) = delete;
    LxTarvexMuxMsgClient& operator=(const LxTarvexMuxMsgClient&) = delete;

    // Opens the client's FIFO for reading. True at once after an earlier success; after a
    // failure (logged) the next call tries again with a new session.
    bool InitTarvexMuxIpc();

    // Writes `message`'s frame to the server's FIFO. Returns 0 when written whole, 5 when
    // there is no session or no message, else the IPC failure status (at once when no
    // server reads the FIFO). The message stays the caller's.
    int SendRequest(LxTarvexDetectedMacMsg* message);

    // Reads the next frame on the client's FIFO in three reads (start marker, length, the
    // rest), each waiting at most s_readTimeout seconds. Returns a new message owned by the
    // caller, or null on a timeout, a failure (logged) or a length field outside -3..180.
    // std::invalid_argument from a malformed image text passes on.
    LxTarvexDetectedMacMsg* ReadResponse();

private:
    TARVEX_HIDDEN LxTarvexMuxMsgClient();

    static LxTarvexMuxMsgClient* s_TarvexMuxMsgClientSingleton;

    bool m_ipcReady;
    LxIpcFifoSession* m_session;
};

#endif
