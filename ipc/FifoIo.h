// The POSIX rules of the FIFO session in one place: paths, opens, bounded waits,
// errno translation and the one place where SIGPIPE is kept from the process.
#ifndef ZAM_FIFO_IO_H
#define ZAM_FIFO_IO_H

#include "Deadline.h"

#include <cstddef>
#include <sys/stat.h>
#include <sys/types.h>

namespace zam::detail {

// Environment variable naming the FIFO directory, and its default.
constexpr const char* kFifoDirVariable = "ZAMIPC_FIFO_DIR";
constexpr const char* kDefaultFifoDir = "/tmp";
// Longest wait of a write on a full FIFO.
constexpr int kWriteWaitMs = 1000;

// Writes "<fifo dir>/<name>" into `path`. Returns IpcStatusOk, or IpcStatusBadArgument for
// a name that is empty, holds '/', is "." or "..", or makes the path too long.
int BuildFifoPath(const char* name, char* path, std::size_t capacity);

// Opens an existing FIFO node non-blocking and close-on-exec, never following a symbolic
// link; anything but a FIFO is closed again and refused. Returns a status; *fd on success.
// Only when the open fails with ENXIO is the path looked at, to tell a FIFO that nobody
// reads (IpcStatusNoReader) from a socket or device node (IpcStatusNotFifo).
int OpenFifoNode(const char* path, int accessMode, int* fd);

// Looks at the node at `path` before an own FIFO is opened, without following a symbolic
// link, so that what the path holds decides the status rather than the errno of a failed
// open: IpcStatusNotFifo for anything but a FIFO, IpcStatusNotOwner for a FIFO of another
// user (whatever its mode). Fills *node on success.
int InspectOwnFifo(const char* path, struct stat* node);

// Checks the two ends of an own read FIFO: IpcStatusOpenFailed when they are not the same
// node (it was replaced between the opens), IpcStatusNotOwner when another user owns it
// (someone else made the name first and could read or forge our traffic). Fills *node with
// the read end's node.
int CheckOwnFifo(int readFd, int keeperFd, struct stat* node);

// Takes the advisory lock that makes `fd`'s FIFO one process's to read: flock, exclusive,
// without waiting. It goes with the last descriptor of this open (at exit or kill too; a
// child forked without exec shares it). IpcStatusBusy when another open holds it.
int LockForOneReader(int fd);

// False when the FIFO node `device`/`inode` is no longer at `path`: the name is gone, or
// holds something else. True while it is there, and when lstat cannot tell (no search
// permission, say).
bool IsNodeAtPath(const char* path, dev_t device, ino_t inode);

// Waits for `events` on `fd` until the deadline, resuming after EINTR.
// Returns IpcStatusOk when ready, IpcStatusTimeout, or `failure`.
int WaitFor(int fd, short events, const Deadline& deadline, int failure);

// Sleeps until the deadline, resuming after EINTR.
void SleepUntil(const Deadline& deadline);

// write(2) with SIGPIPE blocked for the calling thread; a SIGPIPE raised by this write is
// consumed, whatever the caller's mask, so the caller sees EPIPE and the process's signal
// dispositions stay untouched. A SIGPIPE that was pending before the write stays pending.
ssize_t WriteWithoutSigpipe(int fd, const void* data, std::size_t size);

// Closes `fd` when open (without retrying on EINTR) and sets it to -1.
void CloseFd(int& fd);

} // namespace zam::detail

#endif
