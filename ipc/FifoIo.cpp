// POSIX helpers of the FIFO session.
#include "FifoIo.h"

#include "LxIpcSession.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zam::detail {

namespace {

const char* FifoDirectory() {
    const char* dir = std::getenv(kFifoDirVariable);
    return dir != nullptr && dir[0] != '\0' ? dir : kDefaultFifoDir;
}

bool IsFifoNode(const char* path) {
    struct stat node {};
    return lstat(path, &node) == 0 && S_ISFIFO(node.st_mode);
}

bool IsUsableName(const char* name) {
    return name != nullptr && name[0] != '\0' && std::strchr(name, '/') == nullptr &&
           std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}

int OpenStatusFromErrno(const char* path, int error) {
    switch (error) {
    case ELOOP:  // a symbolic link (O_NOFOLLOW)
    case EISDIR: // a directory opened for writing
        return IpcStatusNotFifo;
    case ENXIO: // a FIFO that nobody reads, or a socket or device node under the name
        return IsFifoNode(path) ? IpcStatusNoReader : IpcStatusNotFifo;
    case ENOENT:
        return IpcStatusNoFifo;
    default:
        return IpcStatusOpenFailed;
    }
}

bool SigpipePending() {
    sigset_t pending;
    return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

} // namespace

int BuildFifoPath(const char* name, char* path, std::size_t capacity) {
    if (!IsUsableName(name)) {
        return IpcStatusBadArgument;
    }
    const char* dir = FifoDirectory();
    const std::size_t dirLength = std::strlen(dir);
    const std::size_t nameLength = std::strlen(name);
    if (dirLength + 1 + nameLength >= capacity) {
        return IpcStatusBadArgument;
    }
    std::memcpy(path, dir, dirLength);
    path[dirLength] = '/';
    std::memcpy(path + dirLength + 1, name, nameLength + 1);
    return IpcStatusOk;
}

int OpenFifoNode(const char* path, int accessMode, int* fd) {
    int opened;
    do {
        opened = open(path, accessMode | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    } while (opened < 0 && errno == EINTR);
    if (opened < 0) {
        return OpenStatusFromErrno(path, errno);
    }
    // Only a pipe has a pipe size. Unlike fstat, this does not query the node's times, which
    // on recent kernels makes the next write stamp (and journal) the inode again.
    if (fcntl(opened, F_GETPIPE_SZ) < 0) {
        CloseFd(opened);
        return IpcStatusNotFifo;
    }
    *fd = opened;
    return IpcStatusOk;
}

int InspectOwnFifo(const char* path, struct stat* node) {
    if (lstat(path, node) != 0) {
        return errno == ENOENT ? IpcStatusNoFifo : IpcStatusOpenFailed;
    }
    if (!S_ISFIFO(node->st_mode)) {
        return IpcStatusNotFifo;
    }
    return node->st_uid == geteuid() ? IpcStatusOk : IpcStatusNotOwner;
}

int CheckOwnFifo(int readFd, int keeperFd, struct stat* node) {
    struct stat keeper {};
    if (fstat(readFd, node) != 0 || fstat(keeperFd, &keeper) != 0 ||
        node->st_dev != keeper.st_dev || node->st_ino != keeper.st_ino) {
        return IpcStatusOpenFailed;
    }
    return node->st_uid == geteuid() ? IpcStatusOk : IpcStatusNotOwner;
}

int LockForOneReader(int fd) {
    int locked;
    do {
        locked = flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked == 0) {
        return IpcStatusOk;
    }
    return errno == EWOULDBLOCK ? IpcStatusBusy : IpcStatusOpenFailed;
}

bool IsNodeAtPath(const char* path, dev_t device, ino_t inode) {
    struct stat node {};
    if (lstat(path, &node) != 0) {
        return errno != ENOENT && errno != ENOTDIR;
    }
    return S_ISFIFO(node.st_mode) && node.st_dev == device && node.st_ino == inode;
}

int WaitFor(int fd, short events, const Deadline& deadline, int failure) {
    for (;;) {
        struct pollfd entry = {fd, events, 0};
        const int ready = poll(&entry, 1, deadline.RemainingMs());
        if (ready > 0) {
            return IpcStatusOk;
        }
        if (ready == 0) {
            return IpcStatusTimeout;
        }
        if (errno != EINTR) {
            return failure;
        }
    }
}

void SleepUntil(const Deadline& deadline) {
    for (int left = deadline.RemainingMs(); left > 0; left = deadline.RemainingMs()) {
        poll(nullptr, 0, left);
    }
}

ssize_t WriteWithoutSigpipe(int fd, const void* data, std::size_t size) {
    sigset_t pipeOnly;
    sigset_t previous;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    // A SIGPIPE of the caller's own can wait only behind a mask of theirs that blocks it
    // (a critical section): only then is sigpending asked, so a usual send pays nothing more.
    // One pending before our write is theirs and stays; one that appears with EPIPE is ours.
    const bool callerBlocks = sigismember(&previous, SIGPIPE) == 1;
    const bool callersPending = callerBlocks && SigpipePending();

    ssize_t written;
    do {
        written = write(fd, data, size);
    } while (written < 0 && errno == EINTR);
    const int error = errno;

    // Our write raised a thread-directed SIGPIPE: take it back before the mask is restored,
    // or it would kill the process then.
    if (written < 0 && error == EPIPE && !callersPending) {
        const struct timespec noWait = {0, 0};
        while (sigtimedwait(&pipeOnly, nullptr, &noWait) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return written;
}

void CloseFd(int& fd) {
    if (fd >= 0) {
        // Linux releases the descriptor even when close reports EINTR: never retry.
        close(fd);
        fd = -1;
    }
}

} // namespace zam::detail
