// The server endpoint over a real FIFO fed with raw bytes: one read per call, resync on
// bad frames, and no allocation except for the message of a completed frame.
#include "CountingAllocator.h"
#include "LogCapture.h"
#include "LxIpcMsgBuffer.h"
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgServer.h"
#include "TempFifoDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bitset>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

using Bytes = std::vector<unsigned char>;
using Byte = unsigned char;
const auto Word = [](int v) { return Bytes{Byte(v >> 24), Byte(v >> 16), Byte(v >> 8), Byte(v)}; };

// The frame of a report for `network` with MAC network % 128 active (154 bytes).
Bytes FrameOf(unsigned short network) {
    const LxTarvexDetectedMacMsg msg(network, new std::bitset<128>(1));
    *msg.GetActiveMacImage() <<= network % 128;
    const std::unique_ptr<LxIpcMsgBuffer> frame(msg.Serialize());
    return Bytes(frame->GetBuf(), frame->GetBuf() + frame->GetLength());
}

class ServerFifoTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearLogs();
        const size_t before = AllocationCount();
        m_server = LxTarvexMuxMsgServer::GetInstance();
        // Valgrind takes over the library's operator new: no allocation is counted then.
        m_counting = AllocationCount() != before;
        ASSERT_TRUE(m_server->InitTarvexMuxMsgServer());
        m_fd = open(m_dir.PathOf("TarMuxMsgServerIpc").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(m_fd, 0);
    }
    void TearDown() override {
        close(m_fd);
        delete m_server;
        EXPECT_TRUE(CapturedLogs().empty());
    }
    void Write(const Bytes& bytes, size_t from = 0, size_t to = SIZE_MAX) {
        to = std::min(to, bytes.size());
        ASSERT_EQ(write(m_fd, &bytes[from], to - from), static_cast<ssize_t>(to - from));
    }
    // Makes `calls` calls: all but the last return null and allocate nothing; the last
    // returns the report for `network` (none when negative), allocating it and its image.
    void Expect(int calls, int network = -1) {
        for (int call = 1; call <= calls; ++call) {
            const size_t before = AllocationCount();
            const std::unique_ptr<LxTarvexDetectedMacMsg> msg(m_server->ReadFromClient());
            const bool last = call == calls && network >= 0;
            EXPECT_EQ(AllocationCount() - before, m_counting && last ? 2u : 0u) << "call " << call;
            ASSERT_EQ(msg != nullptr, last) << "call " << call;
            EXPECT_TRUE(!last ||
                        (msg->GetNetworkNumber() == network &&
                         *msg->GetActiveMacImage() == std::bitset<128>(1) << network % 128));
        }
    }
    bool m_counting = false;
    TempFifoDir m_dir;
    LxTarvexMuxMsgServer* m_server = nullptr;
    int m_fd = -1;
};

TEST_F(ServerFifoTest, FrameTakesFourCallsAndResyncsAfterNoiseBadLengthOrMisplacedStart) {
    Write(FrameOf(300));
    Expect(4, 300);
    Write(Word(0x01020304));
    Write(FrameOf(301));
    Expect(5, 301);
    for (int length : {0, -1, 181, 100000}) {
        Write(Word(0xBEAD)), Write(Word(length)), Write(FrameOf(Byte(length)));
        Expect(6, Byte(length));
    }
    Write(FrameOf(1), 0, 150); // a start marker where the end marker belongs begins a frame
    Write(FrameOf(2));
    Expect(7, 2);
}

TEST_F(ServerFifoTest, PayloadInPiecesAndNothingWritten) {
    const Bytes frame = FrameOf(9);
    Write(frame, 0, 8);
    Expect(2);
    const size_t cuts[] = {8, 50, 120, 150}; // the payload in three pieces
    for (size_t i = 0; i < 3; ++i) {
        Write(frame, cuts[i], cuts[i + 1]);
        Expect(1);
    }
    Write(frame, 150);
    Expect(1, 9);
    const auto start = std::chrono::steady_clock::now();
    Expect(1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

} // namespace
