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

constexpr int kRequests = 1000;

std::bitset<128>* CopyOf(const std::bitset<128>* image) {
    return image != nullptr ? new std::bitset<128>(*image) : nullptr;
}

// The child's server: answers `count` requests with network + 1 and the same image.
int Serve(int count) {
    alarm(60); // a parent that gave up cannot leave this process behind
    LxTarvexMuxMsgServer* server = LxTarvexMuxMsgServer::GetInstance();
    int answered = server->InitTarvexMuxMsgServer() ? 0 : -1;
    while (answered >= 0 && answered < count) {
        std::unique_ptr<LxTarvexDetectedMacMsg> request(server->ReadFromClient());
        if (request != nullptr) {
            LxTarvexDetectedMacMsg reply(
                static_cast<unsigned short>(request->GetNetworkNumber() + 1),
                CopyOf(request->GetActiveMacImage()));
            answered = server->SendToClient(&reply) == 0 ? answered + 1 : -1;
        }
    }
    delete server;
    return answered == count ? 0 : 1;
}

// Sends every request and checks its reply: no image, a full one, or a pattern around a
// moving MAC; network numbers spread over the range, the first 65535 so that +1 wraps to 0.
void AskAll(LxTarvexMuxMsgClient& client) {
    ASSERT_TRUE(client.InitTarvexMuxIpc()); // before sending: the reply needs a reader
    for (int i = 0; i < kRequests; ++i) {
        std::bitset<128> image = (std::bitset<128>(0x9E3779B97F4A7C15ULL * i) << 64) ^
                                 std::bitset<128>(2654435761ULL * i).set(i % 128);
        LxTarvexDetectedMacMsg request(static_cast<unsigned short>(65535 + i * 4099),
                                       i % 4 == 0 ? nullptr
                                                  : CopyOf(i % 4 == 1 ? &image.set() : &image));
        int status = client.SendRequest(&request);
        // Until the child's server reads its FIFO a send fails at once (14 or 15): retry.
        for (int retry = 0; i == 0 && status != 0 && retry < 2000; ++retry) {
            usleep(5000);
            status = client.SendRequest(&request);
        }
        ASSERT_EQ(status, 0) << "request " << i;
        std::unique_ptr<LxTarvexDetectedMacMsg> reply(client.ReadResponse());
        ASSERT_NE(reply, nullptr) << "request " << i;
        ASSERT_EQ(reply->GetNetworkNumber(), (request.GetNetworkNumber() + 1) % 65536) << i;
        const auto *sent = request.GetActiveMacImage(), *got = reply->GetActiveMacImage();
        ASSERT_TRUE(sent == nullptr ? got == nullptr : got != nullptr && *got == *sent) << i;
    }
}

} // namespace

TEST(Exchange, EveryRequestGetsItsReplyAcrossTwoProcesses) {
    TempFifoDir dir;
    const pid_t pid = fork(); // before any endpoint opens a FIFO: the child inherits none
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        _exit(Serve(kRequests));
    }
    LxTarvexMuxMsgClient* client = LxTarvexMuxMsgClient::GetInstance();
    AskAll(*client);
    delete client;
    if (HasFailure()) {
        kill(pid, SIGKILL);
    }
    int status = -1;
    waitpid(pid, &status, 0); // bounded by the child's alarm
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "server status " << status;
}
