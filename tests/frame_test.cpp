// Frames in the encoding of the IPC library linked, ours or a board's: its golden vectors,
// read back by DeSerialize and by the server from a real FIFO after noise, and random round
// trips.
#include "GoldenFrames.h"
#include "LxIpcMsgBuffer.h"
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgServer.h"
#include "TempFifoDir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <random>
#include <unistd.h>

namespace {

using Bytes = std::vector<unsigned char>;
using Msg = std::unique_ptr<LxTarvexDetectedMacMsg>;

Bytes Frame(const LxTarvexDetectedMacMsg& message) {
    const std::unique_ptr<LxIpcMsgBuffer> buffer(message.Serialize());
    return Bytes(buffer->GetBuf(), buffer->GetBuf() + buffer->GetLength());
}

Msg DeSerialize(const Bytes& frame) {
    return Msg(LxTarvexDetectedMacMsg::DeSerialize(frame.data(), static_cast<int>(frame.size())));
}

// The same report, its image in a bitset of its own.
bool SameReport(const Msg& got, const LxTarvexDetectedMacMsg& want) {
    const std::bitset<128>* a = got ? got->GetActiveMacImage() : nullptr;
    const std::bitset<128>* b = want.GetActiveMacImage();
    return got && got->GetNetworkNumber() == want.GetNetworkNumber() &&
           (a == nullptr ? b == nullptr : b != nullptr && *a == *b && a != b);
}

} // namespace

TEST(Frame, GoldenVectorsAreWrittenAndReadBackByDeSerializeAndTheServer) {
    const std::vector<GoldenFrame> frames = LoadGoldenFrames();
    if (frames.empty()) {
        GTEST_SKIP() << "no golden frames for this IPC library (ZAM_TEST_FRAMES)";
    }
    TempFifoDir dir;
    const std::unique_ptr<LxTarvexMuxMsgServer> server(LxTarvexMuxMsgServer::GetInstance());
    ASSERT_TRUE(server->InitTarvexMuxMsgServer());
    const int fifo = open(dir.PathOf("TarMuxMsgServerIpc").c_str(), O_WRONLY | O_NONBLOCK);
    for (const GoldenFrame& golden : frames) {
        const LxTarvexDetectedMacMsg report(golden.network, golden.NewImage());
        EXPECT_EQ(Frame(report), golden.bytes) << golden.name;
        EXPECT_TRUE(SameReport(DeSerialize(golden.bytes), report)) << golden.name;
        Bytes bytes{0x5A, 0x5A, 0x5A, 0x5A}; // no start marker in any byte order
        bytes.insert(bytes.end(), golden.bytes.begin(), golden.bytes.end());
        ASSERT_EQ(write(fifo, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        Msg got;
        for (int call = 0; call < 5 && !got; ++call) { // noise, then four steps of a frame
            got.reset(server->ReadFromClient());
        }
        EXPECT_TRUE(SameReport(got, report)) << golden.name;
    }
    close(fifo);
}

TEST(Frame, RandomReportsComeBackEqualFromFramesOfAtMost192Bytes) {
    std::mt19937 random(20240611);
    for (int i = 0; i < 2000; ++i) {
        auto* image = i % 4 == 0 ? nullptr : new std::bitset<128>;
        for (int word = 0; image != nullptr && word < 4; ++word) {
            *image = *image << 32 | std::bitset<128>(random());
        }
        const LxTarvexDetectedMacMsg report(static_cast<unsigned short>(random()), image);
        const Bytes frame = Frame(report);
        ASSERT_LE(frame.size(), 192u);
        EXPECT_TRUE(SameReport(DeSerialize(frame), report)) << i;
    }
}
