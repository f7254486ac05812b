// The server endpoint over a real FIFO fed with raw bytes: one read per call, resync on
// bad frames, and no allocation except for the message of a completed frame.
#include "CountingAllocator.h"
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgServer.h"
#include "ScriptedSession.h" // only its frame helpers: the session here is real
#include "TempFifoDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

class ServerFifoTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearLogs();
        ASSERT_TRUE(m_server->InitTarvexMuxMsgServer());
        m_fd = open(m_dir.PathOf("TarMuxMsgServerIpc").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(m_fd, 0);
    }
    void TearDown() override {
        close(m_fd);
        delete m_server;
        EXPECT_TRUE(CapturedLogs().empty());
    }
    // Writes `pieces`, then makes `calls` calls: all but the last return null and allocate
    // nothing; the last returns the report for `network` (none when negative), allocating
    // it and its image. Under valgrind, which takes over operator new, nothing is counted.
    void Expect(const std::vector<Bytes>& pieces, int calls, int network = -1) {
        for (const Bytes& bytes : pieces) {
            ASSERT_EQ(write(m_fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
        }
        for (int call = 1; call <= calls; ++call) {
            const long long before = zam::testing::AllocationsSoFar().allocations;
            const std::unique_ptr<LxTarvexDetectedMacMsg> msg(m_server->ReadFromClient());
            const bool last = call == calls && network >= 0;
            EXPECT_EQ(zam::testing::AllocationsSoFar().allocations - before, last && before > 0 ? 2 : 0) << "call " << call;
            ASSERT_EQ(msg != nullptr, last) << "call " << call;
            EXPECT_TRUE(!last || msg->GetNetworkNumber() == network);
        }
    }
    TempFifoDir m_dir;
    LxTarvexMuxMsgServer* m_server = LxTarvexMuxMsgServer::GetInstance();
    int m_fd = -1;
};

TEST_F(ServerFifoTest, FrameTakesFourCallsAndResyncsAfterNoiseBadLengthOrMisplacedStart) {
    Expect({FrameBytes(300)}, 4, 300);
    Expect({Word(0x01020304), FrameBytes(301)}, 5, 301);
    for (int length : {0, -1, 181, 100000}) {
        Expect({Word(0xBEAD), Word(length), FrameBytes(length & 0xFF)}, 6, length & 0xFF);
    }
    const Bytes cut = FrameBytes(1); // its end marker's place taken by the next start marker
    Expect({Bytes(cut.begin(), cut.end() - 4), FrameBytes(2)}, 7, 2);
}

TEST_F(ServerFifoTest, PayloadInPiecesAndNothingWritten) {
    const Bytes frame = FrameBytes(9);
    const int cuts[] = {0, 8, 50, 120, 150, 154}; // header, payload in three pieces, end
    for (int i = 0; i < 5; ++i) {
        Expect({Bytes(frame.begin() + cuts[i], frame.begin() + cuts[i + 1])}, i == 0 ? 2 : 1,
               i == 4 ? 9 : -1);
    }
    Expect({}, 1);
}

} // namespace
