// IPC stand-in tests: encodings, and FIFO sessions over real FIFOs in a fresh directory.
#include "LxIpcFifoSession.h"
#include "LxIpcMsgUtil.h"
#include "TempFifoDir.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<unsigned char>;
constexpr auto kNoConfirm = LxIpcFifoSession::IpcCloseNoConfirm;

double Now(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Descriptors open on files in `dir`, and how many of them lack FD_CLOEXEC.
std::pair<int, int> FdsInto(const std::string& dir) {
    std::pair<int, int> count{0, 0};
    for (int fd = 3; fd < 1024; ++fd) {
        char target[4096];
        const std::string link = "/proc/self/fd/" + std::to_string(fd);
        const ssize_t n = readlink(link.c_str(), target, sizeof target);
        if (n > 0 && std::string(target, static_cast<size_t>(n)).rfind(dir + "/", 0) == 0) {
            ++count.first;
            count.second += (fcntl(fd, F_GETFD) & FD_CLOEXEC) == 0;
        }
    }
    return count;
}

} // namespace

TEST(IpcCodec, IntegersAreBigEndianAtAnyOffsetAndStringParamsAreChecked) {
    LxIpcMsgBuffer buffer(2); // grows past its initial room
    buffer.sputc(0x7E);
    LxIpcMsgUtil::PutInteger(&buffer, -2);
    EXPECT_NE(LxIpcMsgUtil::PutIntegerAt(&buffer, 2, 0), 0); // would end past the length
    LxIpcMsgUtil::PutStringParam(&buffer, "ab");
    const Bytes expected{0x7E, 0xFF, 0xFF, 0xFF, 0xFE, 0, 0, 0, 2, 'a', 'b', 0};
    ASSERT_EQ(Bytes(buffer.GetBuf(), buffer.GetBuf() + buffer.GetLength()), expected);
    EXPECT_EQ(LxIpcMsgUtil::ExtractInteger(expected.data() + 1), -2);
    const struct {
        Bytes param;
        bool valid;
        int reads; // what extraction may read: the length field alone for an invalid length
    } cases[] = {
        {{0, 0, 0, 2, 'a', 'b', 0}, true, 7},    {{0, 0, 0, 0, 0}, true, 5},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0}, false, 4}, {{0, 1, 0, 0, 0}, false, 4},
        {{0, 0, 0, 2, 'a', 'b', 'c'}, false, 7}, {{0, 0, 0, 2, 'a', 0, 0}, false, 7},
    };
    for (const auto& c : cases) {
        unsigned char text[8] = {'#'}, *out = text;
        const unsigned char* cursor = c.param.data();
        const int size = static_cast<int>(c.param.size());
        EXPECT_EQ(LxIpcMsgUtil::ExtractStringParam(&cursor, &out, false) == 0, c.valid) << size;
        EXPECT_EQ(cursor, c.param.data() + (c.valid ? size : 0));
        EXPECT_EQ(text[0], c.valid ? c.param[4] : '#');
        EXPECT_EQ(LxIpcMsgUtil::MeasureStringParam(c.param.data(), size, 0), c.reads);
        EXPECT_EQ(LxIpcMsgUtil::MeasureStringParam(c.param.data(), c.reads - 1, 0), -1);
    }
}

TEST(IpcFifoSession, ReadsReturnWaitingBytesAtOnceAndIdleWaitsWithoutSpinning) {
    TempFifoDir dir;
    LxIpcFifoSession reader("r", kNoConfirm), writer("w", kNoConfirm);
    ASSERT_EQ(reader.OpenReadFifo("r", 0600), IpcStatusOk);
    unsigned char buffer[64];
    auto read = [&](int wanted, int seconds, int ms, int status, Bytes bytes, double minWall,
                    double maxWall) {
        const double wall0 = Now(CLOCK_MONOTONIC), cpu0 = Now(CLOCK_PROCESS_CPUTIME_ID);
        int got = -1;
        EXPECT_EQ(reader.ReadData(buffer, wanted, &got, seconds, ms), status);
        const double wall = Now(CLOCK_MONOTONIC) - wall0;
        EXPECT_EQ(Bytes(buffer, buffer + std::max(got, 0)), bytes);
        EXPECT_TRUE(wall >= minWall && wall < maxWall) << wall;
        EXPECT_LT(Now(CLOCK_PROCESS_CPUTIME_ID) - cpu0, 0.02 + wall / 10); // no busy wait
    };
    read(8, 0, 0, IpcStatusTimeout, {}, 0, 0.15); // (0, 0) does not wait
    for (int round = 0; round < 2; ++round) {     // the second after a writer came and went
        SCOPED_TRACE(round);
        read(8, 0, 200, IpcStatusTimeout, {}, 0.19, 2.0);
        ASSERT_EQ(writer.OpenWriteFifo("r"), IpcStatusOk);
        ASSERT_EQ(writer.WriteData(reinterpret_cast<const unsigned char*>("0123456789"), 10), 0);
        read(4, 5, 0, IpcStatusOk, {'0', '1', '2', '3'}, 0, 1.0);
        read(64, 5, 0, IpcStatusOk, {'4', '5', '6', '7', '8', '9'}, 0, 1.0);
        writer.CloseWriteFifo();
    }
}

TEST(IpcFifoSession, NonFifoPathsAreRefusedAndLeftUntouched) {
    TempFifoDir dir;
    ASSERT_EQ(mkfifo(dir.PathOf("fifo").c_str(), 0600), 0);
    std::ofstream(dir.PathOf("file")) << "keep";
    ASSERT_EQ(symlink("fifo", dir.PathOf("to-fifo").c_str()), 0);
    ASSERT_EQ(symlink("file", dir.PathOf("to-file").c_str()), 0);
    LxIpcFifoSession session("s", kNoConfirm);
    for (const char* name : {"file", "to-fifo", "to-file"}) {
        EXPECT_EQ(session.OpenReadFifo(name, 0600), IpcStatusNotFifo) << name;
        EXPECT_EQ(session.OpenWriteFifo(name), IpcStatusNotFifo) << name;
    }
    ASSERT_EQ(mkfifo(dir.PathOf("foreign").c_str(), 0666), 0); // made first by another user
    if (geteuid() == 0 && chown(dir.PathOf("foreign").c_str(), 65534, 65534) == 0) {
        EXPECT_EQ(session.OpenReadFifo("foreign", 0600), IpcStatusNotOwner);
    }
    struct stat info {};
    for (const char* link : {"to-fifo", "to-file"}) {
        char target[16] = {};
        EXPECT_TRUE(lstat(dir.PathOf(link).c_str(), &info) == 0 && S_ISLNK(info.st_mode));
        EXPECT_EQ(readlink(dir.PathOf(link).c_str(), target, 15), 4);
        EXPECT_STREQ(target, link + 3) << link;
    }
    EXPECT_TRUE(lstat(dir.PathOf("fifo").c_str(), &info) == 0 && S_ISFIFO(info.st_mode));
    std::string content;
    EXPECT_TRUE(std::ifstream(dir.PathOf("file")) >> content && content == "keep");
    EXPECT_EQ(FdsInto(dir.Path()).first, 0);
}

TEST(IpcFifoSession, StatesCloexecAndFailingWrites) {
    TempFifoDir dir;
    LxIpcFifoSession server("srv", LxIpcFifoSession::IpcCloseConfirmReadWrite);
    LxIpcFifoSession client("cli", kNoConfirm);
    ASSERT_EQ(mkfifo(dir.PathOf("unread").c_str(), 0600), 0);
    EXPECT_EQ(client.OpenWriteFifo("unread"), IpcStatusNoReader);
    EXPECT_EQ(client.OpenWriteFifo("missing"), IpcStatusNoFifo);
    ASSERT_EQ(server.OpenReadFifo("srv", 0600), IpcStatusOk);
    ASSERT_EQ(client.OpenReadFifo("cli", 0600), IpcStatusOk);
    EXPECT_EQ(client.GetSessionState(), IpcStateReadOpen);
    ASSERT_EQ(client.OpenWriteFifo("srv"), IpcStatusOk);
    EXPECT_EQ(client.GetSessionState(), IpcStateWriteOpen);
    const std::pair<int, int> fds = FdsInto(dir.Path()); // two read FIFOs and a write FIFO
    EXPECT_TRUE(fds.first >= 3 && fds.second == 0) << fds.first << " " << fds.second;
    server.CloseReadFifo();
    EXPECT_EQ(client.WriteData(Bytes{1, 2, 3, 4}.data(), 4), IpcStatusPeerGone);
    struct sigaction action {};
    sigset_t blocked, pending;
    sigprocmask(SIG_BLOCK, nullptr, &blocked);
    sigpending(&pending);
    ASSERT_EQ(sigaction(SIGPIPE, nullptr, &action), 0);
    EXPECT_TRUE(action.sa_handler == SIG_DFL && !sigismember(&blocked, SIGPIPE) &&
                !sigismember(&pending, SIGPIPE));
    client.CloseWriteFifo();
    EXPECT_EQ(client.GetSessionState(), IpcStateReadOpen);
}
