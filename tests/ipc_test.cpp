// IPC stand-in tests: encodings, and FIFO sessions over real FIFOs in a fresh directory.
#include "LxIpcFifoSession.h"
#include "LxIpcMsgUtil.h"
#include "TempFifoDir.h"

#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

namespace {

using Bytes = std::vector<unsigned char>;
constexpr auto kNoConfirm = LxIpcFifoSession::IpcCloseNoConfirm;

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

// Inode, type and permissions, and size of each entry, symbolic links not followed.
std::string Snapshot(const TempFifoDir& dir) {
    std::string all;
    for (const char* name : {"fifo", "file", "to-fifo", "to-file"}) {
        struct stat info {};
        lstat(dir.PathOf(name).c_str(), &info);
        all += std::to_string(info.st_ino) + " " + std::to_string(info.st_mode) + " " +
               std::to_string(info.st_size) + "; ";
    }
    return all;
}

} // namespace

TEST(IpcCodec, IntegersAreBigEndianAtAnyOffsetAndStringParamsAreChecked) {
    LxIpcMsgBuffer buffer(2); // grows past its initial room
    buffer.sputc(0x7E);
    LxIpcMsgUtil::PutInteger(&buffer, -2);
    LxIpcMsgUtil::PutStringParam(&buffer, "ab");
    const Bytes expected{0x7E, 0xFF, 0xFF, 0xFF, 0xFE, 0, 0, 0, 2, 'a', 'b', 0};
    ASSERT_EQ(Bytes(buffer.GetBuf(), buffer.GetBuf() + buffer.GetLength()), expected);
    EXPECT_EQ(LxIpcMsgUtil::ExtractInteger(Bytes{9, 1, 2, 3, 4}.data() + 1), 0x01020304);
    // Whether extraction accepts the parameter, and what MeasureStringParam says it reads:
    // the length field alone when that is refused; -1 when a byte less is available.
    const std::tuple<Bytes, bool, int> cases[] = {
        {{0, 0, 0, 2, 'a', 'b', 0}, true, 7},    {{0, 0, 0, 0, 0}, true, 5},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0}, false, 4}, {{0, 1, 0, 0, 0}, false, 4},
        {{0, 0, 0, 2, 'a', 'b', 'c'}, false, 7}, {{0, 0, 0, 2, 'a', 0, 0}, false, 7},
    };
    for (const auto& [param, valid, reads] : cases) {
        unsigned char text[8], *out = text;
        const unsigned char* cursor = param.data();
        EXPECT_EQ(LxIpcMsgUtil::ExtractStringParam(&cursor, &out, false) == 0, valid) << reads;
    }
}

// Each path refused and left as it was; then reads (idle ones waiting their time without
// spinning, before and after a writer came and went), states, FD_CLOEXEC, and a write whose
// reader has gone.
TEST(IpcFifoSession, RefusesUnusablePathsWaitsWithoutSpinningAndFailsWritesWithoutSignals) {
    TempFifoDir dir;
    LxIpcFifoSession server("srv", LxIpcFifoSession::IpcCloseConfirmReadWrite);
    LxIpcFifoSession client("cli", kNoConfirm);
    ASSERT_EQ(mkfifo(dir.PathOf("fifo").c_str(), 0600), 0); // nobody reads it
    std::ofstream(dir.PathOf("file")) << "keep";
    ASSERT_EQ(symlink("fifo", dir.PathOf("to-fifo").c_str()), 0);
    ASSERT_EQ(symlink("file", dir.PathOf("to-file").c_str()), 0);
    const std::string before = Snapshot(dir);
    const int inheritable = Inheritable();
    EXPECT_EQ(client.OpenWriteFifo("fifo"), IpcStatusNoReader);
    EXPECT_EQ(client.OpenWriteFifo("missing"), IpcStatusNoFifo);
    for (const char* name : {"file", "to-fifo", "to-file"}) {
        EXPECT_EQ(client.OpenReadFifo(name, 0666), IpcStatusNotFifo) << name;
        EXPECT_EQ(client.OpenWriteFifo(name), IpcStatusNotFifo) << name;
    }
    EXPECT_EQ(Snapshot(dir), before);
    ASSERT_EQ(mkfifo(dir.PathOf("foreign").c_str(), 0666), 0); // as if made by another user
    if (geteuid() == 0 && chown(dir.PathOf("foreign").c_str(), 65534, 65534) == 0) {
        EXPECT_EQ(client.OpenReadFifo("foreign", 0600), IpcStatusNotOwner);
    }
    // A read of `wanted` bytes waiting at most `ms`; its wall time within [least, most).
    auto read = [&](int wanted, int ms, int status, const char* bytes, double least, double most) {
        unsigned char buffer[64];
        const double wall0 = Now(CLOCK_MONOTONIC), cpu0 = Now(CLOCK_PROCESS_CPUTIME_ID);
        int got = -1;
        EXPECT_EQ(server.ReadData(buffer, wanted, &got, ms / 1000, ms % 1000), status);
        const double wall = Now(CLOCK_MONOTONIC) - wall0;
        EXPECT_EQ(std::string(buffer, buffer + std::max(got, 0)), bytes);
        EXPECT_TRUE(wall >= least && wall < most) << wall;
        EXPECT_LT(Now(CLOCK_PROCESS_CPUTIME_ID) - cpu0, 0.02 + wall / 10); // no busy wait
    };
    ASSERT_EQ(server.OpenReadFifo("srv", 0600), IpcStatusOk);
    read(8, 200, IpcStatusTimeout, "", 0.19, 2.0);
    ASSERT_EQ(client.OpenReadFifo("cli", 0600), IpcStatusOk);
    EXPECT_EQ(client.GetSessionState(), IpcStateReadOpen);
    ASSERT_EQ(client.OpenWriteFifo("srv"), IpcStatusOk);
    EXPECT_EQ(client.GetSessionState(), IpcStateWriteOpen);
    EXPECT_EQ(Inheritable(), inheritable); // none of the FIFO descriptors
    ASSERT_EQ(client.WriteData(reinterpret_cast<const unsigned char*>("0123456789"), 10), 0);
    read(4, 5000, IpcStatusOk, "0123", 0, 1.0);
    read(64, 5000, IpcStatusOk, "456789", 0, 1.0);
    client.CloseWriteFifo();
    EXPECT_EQ(client.GetSessionState(), IpcStateReadOpen);
    read(8, 200, IpcStatusTimeout, "", 0.19, 2.0);
    ASSERT_EQ(client.OpenWriteFifo("srv"), IpcStatusOk);
    server.CloseReadFifo();
    EXPECT_EQ(client.WriteData(Bytes{1, 2, 3, 4}.data(), 4), IpcStatusPeerGone);
    // Still here, and SIGPIPE is neither caught, ignored nor blocked (so none is pending).
    struct sigaction action {};
    sigset_t blocked;
    ASSERT_EQ(sigaction(SIGPIPE, nullptr, &action) + sigprocmask(SIG_BLOCK, nullptr, &blocked), 0);
    EXPECT_TRUE(action.sa_handler == SIG_DFL && !sigismember(&blocked, SIGPIPE));
}

// Refused by what the path holds, not by the errno of a failed open: a socket under a FIFO's
// name is no FIFO on either side (not "nobody reads"), and a FIFO that another user made
// first is not ours whatever its mode (not "open failed").
TEST(IpcFifoSession, SocketsAndForeignFifosOfAnyModeGetTheirOwnStatus) {
    TempFifoDir dir;
    LxIpcFifoSession session("own", kNoConfirm);
    const int sock = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = {AF_UNIX, {}};
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", dir.PathOf("sock").c_str());
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
            refused += setuid(65534) == 0 && session.OpenReadFifo(name.c_str(), 0600) ==
                                                   IpcStatusNotOwner;
        }
        _exit(refused);
    }
    int status = -1;
    ASSERT_EQ(waitpid(victim, &status, 0), victim);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 4);
}
