// The multiplexer server's endpoint: reads request frames from "TarMuxMsgServerIpc" one
// read per call and writes replies to "TarMuxMsgClientIpc".
#ifndef LX_TARVEX_MUX_MSG_SERVER_H
#define LX_TARVEX_MUX_MSG_SERVER_H

#include "TarvexExport.h"

class LxIpcFifoSession;
class LxTarvexDetectedMacMsg;

// A process-wide singleton used from one thread: GetInstance, InitTarvexMuxMsgServer until
// it returns true, then ReadFromClient and SendToClient in any mix; delete it at the end.
class TARVEX_API LxTarvexMuxMsgServer {
public:
    // The steps of the frame reader.
    enum ReadState {
        ReadStateStartMarker = 0, // next: 4 bytes that should be the start marker
        ReadStateLength = 1,      // next: the 4-byte payload length
        ReadStatePayload = 2,     // next: up to m_bytesRemaining payload bytes
        ReadStateEndMarker = 3,   // next: 4 bytes that should be the end marker
    };

    // The singleton, created on first use (no IPC call).
    static LxTarvexMuxMsgServer* GetInstance();

    // Closes the read FIFO, deletes the session and the buffer, clears the singleton.
    virtual ~LxTarvexMuxMsgServer();

    LxTarvexMuxMsgServer(const LxTarvexMuxMsgServer&) = delete;
    LxTarvexMuxMsgServer& operator=(const LxTarvexMuxMsgServer&) = delete;

    // Opens the server's FIFO for reading; false (logged) on failure. Once a session exists
    // it is kept: true at once while its FIFO is open, else the FIFO is reopened through it
    // (false, logged, when that fails; the session stays for the next call).
    bool InitTarvexMuxMsgServer();

    // Makes at most one read, waiting at most 20 ms, and moves the frame reader on one
    // step. Returns a new message, owned by the caller, when that step completes a frame;
    // otherwise null. Frames whose length field is not within 1..180 are dropped.
    // std::invalid_argument from a malformed image text passes on; the reader is reset.
    LxTarvexDetectedMacMsg* ReadFromClient();

    // Writes `message`'s frame to the client's FIFO. Returns 0 when written whole, 5 when
    // there is no session or no message, else the IPC failure status. The message stays
    // the caller's.
    int SendToClient(LxTarvexDetectedMacMsg* message);

private:
    TARVEX_HIDDEN LxTarvexMuxMsgServer();

    // One step of the reader each: the bytes wanted by the next read, the 4-byte steps,
    // the payload step, the end of a frame, and the way back to the start marker.
    TARVEX_HIDDEN int ReadWanted() const;
    TARVEX_HIDDEN LxTarvexDetectedMacMsg* TakeWord();
    TARVEX_HIDDEN void TakePayload(int got);
    TARVEX_HIDDEN LxTarvexDetectedMacMsg* CompleteFrame();
    TARVEX_HIDDEN void ResetReader();

    static LxTarvexMuxMsgServer* s_tarvexMuxMsgServerSingleton;

    ReadState m_readState;
    unsigned char* m_rxBuffer;
    unsigned char* m_rxCursor;
    int m_bytesRemaining;
    LxIpcFifoSession* m_session;
};

#endif
