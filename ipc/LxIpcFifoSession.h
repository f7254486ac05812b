// IPC session over named FIFOs: one own FIFO kept open for reading, a peer's FIFO
// opened for writing for the length of a send.
#ifndef LX_IPC_FIFO_SESSION_H
#define LX_IPC_FIFO_SESSION_H

#include "LxIpcSession.h"

#include <climits>
#include <sys/types.h>

// FIFO nodes live in the directory named by ZAMIPC_FIFO_DIR (read at each open), or /tmp.
// Every descriptor is opened non-blocking and close-on-exec. Not thread-safe: one session
// is used from one thread.
class ZAMIPC_API LxIpcFifoSession : public LxIpcSession {
public:
    // How a close is confirmed to the peer. FIFOs carry no close handshake, so this
    // stand-in records the value (GetCloseConfirmBehavior) and closes at once for all.
    // In this stand-in the value also says who may read the session's own FIFO: with 2,
    // the server's, the session reads it alone (an advisory lock held for as long as the
    // FIFO is open, and dropped when the process ends, however it ends); with 0, the
    // clients', any number of processes share it (the reply FIFO).
    enum IpcCloseConfirmBehavior {
        IpcCloseNoConfirm = 0,
        IpcCloseConfirmWrite = 1,
        IpcCloseConfirmReadWrite = 2,
    };

    // `name`: the session's own FIFO name, copied (longer names are cut to 63 bytes).
    LxIpcFifoSession(const char* name, IpcCloseConfirmBehavior behavior);
    ~LxIpcFifoSession() override;

    // Creates the FIFO `name` with `mode` (umask applies) when it is missing and opens it
    // for reading; an open read FIFO is replaced once the new one is open, so that bytes
    // waiting in it are kept (on failure it stays open). The node at the path is looked at
    // before it is opened: anything but a FIFO (a symbolic link, a socket, a file) is
    // refused with IpcStatusNotFifo, a FIFO of another user, whatever its mode, with
    // IpcStatusNotOwner; either is left untouched. With behavior 2, a FIFO that another
    // process reads alone is refused with IpcStatusBusy. The node this session reads
    // already is kept open as it is, with its lock.
    int OpenReadFifo(const char* name, unsigned int mode);
    void CloseReadFifo();

    // Opens the peer's FIFO for writing without waiting and without following a symbolic
    // link: IpcStatusNoFifo when it does not exist, IpcStatusNoReader when nobody reads it,
    // IpcStatusNotFifo for anything but a FIFO (closed again at once when the open
    // succeeded). An open write FIFO is closed first.
    int OpenWriteFifo(const char* name);
    void CloseWriteFifo();

    int GetReadDescriptor() const override;
    // When a read has waited its time for nothing, and at most once a second, the read
    // FIFO's node is looked up at its path: once it is gone or replaced (a /tmp cleaner, an
    // operator's rm) the state becomes IpcStateReadStale, logged once, and the owner's
    // reopen creates the node anew. A read that finds bytes makes no such check.
    int ReadData(unsigned char* buffer, int wanted, int* got, int seconds,
                 int milliseconds) override;
    // One write(2); waits at most 1 s while the FIFO is full. Never raises SIGPIPE.
    int WriteData(const unsigned char* buffer, int count) override;

    const char* GetName() const;
    IpcCloseConfirmBehavior GetCloseConfirmBehavior() const;

private:
    ZAMIPC_HIDDEN void UpdateState();
    // Records the node of the read FIFO just opened (or found open) at `path`.
    ZAMIPC_HIDDEN void KeepReadNode(const char* path, dev_t device, ino_t inode);
    // After an idle wait, at most once a second: is the read FIFO's node still at its path?
    ZAMIPC_HIDDEN void WatchReadNode();

    char m_name[64];
    IpcCloseConfirmBehavior m_closeBehavior;
    int m_readFd;
    int m_readKeeperFd; // our own writer on the read FIFO: no end-of-file while peers come and go
    int m_writeFd;
    dev_t m_readDevice; // the node of the open read FIFO, and where it was opened
    ino_t m_readInode;
    char m_readPath[PATH_MAX];
    long long m_nextNodeCheckNs; // CLOCK_MONOTONIC: the earliest time to look up the node
    bool m_readNodeLeft;         // the node is no longer at m_readPath
};

#endif
