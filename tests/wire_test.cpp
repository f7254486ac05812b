// What holds over whichever IPC library the library is built on, ours or a board's: the
// golden frames of its encoding, and 1,000 random requests answered between two processes over
// the real FIFOs.
#include "ChildProcess.h"
#include "LxIpcMsgBuffer.h"
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgClient.h"
#include "LxTarvexMuxMsgServer.h"
#include "TempFifoDir.h"

#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sstream>

namespace {

using Bytes = std::vector<unsigned char>;
using Image = std::bitset<128>;
using Msg = std::unique_ptr<LxTarvexDetectedMacMsg>;

// A random network and, but one time in four, a random image.
Msg RandomReport(std::mt19937& random) {
    Image* image = random() % 4 == 0 ? nullptr : new Image;
    for (int word = 0; image != nullptr && word < 4; ++word) {
        *image = *image << 32 | Image(random());
    }
    return std::make_unique<LxTarvexDetectedMacMsg>(static_cast<unsigned short>(random()), image);
}

// The server's answer in the exchange: network + 1, the same image.
Msg Answer(const LxTarvexDetectedMacMsg& request) {
    const Image* image = request.GetActiveMacImage();
    return std::make_unique<LxTarvexDetectedMacMsg>(
        static_cast<unsigned short>(request.GetNetworkNumber() + 1),
        image != nullptr ? new Image(*image) : nullptr);
}

// The same report, its image in a bitset of its own.
bool SameReport(const Msg& got, const LxTarvexDetectedMacMsg& want) {
    const Image* a = got ? got->GetActiveMacImage() : nullptr;
    const Image* b = want.GetActiveMacImage();
    return got && got->GetNetworkNumber() == want.GetNetworkNumber() &&
           (a == nullptr ? b == nullptr : b != nullptr && *a == *b && a != b);
}

// The child's server: stops itself once it reads its FIFO, then answers `count` requests; 0
// when it did.
int Serve(int count) {
    const std::unique_ptr<LxTarvexMuxMsgServer> server(LxTarvexMuxMsgServer::GetInstance());
    int answered = server->InitTarvexMuxMsgServer() && raise(SIGSTOP) == 0 ? 0 : -1;
    while (answered >= 0 && answered < count) {
        if (const Msg request{server->ReadFromClient()}) {
            answered = server->SendToClient(Answer(*request).get()) == 0 ? answered + 1 : -1;
        }
    }
    return answered == count ? 0 : 1;
}

} // namespace

// The golden frames of the IPC library linked (ZAM_TEST_FRAMES: ours in tests/data/frames.hex,
// the test platform's in tests/platform/frames.hex), written from the encoding's description,
// not by the library. A line each: name, network, image ("-" or 32 hex digits, bit 127
// first), and the frame's bytes in hex; '#' starts a comment. Serialize must give the frame,
// and the server, which reads it with DeSerialize after noise, the report.
TEST(Wire, GoldenFramesAreWrittenAndReadBackThroughTheServer) {
    const char* path = std::getenv("ZAM_TEST_FRAMES");
    if (path == nullptr || *path == '\0') {
        GTEST_SKIP() << "no golden frames for this IPC library (ZAM_TEST_FRAMES)";
    }
    std::ifstream golden(path);
    ASSERT_TRUE(golden.is_open()) << path;
    TempFifoDir dir;
    const std::unique_ptr<LxTarvexMuxMsgServer> server(LxTarvexMuxMsgServer::GetInstance());
    ASSERT_TRUE(server->InitTarvexMuxMsgServer());
    const int fifo = open(dir.PathOf("TarMuxMsgServerIpc").c_str(), O_WRONLY | O_NONBLOCK);
    for (std::string line; std::getline(golden, line);) {
        std::istringstream fields(line.substr(0, line.find('#')));
        std::string name;
        unsigned short network = 0;
        std::string image;
        Bytes frame;
        fields >> name >> network >> image;
        for (std::string hex; fields >> hex;) {
            for (size_t i = 0; i + 1 < hex.size(); i += 2) {
                frame.push_back(
                    static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
            }
        }
        if (frame.empty()) {
            continue;
        }
        Image* bits = image == "-" ? nullptr : new Image;
        for (size_t i = 0; bits != nullptr && i < image.size(); i += 8) {
            *bits = *bits << 32 | Image(std::stoul(image.substr(i, 8), nullptr, 16));
        }
        const LxTarvexDetectedMacMsg report(network, bits);
        const std::unique_ptr<LxIpcMsgBuffer> written(report.Serialize());
        EXPECT_EQ(Bytes(written->GetBuf(), written->GetBuf() + written->GetLength()), frame)
            << name;
        Bytes bytes{0x5A, 0x5A, 0x5A, 0x5A}; // no start marker in any byte order
        bytes.insert(bytes.end(), frame.begin(), frame.end());
        ASSERT_EQ(write(fifo, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        Msg got;
        for (int call = 0; call < 5 && !got; ++call) { // noise, then four steps of a frame
            got.reset(server->ReadFromClient());
        }
        EXPECT_TRUE(SameReport(got, report)) << name;
    }
    close(fifo);
}

TEST(Wire, EveryRequestGetsItsAnswerAcrossTwoProcesses) {
    constexpr int kRequests = 1000;
    TempFifoDir dir;
    ChildProcess server([] { return Serve(kRequests); }); // before our FIFO: it inherits none
    ASSERT_EQ(waitpid(server.Pid(), nullptr, WUNTRACED), server.Pid()); // its FIFO is open
    kill(server.Pid(), SIGCONT);
    const std::unique_ptr<LxTarvexMuxMsgClient> client(LxTarvexMuxMsgClient::GetInstance());
    ASSERT_TRUE(client->InitTarvexMuxIpc()); // before sending: the reply needs a reader
    std::mt19937 random(4099);
    for (int i = 0; i < kRequests && !HasFailure(); ++i) {
        const Msg request = RandomReport(random);
        const int status = client->SendRequest(request.get());
        const Msg reply(status == 0 ? client->ReadResponse() : nullptr);
        EXPECT_TRUE(SameReport(reply, *Answer(*request))) << i << ", send status " << status;
    }
    EXPECT_EQ(server.Wait(HasFailure() ? 0 : 30), 0);
}
