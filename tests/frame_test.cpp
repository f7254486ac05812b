// Frames in the encoding of the IPC library linked, ours or a board's: its golden vectors
// (ZAM_TEST_FRAMES, built from the encoding's description and not by the library), random
// round trips, and the server reading each vector from a real FIFO after noise.
#include "LxIpcMsgBuffer.h"
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgServer.h"
#include "TempFifoDir.h"

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <sstream>
#include <unistd.h>

namespace {

using Bytes = std::vector<unsigned char>;
using Image = std::bitset<128>;
using Msg = std::unique_ptr<LxTarvexDetectedMacMsg>;

struct Golden {
    std::string name;
    unsigned short network;
    std::string image; // "-" for none, else 32 hex digits, bit 127 first
    Bytes frame;

    Msg Message() const {
        Image* bits = nullptr;
        if (image != "-") {
            bits = new Image(Image(std::stoull(image.substr(0, 16), nullptr, 16)) << 64 |
                             Image(std::stoull(image.substr(16), nullptr, 16)));
        }
        return std::make_unique<LxTarvexDetectedMacMsg>(network, bits);
    }
};

// "name network image hex-bytes..." a line, '#' for comments.
std::vector<Golden> LoadGolden() {
    const char* path = std::getenv("ZAM_TEST_FRAMES");
    std::ifstream in(path != nullptr ? path : "");
    std::vector<Golden> vectors;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        Golden golden;
        if (line.empty() || line[0] == '#' || !(fields >> golden.name >> golden.network >> golden.image)) {
            continue;
        }
        for (std::string hex; fields >> hex;) {
            for (size_t i = 0; i + 1 < hex.size(); i += 2) {
                golden.frame.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
            }
        }
        vectors.push_back(golden);
    }
    return vectors;
}

Bytes Frame(const LxTarvexDetectedMacMsg& message) {
    const std::unique_ptr<LxIpcMsgBuffer> buffer(message.Serialize());
    return Bytes(buffer->GetBuf(), buffer->GetBuf() + buffer->GetLength());
}

bool SameReport(const Msg& got, const LxTarvexDetectedMacMsg& want) {
    const Image* a = got ? got->GetActiveMacImage() : nullptr;
    const Image* b = want.GetActiveMacImage();
    return got && got->GetNetworkNumber() == want.GetNetworkNumber() &&
           (a == nullptr ? b == nullptr : b != nullptr && *a == *b && a != b);
}

class FrameGolden : public ::testing::Test {
protected:
    void SetUp() override {
        if (m_vectors.empty()) {
            GTEST_SKIP() << "no golden frames for this IPC library (ZAM_TEST_FRAMES)";
        }
    }
    const std::vector<Golden> m_vectors = LoadGolden();
};

} // namespace

TEST_F(FrameGolden, SerializeGivesTheVectorAndDeSerializeTheMessage) {
    for (const Golden& golden : m_vectors) {
        const Msg message = golden.Message();
        EXPECT_EQ(Frame(*message), golden.frame) << golden.name;
        EXPECT_TRUE(SameReport(Msg(LxTarvexDetectedMacMsg::DeSerialize(
                                   golden.frame.data(), static_cast<int>(golden.frame.size()))),
                               *message))
            << golden.name;
    }
}

// Each prefix sits in a heap block of exactly its size, so an over-read is a memory error
// under the sanitizers and valgrind; what comes back is nothing or the right network.
TEST_F(FrameGolden, EveryPrefixGivesNullOrTheNetworkWithoutReadingPastIt) {
    for (const Golden& golden : m_vectors) {
        for (size_t n = 0; n < golden.frame.size(); ++n) {
            const std::unique_ptr<unsigned char[]> prefix(new unsigned char[n]);
            std::copy_n(golden.frame.begin(), n, prefix.get());
            Msg message;
            try {
                message.reset(LxTarvexDetectedMacMsg::DeSerialize(prefix.get(), static_cast<int>(n)));
            } catch (const std::invalid_argument&) {
            }
            EXPECT_TRUE(!message || message->GetNetworkNumber() == golden.network)
                << golden.name << " cut to " << n;
        }
    }
}

TEST_F(FrameGolden, ServerReadsEachFromItsFifoAfterNoise) {
    TempFifoDir dir;
    const std::unique_ptr<LxTarvexMuxMsgServer> server(LxTarvexMuxMsgServer::GetInstance());
    ASSERT_TRUE(server->InitTarvexMuxMsgServer());
    const int fifo = open(dir.PathOf("TarMuxMsgServerIpc").c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(fifo, 0);
    for (const Golden& golden : m_vectors) {
        Bytes bytes{0x5A, 0x5A, 0x5A, 0x5A}; // no start marker in any byte order
        bytes.insert(bytes.end(), golden.frame.begin(), golden.frame.end());
        ASSERT_EQ(write(fifo, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        Msg got;
        for (int call = 0; call < 5 && !got; ++call) {
            got.reset(server->ReadFromClient());
        }
        EXPECT_TRUE(SameReport(got, *golden.Message())) << golden.name;
    }
    close(fifo);
}

TEST(FrameRoundTrip, RandomMessagesComeBackEqualWithinOneFrame) {
    std::mt19937 random(20240611);
    for (int i = 0; i < 2000; ++i) {
        Image* image = i % 4 == 0 ? nullptr : new Image;
        for (int word = 0; image != nullptr && word < 4; ++word) {
            *image = (*image << 32) | Image(random());
        }
        const LxTarvexDetectedMacMsg message(static_cast<unsigned short>(random()), image);
        const Bytes frame = Frame(message);
        ASSERT_LE(frame.size(), 192u);
        EXPECT_TRUE(SameReport(Msg(LxTarvexDetectedMacMsg::DeSerialize(
                                   frame.data(), static_cast<int>(frame.size()))),
                               message));
    }
}
