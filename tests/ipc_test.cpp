// Our IPC stand-in's FIFO sessions over real FIFOs in a fresh directory. Its codec is checked
// by the fuzz_string_param target.
#include "ChildProcess.h"
#include "LxIpcFifoSession.h"
#include "TempFifoDir.h"

#include <climits>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

// A fresh FIFO directory, a server session reading its FIFO "srv" and a client session.
struct IpcFifoSession : ::testing::Test {
    void SetUp() override { ASSERT_EQ(m_server.OpenReadFifo("srv", 0600), IpcStatusOk); }
    TempFifoDir m_dir;
    LxIpcFifoSession m_server{"srv", LxIpcFifoSession::IpcCloseConfirmReadWrite};
    LxIpcFifoSession m_client{"cli", LxIpcFifoSession::IpcCloseNoConfirm};
};

} // namespace

// The longest path that fits PATH_MAX reaches the file system (and fails there: names are
// shorter); one byte more is refused before.
TEST_F(IpcFifoSession, NamesThatLeaveTheDirectoryAndPathsTooLongAreRefused) {
    const std::string tooLong(PATH_MAX - m_dir.Path().size() - 1, 'n');
    for (const char* name : {"", ".", "..", "a/b", tooLong.c_str()}) {
        EXPECT_EQ(m_client.OpenReadFifo(name, 0600), IpcStatusBadArgument) << name;
    }
    EXPECT_EQ(m_client.OpenReadFifo(tooLong.substr(1).c_str(), 0600), IpcStatusCreateFailed);
}

TEST_F(IpcFifoSession, AnEmptyDirectoryVariableMeansTmp) {
    setenv("ZAMIPC_FIFO_DIR", "", 1);
    const std::string name = "zam-ipc-test-" + std::to_string(getpid());
    EXPECT_EQ(m_client.OpenReadFifo(name.c_str(), 0600), IpcStatusOk);
    EXPECT_EQ(unlink(("/tmp/" + name).c_str()), 0);
}

// What the path holds decides the status on either side, not the errno of a failed open:
// a symbolic link is not followed (not even to a FIFO that is read), and a socket, which
// cannot be opened, is no FIFO without reader.
TEST_F(IpcFifoSession, EachKindOfNodeUnderTheNameGetsItsOwnStatus) {
    ASSERT_EQ(mkfifo(m_dir.PathOf("idle").c_str(), 0600), 0);
    ASSERT_EQ(mknod(m_dir.PathOf("file").c_str(), S_IFREG | 0600, 0), 0);
    ASSERT_EQ(mknod(m_dir.PathOf("socket").c_str(), S_IFSOCK | 0600, 0), 0);
    ASSERT_EQ(symlink("srv", m_dir.PathOf("link").c_str()), 0);
    EXPECT_EQ(m_client.OpenWriteFifo("missing"), IpcStatusNoFifo);
    EXPECT_EQ(m_client.OpenWriteFifo("idle"), IpcStatusNoReader);
    for (const char* name : {"file", "socket", "link"}) {
        EXPECT_EQ(m_client.OpenWriteFifo(name), IpcStatusNotFifo) << name;
        EXPECT_EQ(m_client.OpenReadFifo(name, 0600), IpcStatusNotFifo) << name;
    }
}

// Refused as another user's before it is opened, so that the status does not depend on what
// its mode lets us open (0644 less the umask: reading at most).
TEST_F(IpcFifoSession, AFifoAnotherUserMadeUnderOurNameFirstIsRefused) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "making a FIFO of another user needs root";
    }
    ASSERT_EQ(chmod(m_dir.Path().c_str(), 0711), 0); // others may search it, not list or create
    ASSERT_EQ(mkfifo(m_dir.PathOf("theirs").c_str(), 0644), 0);
    ChildProcess victim([this] { // as nobody
        return setuid(65534) == 0 ? m_client.OpenReadFifo("theirs", 0600) : -1;
    });
    EXPECT_EQ(victim.Wait(10), IpcStatusNotOwner);
}

// A program the process execs inherits none of the descriptors.
TEST_F(IpcFifoSession, AnOpenWriteFifoShowsInTheStateAndNoDescriptorIsInherited) {
    ASSERT_EQ(m_server.OpenWriteFifo("srv"), IpcStatusOk);
    EXPECT_EQ(m_server.GetSessionState(), IpcStateWriteOpen);
    EXPECT_EQ(fcntl(m_server.GetReadDescriptor(), F_GETFD), FD_CLOEXEC);
}

// The server's FIFO is one session's to read: reopening the one it reads does not meet its
// own lock, and a failed open of another (whose reader holds it) leaves it reading the one it
// had, the bytes waiting in it too.
TEST_F(IpcFifoSession, AReopenNeitherMeetsItsOwnLockNorLosesTheFifoItReads) {
    LxIpcFifoSession holder("other", LxIpcFifoSession::IpcCloseConfirmReadWrite);
    ASSERT_EQ(holder.OpenReadFifo("other", 0600), IpcStatusOk);
    ASSERT_EQ(m_client.OpenWriteFifo("srv"), IpcStatusOk);
    ASSERT_EQ(m_client.WriteData(reinterpret_cast<const unsigned char*>("kept"), 4), IpcStatusOk);
    m_client.CloseWriteFifo(); // no writer left but the reader's own
    EXPECT_EQ(m_server.OpenReadFifo("srv", 0600), IpcStatusOk);
    EXPECT_EQ(m_server.OpenReadFifo("other", 0600), IpcStatusBusy);
    unsigned char bytes[8];
    int got = 0;
    EXPECT_EQ(m_server.ReadData(bytes, 8, &got, 1, 0), IpcStatusOk);
    EXPECT_EQ(std::string(bytes, bytes + got), "kept");
}
