// Two processes exchange 1,000 reports through the real FIFOs: a forked child serves, the
// parent asks and checks every reply. Holds over any IPC library the library is built on.
#include "ChildProcess.h"
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgClient.h"
#include "LxTarvexMuxMsgServer.h"
#include "TempFifoDir.h"

#include <gtest/gtest.h>
#include <memory>

namespace {

using Image = std::bitset<128>;
using Msg = std::unique_ptr<LxTarvexDetectedMacMsg>;
constexpr int kRequests = 1000;

// The child's server: answers `count` requests with network + 1 and the same image.
int Serve(int count) {
    const std::unique_ptr<LxTarvexMuxMsgServer> server(LxTarvexMuxMsgServer::GetInstance());
    int answered = server->InitTarvexMuxMsgServer() ? 0 : -1;
    while (answered >= 0 && answered < count) {
        if (const Msg request{server->ReadFromClient()}) {
            const Image* image = request->GetActiveMacImage();
            LxTarvexDetectedMacMsg reply(static_cast<unsigned short>(request->GetNetworkNumber() + 1),
                                         image != nullptr ? new Image(*image) : nullptr);
            answered = server->SendToClient(&reply) == 0 ? answered + 1 : -1;
        }
    }
    return answered == count ? 0 : 1;
}

bool SameImage(const Image* sent, const Image* got) {
    return sent == nullptr ? got == nullptr : got != nullptr && *got == *sent;
}

} // namespace

// Requests without an image, with a full one, or with a pattern around a moving MAC; network
// numbers spread over the range, the first 65535 so that +1 wraps to 0.
TEST(Exchange, EveryRequestGetsItsReplyAcrossTwoProcesses) {
    TempFifoDir dir;
    ChildProcess server([] { return Serve(kRequests); }); // before our FIFO: it inherits none
    const std::unique_ptr<LxTarvexMuxMsgClient> client(LxTarvexMuxMsgClient::GetInstance());
    ASSERT_TRUE(client->InitTarvexMuxIpc()); // before sending: the reply needs a reader
    for (int i = 0; i < kRequests && !HasFailure(); ++i) {
        Image bits = Image(0x9E3779B97F4A7C15ULL * i) << 64 ^ Image(2654435761ULL * i).set(i % 128);
        Image* image = i % 4 == 0 ? nullptr : new Image(i % 4 == 1 ? bits.set() : bits);
        LxTarvexDetectedMacMsg request(static_cast<unsigned short>(65535 + i * 4099), image);
        int status = client->SendRequest(&request);
        // Until the child's server reads its FIFO a send fails at once: retry, up to 10 s.
        for (int retry = 0; status != 0 && i == 0 && retry < 2000; ++retry) {
            usleep(5000);
            status = client->SendRequest(&request);
        }
        const Msg reply(status == 0 ? client->ReadResponse() : nullptr);
        ASSERT_NE(reply, nullptr) << "request " << i << ", send status " << status;
        EXPECT_EQ(reply->GetNetworkNumber(), (request.GetNetworkNumber() + 1) % 65536);
        EXPECT_TRUE(SameImage(request.GetActiveMacImage(), reply->GetActiveMacImage())) << i;
    }
    EXPECT_EQ(server.Wait(HasFailure() ? 0 : 30), 0);
}
