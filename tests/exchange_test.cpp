// Two processes exchange 1,000 reports through the real FIFOs: a forked child serves, the
// parent asks and checks every reply.
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgClient.h"
#include "LxTarvexMuxMsgServer.h"
#include "TempFifoDir.h"

#include <csignal>
#include <gtest/gtest.h>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Image = std::bitset<128>;
using Msg = std::unique_ptr<LxTarvexDetectedMacMsg>;
constexpr int kRequests = 1000;

// The child's server: answers `count` requests with network + 1 and the same image.
int Serve(int count) {
    alarm(60); // a parent that gave up cannot leave this process behind
    LxTarvexMuxMsgServer* server = LxTarvexMuxMsgServer::GetInstance();
    int answered = server->InitTarvexMuxMsgServer() ? 0 : -1;
    while (answered >= 0 && answered < count) {
        if (const Msg request{server->ReadFromClient()}) {
            const Image* image = request->GetActiveMacImage();
            LxTarvexDetectedMacMsg reply(
                static_cast<unsigned short>(request->GetNetworkNumber() + 1),
                image != nullptr ? new Image(*image) : nullptr);
            answered = server->SendToClient(&reply) == 0 ? answered + 1 : -1;
        }
    }
    delete server;
    return answered == count ? 0 : 1;
}

} // namespace

// Requests without an image, with a full one, or with a pattern around a moving MAC; network
// numbers spread over the range, the first 65535 so that +1 wraps to 0.
TEST(Exchange, EveryRequestGetsItsReplyAcrossTwoProcesses) {
    TempFifoDir dir;
    const pid_t pid = fork(); // before any endpoint opens a FIFO: the child inherits none
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        _exit(Serve(kRequests));
    }
    const std::unique_ptr<LxTarvexMuxMsgClient> client(LxTarvexMuxMsgClient::GetInstance());
    EXPECT_TRUE(client->InitTarvexMuxIpc()); // before sending: the reply needs a reader
    for (int i = 0; i < kRequests && !HasFailure(); ++i) {
        Image bits = Image(0x9E3779B97F4A7C15ULL * i) << 64 ^ Image(2654435761ULL * i).set(i % 128);
        LxTarvexDetectedMacMsg request(static_cast<unsigned short>(65535 + i * 4099),
                                       i % 4 == 0 ? nullptr
                                                  : new Image(i % 4 == 1 ? bits.set() : bits));
        // Until the child's server reads its FIFO a send fails at once: retry, up to 10 s.
        int status = client->SendRequest(&request);
        for (int retry = 0; status != 0 && i == 0 && retry++ < 2000; usleep(5000)) {
            status = client->SendRequest(&request);
        }
        const Msg reply(status == 0 ? client->ReadResponse() : nullptr);
        const Image *sent = request.GetActiveMacImage(),
                    *got = reply ? reply->GetActiveMacImage() : nullptr;
        EXPECT_TRUE(reply != nullptr &&
                    reply->GetNetworkNumber() == (request.GetNetworkNumber() + 1) % 65536 &&
                    (sent == nullptr ? got == nullptr : got != nullptr && *got == *sent))
            << "request " << i << ", send status " << status;
    }
    if (HasFailure()) {
        kill(pid, SIGKILL);
    }
    int status = -1;
    waitpid(pid, &status, 0); // bounded by the child's alarm
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "server status " << status;
}
