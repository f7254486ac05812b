// Our IPC stand-in's FIFO sessions over real FIFOs in a fresh directory. Its codec is checked
// by the fuzz_string_param target.
#include "ChildProcess.h"
#include "LxIpcFifoSession.h"
#include "LxIpcMsgUtil.h"
#include "OpenDescriptors.h"
#include "TempFifoDir.h"

#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace {

// A fresh FIFO directory, a server session reading its FIFO "srv" and a client session.
struct IpcFifoSession : ::testing::Test {
    void SetUp() override { ASSERT_EQ(m_server.OpenReadFifo("srv", 0600), IpcStatusOk); }
    TempFifoDir m_dir;
    LxIpcFifoSession m_server{"srv", LxIpcFifoSession::IpcCloseConfirmReadWrite};
    LxIpcFifoSession m_client{"cli", LxIpcFifoSession::IpcCloseNoConfirm};
};

using Bytes = std::vector<unsigned char>;
const unsigned char* const kFour = reinterpret_cast<const unsigned char*>("four");

Bytes Content(const LxIpcMsgBuffer& buffer) {
    return Bytes(buffer.GetBuf(), buffer.GetBuf() + buffer.GetLength());
}

// Seconds a read of an idle FIFO waited, given its seconds and milliseconds.
double IdleReadSeconds(LxIpcFifoSession& session, int seconds, int milliseconds) {
    unsigned char byte;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(session.ReadData(&byte, 1, nullptr, seconds, milliseconds), IpcStatusTimeout);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

// Bad arguments append nothing; integers are big-endian; a string parameter is its length
// and its text with the NUL, read from a heap copy of exactly that size (ASan sees one byte
// more).
TEST(IpcMsgBuffer, RangesAreCheckedAndParametersEncodedExactly) {
    LxIpcMsgBuffer buffer(0);
    EXPECT_EQ(buffer.sputn(nullptr, 4), 0);
    EXPECT_EQ(buffer.sputn(kFour, -1), 0);
    EXPECT_EQ(LxIpcMsgUtil::PutInteger(&buffer, 0x01020304), IpcStatusOk);
    EXPECT_EQ(LxIpcMsgUtil::PutInteger(nullptr, 1), IpcStatusBadArgument);
    for (const int position : {-1, 1, 4}) {
        EXPECT_EQ(LxIpcMsgUtil::PutIntegerAt(&buffer, position, 9), IpcStatusBadArgument);
    }
    EXPECT_FALSE(buffer.Overwrite(0, kFour, 5));
    EXPECT_EQ(LxIpcMsgUtil::PutIntegerAt(&buffer, 0, 0x05060708), IpcStatusOk);
    const auto text = std::make_unique<char[]>(3);
    std::memcpy(text.get(), "ab", 3);
    EXPECT_EQ(LxIpcMsgUtil::PutStringParam(&buffer, text.get()), IpcStatusOk);
    EXPECT_EQ(Content(buffer), (Bytes{5, 6, 7, 8, 0, 0, 0, 2, 'a', 'b', 0}));
    EXPECT_EQ(LxIpcMsgUtil::PutStringParam(nullptr, "a"), IpcStatusBadArgument);
}

// A negative part counts as 0; a wait never ends before its time (a remainder is rounded
// up); the upper bounds only catch a wait that ignores its arguments.
TEST_F(IpcFifoSession, ReadWaitsHonourTheirTimeAndTreatNegativePartsAsZero) {
    EXPECT_LT(IdleReadSeconds(m_server, -1, -1), 0.5);
    const double wait = IdleReadSeconds(m_server, -5, 150);
    EXPECT_GE(wait, 0.15);
    EXPECT_LT(wait, 1);
    EXPECT_GE(IdleReadSeconds(m_server, 1, -500), 1);
}

// Bad arguments are refused before any I/O; a write larger than the FIFO resumes where its
// partial write stopped, so the reader gets every byte in order.
TEST_F(IpcFifoSession, WritesCheckTheirArgumentsAndResumeAfterAPartialWrite) {
    EXPECT_EQ(m_client.WriteData(kFour, 4), IpcStatusNotOpen);
    ASSERT_EQ(m_client.OpenWriteFifo("srv"), IpcStatusOk);
    EXPECT_EQ(m_client.WriteData(nullptr, 4), IpcStatusBadArgument);
    EXPECT_EQ(m_client.WriteData(kFour, -1), IpcStatusBadArgument);
    EXPECT_EQ(m_client.WriteData(nullptr, 0), IpcStatusOk);
    unsigned char byte;
    EXPECT_EQ(m_server.ReadData(nullptr, 1, nullptr, 0, 0), IpcStatusBadArgument);
    EXPECT_EQ(m_server.ReadData(&byte, -1, nullptr, 0, 0), IpcStatusBadArgument);
    constexpr int kSize = 200000; // three times a FIFO's usual capacity
    Bytes sent(kSize);
    for (int i = 0; i < kSize; ++i) {
        sent[static_cast<std::size_t>(i)] = static_cast<unsigned char>(i % 251);
    }
    ChildProcess writer([this, &sent] { return m_client.WriteData(sent.data(), kSize); });
    m_client.CloseWriteFifo();
    Bytes got(kSize);
    for (int done = 0, n = 0; done < kSize; done += n) {
        ASSERT_EQ(m_server.ReadData(got.data() + done, kSize - done, &n, 2, 0), IpcStatusOk);
    }
    EXPECT_EQ(writer.Wait(5), IpcStatusOk);
    EXPECT_EQ(got, sent);
}

// Reopens, the one refused half way (another process's lock on the FIFO) included, leave no
// descriptor behind; a FIFO renamed and reopened under its new name is the one read, and the
// idle read's node check looks for it there.
TEST_F(IpcFifoSession, ReopensLeaveNoDescriptorAndFollowARenamedFifo) {
    ChildProcess holder([] {
        LxIpcFifoSession other("other", LxIpcFifoSession::IpcCloseConfirmReadWrite);
        return other.OpenReadFifo("other", 0600) == IpcStatusOk && raise(SIGSTOP) == 0 ? pause()
                                                                                       : 1;
    });
    ASSERT_EQ(waitpid(holder.Pid(), nullptr, WUNTRACED), holder.Pid());
    const int before = OpenDescriptors();
    EXPECT_EQ(m_server.OpenReadFifo("other", 0600), IpcStatusBusy);
    EXPECT_EQ(m_client.OpenWriteFifo("srv"), IpcStatusOk);
    EXPECT_EQ(m_client.OpenWriteFifo("srv"), IpcStatusOk);
    EXPECT_EQ(OpenDescriptors(), before + 1);
    ASSERT_EQ(rename(m_dir.PathOf("srv").c_str(), m_dir.PathOf("moved").c_str()), 0);
    EXPECT_EQ(m_server.OpenReadFifo("moved", 0600), IpcStatusOk);
    EXPECT_EQ(OpenDescriptors(), before + 1);
    IdleReadSeconds(m_server, 0, 10);
    EXPECT_EQ(m_server.GetSessionState(), IpcStateReadOpen);
}

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
