// Base of the IPC sessions: the session state, the status values and the data operations.
#ifndef LX_IPC_SESSION_H
#define LX_IPC_SESSION_H

#include "ZamIpcExport.h"

// Status values returned by the IPC operations. 0 and 2 are the only non-failures;
// 5 is kept free for the endpoints' "no session or no message".
enum LxIpcStatus {
    IpcStatusOk = 0,
    IpcStatusTimeout = 2,        // nothing arrived before the read's deadline
    IpcStatusBadArgument = 10,   // null pointer, negative count or unusable FIFO name
    IpcStatusNotFifo = 11,       // the path holds something other than a FIFO, or a symlink
    IpcStatusCreateFailed = 12,  // mkfifo failed (directory missing, no permission, ...)
    IpcStatusOpenFailed = 13,    // open failed for another reason
    IpcStatusNoReader = 14,      // the FIFO exists but nobody has it open for reading
    IpcStatusNoFifo = 15,        // the peer's FIFO does not exist
    IpcStatusNotOpen = 16,       // the read or write FIFO this operation needs is not open
    IpcStatusReadFailed = 17,    // read or poll failed
    IpcStatusWriteFailed = 18,   // write or poll failed
    IpcStatusFifoFull = 19,      // the FIFO stayed full for the whole bounded write wait
    IpcStatusPeerGone = 20,      // the reader closed its end (EPIPE)
    IpcStatusNotOwner = 21,      // the own FIFO exists but belongs to another user
    IpcStatusBusy = 22,          // another process reads this FIFO, which is one reader's
};

// What a session has open.
enum LxIpcSessionState {
    IpcStateClosed = 1,    // nothing open
    IpcStateReadOpen = 4,  // the own read FIFO is open (and no write FIFO)
    IpcStateWriteOpen = 5, // a peer's FIFO is open for writing
    IpcStateReadStale = 6, // the read FIFO is open, but its node left its path (removed or
                           // replaced): reopen it to be reachable again (no write FIFO open)
};

class ZAMIPC_API LxIpcSession {
public:
    LxIpcSession();
    virtual ~LxIpcSession();

    LxIpcSession(const LxIpcSession&) = delete;
    LxIpcSession& operator=(const LxIpcSession&) = delete;

    // The descriptor a caller may poll for incoming data, or -1 when none is open.
    virtual int GetReadDescriptor() const = 0;

    // Stores up to `wanted` bytes at `buffer` and their number in `*got`. Waits at most
    // `seconds` s + `milliseconds` ms for data; returns as soon as any data is there.
    // Returns IpcStatusOk, IpcStatusTimeout (nothing arrived, *got = 0) or a failure.
    virtual int ReadData(unsigned char* buffer, int wanted, int* got, int seconds,
                         int milliseconds) = 0;

    // Writes `count` bytes in one piece. Returns IpcStatusOk or a failure status.
    virtual int WriteData(const unsigned char* buffer, int count) = 0;

    // One of LxIpcSessionState.
    int GetSessionState() const;

protected:
    void SetSessionState(int state);

private:
    int m_sessionState;
};

#endif
