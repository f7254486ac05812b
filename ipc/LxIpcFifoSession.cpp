// FIFO session: own read FIFO with a keeper writer, peer write FIFO per send.
#include "LxIpcFifoSession.h"

#include "FifoIo.h"
#include "dlog.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <optional>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

using zam::detail::BuildFifoPath;
using zam::detail::CloseFd;
using zam::detail::Deadline;
using zam::detail::OpenFifoNode;
using zam::detail::WaitFor;

namespace {

constexpr int kLogSeverity = 3;
constexpr const char* kLogSource = "LxIpcFifoSession";
constexpr const char* kNodeLeftFormat =
    "%s: FIFO %s was removed or replaced: peers cannot reach it until it is reopened";
// How often an idle read looks up its FIFO's node at most.
constexpr long long kNodeCheckIntervalNs = 1000000000LL;

// Opens both ends of the own read FIFO at `path`, the read end locked first when the session
// reads alone. On success *node is the FIFO's node; on failure nothing stays open.
int OpenReadEnds(const char* path, bool alone, int* readFd, int* keeperFd, struct stat* node) {
    int status = OpenFifoNode(path, O_RDONLY, readFd);
    if (status == IpcStatusOk && alone) {
        status = zam::detail::LockForOneReader(*readFd);
    }
    // Holding a writer of our own keeps read(2) from reporting end-of-file whenever the
    // last peer closes, which would otherwise turn every wait into a busy loop.
    if (status == IpcStatusOk) {
        status = OpenFifoNode(path, O_WRONLY, keeperFd);
    }
    if (status == IpcStatusOk) {
        status = zam::detail::CheckOwnFifo(*readFd, *keeperFd, node);
    }
    if (status != IpcStatusOk) {
        CloseFd(*keeperFd);
        CloseFd(*readFd);
    }
    return status;
}

} // namespace

LxIpcFifoSession::LxIpcFifoSession(const char* name, IpcCloseConfirmBehavior behavior)
    : m_name(), m_closeBehavior(behavior), m_readFd(-1), m_readKeeperFd(-1), m_writeFd(-1),
      m_readDevice(0), m_readInode(0), m_readPath(), m_nextNodeCheckNs(0),
      m_readNodeLeft(false) {
    std::snprintf(m_name, sizeof m_name, "%s", name != nullptr ? name : "");
}

LxIpcFifoSession::~LxIpcFifoSession() {
    CloseWriteFifo();
    CloseReadFifo();
}

int LxIpcFifoSession::OpenReadFifo(const char* name, unsigned int mode) {
    char path[PATH_MAX];
    int status = BuildFifoPath(name, path, sizeof path);
    if (status != IpcStatusOk) {
        return status;
    }
    if (mkfifo(path, static_cast<mode_t>(mode)) != 0 && errno != EEXIST) {
        return IpcStatusCreateFailed;
    }
    // What the path holds is checked first; the checks after the opens still catch a node
    // swapped in between.
    struct stat node {};
    status = zam::detail::InspectOwnFifo(path, &node);
    if (status != IpcStatusOk) {
        return status;
    }
    // The node this session reads already: a second open would only meet our own lock.
    if (m_readFd >= 0 && node.st_dev == m_readDevice && node.st_ino == m_readInode) {
        KeepReadNode(path, node.st_dev, node.st_ino);
        return IpcStatusOk;
    }
    int readFd = -1;
    int keeperFd = -1;
    status = OpenReadEnds(path, m_closeBehavior == IpcCloseConfirmReadWrite, &readFd, &keeperFd,
                          &node);
    if (status != IpcStatusOk) {
        return status;
    }
    // The old ends close only now: with the new ones open, bytes waiting in the FIFO stay.
    CloseReadFifo();
    m_readFd = readFd;
    m_readKeeperFd = keeperFd;
    KeepReadNode(path, node.st_dev, node.st_ino);
    return IpcStatusOk;
}

void LxIpcFifoSession::CloseReadFifo() {
    CloseFd(m_readKeeperFd);
    CloseFd(m_readFd);
    m_readNodeLeft = false;
    UpdateState();
}

int LxIpcFifoSession::OpenWriteFifo(const char* name) {
    CloseWriteFifo();
    char path[PATH_MAX];
    const int status = BuildFifoPath(name, path, sizeof path);
    if (status != IpcStatusOk) {
        return status;
    }
    const int opened = OpenFifoNode(path, O_WRONLY, &m_writeFd);
    UpdateState();
    return opened;
}

void LxIpcFifoSession::CloseWriteFifo() {
    CloseFd(m_writeFd);
    UpdateState();
}

int LxIpcFifoSession::GetReadDescriptor() const { return m_readFd; }

int LxIpcFifoSession::ReadData(unsigned char* buffer, int wanted, int* got, int seconds,
                               int milliseconds) {
    if (got != nullptr) {
        *got = 0;
    }
    if (m_readFd < 0) {
        return IpcStatusNotOpen;
    }
    if (wanted < 0 || (buffer == nullptr && wanted > 0)) {
        return IpcStatusBadArgument;
    }
    if (wanted == 0) {
        return IpcStatusOk;
    }
    const long long waitMs = static_cast<long long>(seconds < 0 ? 0 : seconds) * 1000 +
                             (milliseconds < 0 ? 0 : milliseconds);
    // The clock is read only once a wait is needed: when bytes are waiting, one read(2)
    // is the whole cost of the call.
    std::optional<Deadline> deadline;
    for (;;) {
        const ssize_t n = read(m_readFd, buffer, static_cast<size_t>(wanted));
        if (n > 0) {
            if (got != nullptr) {
                *got = static_cast<int>(n);
            }
            return IpcStatusOk;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            return IpcStatusReadFailed;
        }
        if (!deadline) {
            deadline.emplace(waitMs);
        }
        if (n == 0) {
            // End-of-file cannot happen while our keeper writer is open; never spin on it.
            zam::detail::SleepUntil(*deadline);
            return IpcStatusTimeout;
        }
        const int waited = WaitFor(m_readFd, POLLIN, *deadline, IpcStatusReadFailed);
        if (waited == IpcStatusTimeout) {
            WatchReadNode(); // idle: nobody could reach a node that left its path
        }
        if (waited != IpcStatusOk) {
            return waited;
        }
    }
}

int LxIpcFifoSession::WriteData(const unsigned char* buffer, int count) {
    if (m_writeFd < 0) {
        return IpcStatusNotOpen;
    }
    if (count < 0 || (buffer == nullptr && count > 0)) {
        return IpcStatusBadArgument;
    }
    std::optional<Deadline> deadline; // started at the first full-FIFO wait
    int done = 0;
    while (done < count) {
        const ssize_t n = zam::detail::WriteWithoutSigpipe(m_writeFd, buffer + done,
                                                           static_cast<size_t>(count - done));
        if (n > 0) {
            done += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EPIPE) {
            return IpcStatusPeerGone;
        }
        if (n == 0 || errno != EAGAIN) {
            return IpcStatusWriteFailed;
        }
        // Full FIFO: wait for room, but never longer than the bounded write wait.
        if (!deadline) {
            deadline.emplace(zam::detail::kWriteWaitMs);
        }
        const int waited = WaitFor(m_writeFd, POLLOUT, *deadline, IpcStatusWriteFailed);
        if (waited == IpcStatusTimeout) {
            return IpcStatusFifoFull;
        }
        if (waited != IpcStatusOk) {
            return waited;
        }
    }
    return IpcStatusOk;
}

const char* LxIpcFifoSession::GetName() const { return m_name; }

LxIpcFifoSession::IpcCloseConfirmBehavior LxIpcFifoSession::GetCloseConfirmBehavior() const {
    return m_closeBehavior;
}

void LxIpcFifoSession::UpdateState() {
    if (m_writeFd >= 0) {
        SetSessionState(IpcStateWriteOpen);
    } else if (m_readFd >= 0) {
        SetSessionState(m_readNodeLeft ? IpcStateReadStale : IpcStateReadOpen);
    } else {
        SetSessionState(IpcStateClosed);
    }
}

void LxIpcFifoSession::KeepReadNode(const char* path, dev_t device, ino_t inode) {
    std::snprintf(m_readPath, sizeof m_readPath, "%s", path);
    m_readDevice = device;
    m_readInode = inode;
    m_readNodeLeft = false;
    m_nextNodeCheckNs = 0; // the first idle read looks
    UpdateState();
}

void LxIpcFifoSession::WatchReadNode() {
    if (m_readNodeLeft) {
        return; // noticed and logged already; the owner's reopen clears it
    }
    const long long now = zam::detail::MonotonicNs();
    if (now < m_nextNodeCheckNs) {
        return;
    }
    m_nextNodeCheckNs = now + kNodeCheckIntervalNs;
    if (zam::detail::IsNodeAtPath(m_readPath, m_readDevice, m_readInode)) {
        return;
    }
    m_readNodeLeft = true;
    UpdateState();
    __dlog_printf(kLogSeverity, kLogSource, kNodeLeftFormat, "ReadData", m_readPath);
}
