// Our IPC stand-in: its encodings, and FIFO sessions over real FIFOs in a fresh directory.
#include "LxIpcFifoSession.h"
#include "LxIpcMsgUtil.h"
#include "TempFifoDir.h"

#include <climits>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<unsigned char>;
constexpr auto kServer = LxIpcFifoSession::IpcCloseConfirmReadWrite;
constexpr auto kClient = LxIpcFifoSession::IpcCloseNoConfirm;

double Now(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Descriptors the process holds without FD_CLOEXEC.
int Inheritable() {
    int count = 0;
    for (int fd = 0; fd < 1024; ++fd) {
        count += fcntl(fd, F_GETFD) == 0;
    }
    return count;
}

std::string Text(const unsigned char* bytes, int count) {
    return std::string(reinterpret_cast<const char*>(bytes), static_cast<size_t>(count));
}

// A reader, and a writer that has its read FIFO's peer open.
struct Pair : ::testing::Test {
    void SetUp() override {
        ASSERT_EQ(m_server.OpenReadFifo("srv", 0600), IpcStatusOk);
        ASSERT_EQ(m_client.OpenWriteFifo("srv"), IpcStatusOk);
    }
    int Write(const std::string& text) {
        return m_client.WriteData(reinterpret_cast<const unsigned char*>(text.data()),
                                  static_cast<int>(text.size()));
    }
    // What a read of `wanted` bytes waiting `ms` returns; "status 2" when nothing came.
    std::string Read(int wanted, int ms) {
        unsigned char buffer[64];
        int got = -1;
        const int status = m_server.ReadData(buffer, wanted, &got, ms / 1000, ms % 1000);
        return status == IpcStatusOk ? Text(buffer, got) : "status " + std::to_string(status);
    }
    TempFifoDir m_dir;
    LxIpcFifoSession m_server{"srv", kServer};
    LxIpcFifoSession m_client{"cli", kClient};
};

} // namespace

TEST(IpcCodec, IntegersTakeFourBigEndianBytesAtAnyOffsetAndTextsTheirLengthAndNul) {
    LxIpcMsgBuffer buffer(2); // grows past its initial room
    buffer.sputc(0x7E);
    LxIpcMsgUtil::PutInteger(&buffer, -2);
    LxIpcMsgUtil::PutStringParam(&buffer, "ab");
    LxIpcMsgUtil::PutIntegerAt(&buffer, 5, 0x01020304);
    const Bytes expected{0x7E, 0xFF, 0xFF, 0xFF, 0xFE, 1, 2, 3, 4, 'a', 'b', 0};
    EXPECT_EQ(Bytes(buffer.GetBuf(), buffer.GetBuf() + buffer.GetLength()), expected);
    EXPECT_EQ(LxIpcMsgUtil::ExtractInteger(buffer.GetBuf() + 1), -2);
    EXPECT_EQ(LxIpcMsgUtil::ExtractInteger(buffer.GetBuf() + 5), 0x01020304);
}

TEST(IpcFifoPath, NamesThatLeaveTheDirectoryAndPathsTooLongAreRefused) {
    TempFifoDir dir;
    LxIpcFifoSession session("own", kClient);
    for (const char* name : {"", ".", "..", "a/b"}) {
        EXPECT_EQ(session.OpenReadFifo(name, 0600), IpcStatusBadArgument) << name;
    }
    // The longest path that fits PATH_MAX reaches the file system (whose names are shorter).
    const size_t room = PATH_MAX - dir.Path().size() - 1;
    EXPECT_EQ(session.OpenReadFifo(std::string(room, 'n').c_str(), 0600), IpcStatusBadArgument);
    EXPECT_EQ(session.OpenReadFifo(std::string(room - 1, 'n').c_str(), 0600), IpcStatusCreateFailed);
}

TEST(IpcFifoPath, AnEmptyDirectoryVariableMeansTmp) {
    setenv("ZAMIPC_FIFO_DIR", "", 1);
    const std::string name = "zam-ipc-test-" + std::to_string(getpid());
    LxIpcFifoSession session(name.c_str(), kClient);
    EXPECT_EQ(session.OpenReadFifo(name.c_str(), 0600), IpcStatusOk);
    struct stat node {};
    EXPECT_EQ(lstat(("/tmp/" + name).c_str(), &node), 0);
    EXPECT_TRUE(S_ISFIFO(node.st_mode));
    unlink(("/tmp/" + name).c_str());
    unsetenv("ZAMIPC_FIFO_DIR");
}

// Files, links (to a FIFO that is read, too) and FIFOs without reader: each refused with its
// own status, none changed.
TEST(IpcFifoSession, RefusesWhatIsNotAnOpenFifoAndLeavesItAsItWas) {
    TempFifoDir dir;
    LxIpcFifoSession reader("fifo", kClient);
    ASSERT_EQ(reader.OpenReadFifo("fifo", 0600), IpcStatusOk);
    ASSERT_EQ(mkfifo(dir.PathOf("idle").c_str(), 0600), 0); // nobody reads it
    std::ofstream(dir.PathOf("file")) << "keep";
    ASSERT_EQ(symlink("fifo", dir.PathOf("to-fifo").c_str()), 0);
    ASSERT_EQ(symlink("file", dir.PathOf("to-file").c_str()), 0);
    LxIpcFifoSession session("own", kClient);
    EXPECT_EQ(session.OpenWriteFifo("idle"), IpcStatusNoReader);
    EXPECT_EQ(session.OpenWriteFifo("missing"), IpcStatusNoFifo);
    for (const char* name : {"file", "to-fifo", "to-file"}) {
        EXPECT_EQ(session.OpenReadFifo(name, 0666), IpcStatusNotFifo) << name;
        EXPECT_EQ(session.OpenWriteFifo(name), IpcStatusNotFifo) << name;
    }
    std::ifstream file(dir.PathOf("file"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "keep");
    struct stat node {};
    EXPECT_TRUE(lstat(dir.PathOf("to-fifo").c_str(), &node) == 0 && S_ISLNK(node.st_mode));
    EXPECT_EQ(session.GetSessionState(), IpcStateClosed);
}

// Refused by what the path holds, not by the errno of a failed open: a socket under a FIFO's
// name is no FIFO on either side (not "nobody reads"), and a FIFO that another user made
// first is not ours whatever its mode (not "open failed").
TEST(IpcFifoSession, SocketsAndForeignFifosOfAnyModeGetTheirOwnStatus) {
    TempFifoDir dir;
    LxIpcFifoSession session("own", kClient);
    const int sock = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = {AF_UNIX, {}};
    dir.PathOf("sock").copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(session.OpenReadFifo("sock", 0600), IpcStatusNotFifo);
    EXPECT_EQ(session.OpenWriteFifo("sock"), IpcStatusNotFifo);
    close(sock);
    if (geteuid() != 0) {
        GTEST_SKIP() << "making FIFOs of another user needs root";
    }
    ASSERT_EQ(chmod(dir.Path().c_str(), 0711), 0); // the victim may search, not list or create
    const mode_t modes[] = {0600, 0640, 0644, 0622};
    for (const mode_t mode : modes) {
        const std::string path = dir.PathOf(std::to_string(mode));
        ASSERT_EQ(mkfifo(path.c_str(), mode) + chmod(path.c_str(), mode), 0);
    }
    const pid_t victim = fork();
    if (victim == 0) { // as nobody: each of root's FIFOs refused as another user's
        alarm(10);
        int refused = 0;
        for (const mode_t mode : modes) {
            const std::string name = std::to_string(mode);
            refused += setuid(65534) == 0 &&
                       session.OpenReadFifo(name.c_str(), 0600) == IpcStatusNotOwner;
        }
        _exit(refused);
    }
    int status = -1;
    ASSERT_EQ(waitpid(victim, &status, 0), victim);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 4);
}

// An idle read waits its time and reports 2 without spinning, before and after a writer
// came and went (no end-of-file storm); data is returned as soon as it is there.
TEST_F(Pair, ReadsWaitTheirTimeWithoutSpinningAndReturnAsSoonAsDataIsThere) {
    for (const bool written : {false, true}) {
        if (written) {
            ASSERT_EQ(Write("0123456789"), IpcStatusOk);
            EXPECT_EQ(Read(4, 5000), "0123");
            EXPECT_EQ(Read(64, 5000), "456789");
            m_client.CloseWriteFifo();
        }
        const double wall = Now(CLOCK_MONOTONIC);
        const double cpu = Now(CLOCK_PROCESS_CPUTIME_ID);
        EXPECT_EQ(Read(8, 200), "status 2");
        EXPECT_GE(Now(CLOCK_MONOTONIC) - wall, 0.19);
        EXPECT_LT(Now(CLOCK_PROCESS_CPUTIME_ID) - cpu, 0.05);
    }
}

// The new FIFO is opened before the old one is closed, so a failed open (here: another
// reader holds the FIFO) leaves the session reading what it had, the bytes waiting in it too.
TEST_F(Pair, AFailedOpenOfAnotherFifoKeepsReadingTheOneItHad) {
    LxIpcFifoSession holder("other", kServer);
    ASSERT_EQ(holder.OpenReadFifo("other", 0600), IpcStatusOk);
    ASSERT_EQ(Write("kept"), IpcStatusOk);
    m_client.CloseWriteFifo(); // no other end open but the reader's own
    EXPECT_EQ(m_server.OpenReadFifo("other", 0600), IpcStatusBusy);
    EXPECT_EQ(m_server.GetSessionState(), IpcStateReadOpen);
    EXPECT_EQ(Read(4, 1000), "kept");
}

TEST_F(Pair, StatesFollowWhatIsOpenAndNoDescriptorIsInherited) {
    EXPECT_EQ(m_server.GetSessionState(), IpcStateReadOpen);
    EXPECT_EQ(m_client.GetSessionState(), IpcStateWriteOpen);
    const int inheritable = Inheritable();
    ASSERT_EQ(m_client.OpenReadFifo("cli", 0600), IpcStatusOk);
    EXPECT_EQ(m_client.GetSessionState(), IpcStateWriteOpen);
    EXPECT_EQ(Inheritable(), inheritable);
    m_client.CloseWriteFifo();
    EXPECT_EQ(m_client.GetSessionState(), IpcStateReadOpen);
    m_client.CloseReadFifo();
    EXPECT_EQ(m_client.GetSessionState(), IpcStateClosed);
}

// The process lives on, its SIGPIPE neither caught, ignored nor blocked (so none pending).
TEST_F(Pair, AReaderThatWentAwayGivesPeerGoneAndLeavesSignalsAlone) {
    m_server.CloseReadFifo();
    EXPECT_EQ(Write("lost"), IpcStatusPeerGone);
    struct sigaction action {};
    sigset_t blocked;
    ASSERT_EQ(sigaction(SIGPIPE, nullptr, &action), 0);
    ASSERT_EQ(sigprocmask(SIG_BLOCK, nullptr, &blocked), 0);
    EXPECT_EQ(action.sa_handler, SIG_DFL);
    EXPECT_FALSE(sigismember(&blocked, SIGPIPE));
}
