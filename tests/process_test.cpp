// Faults between real processes (forked, no exec, so also under qemu-user): clients sending at
// once, a server killed and restarted, an idle server's CPU time, a client killed while the
// server answers it. Every wait is bounded; children are killed and reaped at scope end.
#include "ChildProcess.h"
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgClient.h"
#include "LxTarvexMuxMsgServer.h"
#include "OpenDescriptors.h"
#include "TempFifoDir.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <set>
#include <sys/resource.h>
#include <vector>

namespace {

using Msg = std::unique_ptr<LxTarvexDetectedMacMsg>;
using Server = std::unique_ptr<LxTarvexMuxMsgServer>;
using Client = std::unique_ptr<LxTarvexMuxMsgClient>;
using Clock = std::chrono::steady_clock;

// A report whose image is a function of its network: a frame mixed with another's shows.
Msg Report(int network) {
    auto* image = new std::bitset<128>;
    image->set(static_cast<std::size_t>(network % 128)).set(127 - network % 100);
    return std::make_unique<LxTarvexDetectedMacMsg>(static_cast<unsigned short>(network), image);
}

bool IsWhole(const LxTarvexDetectedMacMsg& got) {
    const Msg want = Report(got.GetNetworkNumber());
    return got.GetActiveMacImage() != nullptr &&
           *got.GetActiveMacImage() == *want->GetActiveMacImage();
}

double CpuSeconds() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Reads from the server until a request comes or `seconds` pass.
Msg Request(LxTarvexMuxMsgServer& server, double seconds) {
    Msg request;
    for (const auto end = Clock::now() + std::chrono::duration<double>(seconds);
         !request && Clock::now() < end;) {
        request.reset(server.ReadFromClient());
    }
    return request;
}

// A client process: sends `network`, and with `answered` returns 0 only for the answer.
int AskOnce(int network, bool answered) {
    const Client client(LxTarvexMuxMsgClient::GetInstance());
    if (!client->InitTarvexMuxIpc() || client->SendRequest(Report(network).get()) != 0) {
        return 2;
    }
    const Msg reply(answered ? client->ReadResponse() : nullptr);
    return !answered || (reply && reply->GetNetworkNumber() == network && IsWhole(*reply)) ? 0 : 1;
}

// The number a pipe's writer sent, or -1 after 10 s.
int ReadNumber(int fd) {
    struct pollfd entry = {fd, POLLIN, 0};
    int value = -1;
    return poll(&entry, 1, 10000) == 1 && read(fd, &value, sizeof value) == sizeof value ? value
                                                                                         : -1;
}

struct Process : ::testing::Test {
    TempFifoDir m_dir;
};

} // namespace

// Eight clients send 50 reports each at the same time: every frame arrives whole, once.
TEST_F(Process, FramesOfManyClientsSendingAtOnceArriveWholeAndNeverInterleaved) {
    constexpr int kClients = 8;
    constexpr int kEach = 50;
    const Server server(LxTarvexMuxMsgServer::GetInstance());
    ASSERT_TRUE(server->InitTarvexMuxMsgServer());
    std::vector<std::unique_ptr<ChildProcess>> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.push_back(std::make_unique<ChildProcess>([c] {
            const Client client(LxTarvexMuxMsgClient::GetInstance());
            int failed = client->InitTarvexMuxIpc() ? 0 : 1;
            for (int i = 0; i < kEach; ++i) {
                failed += client->SendRequest(Report(c * 1000 + i).get()) != 0;
            }
            return failed;
        }));
    }
    std::set<int> got;
    for (Msg request; (request = Request(*server, 3)) != nullptr;) {
        EXPECT_TRUE(IsWhole(*request)) << request->GetNetworkNumber();
        EXPECT_TRUE(got.insert(request->GetNetworkNumber()).second);
        if (got.size() == std::size_t{kClients * kEach}) {
            break;
        }
    }
    EXPECT_EQ(got.size(), std::size_t{kClients * kEach});
    for (auto& client : clients) {
        EXPECT_EQ(client->Wait(5), 0);
    }
}

// Each new server starts while the old one still holds its FIFO, so its first opens are
// refused; the old one is SIGKILLed. Each server's descriptors after serving, and the
// client's after each answer, are the same every time.
TEST_F(Process, DescriptorsStaySteadyWhileTheServerIsKilledAndRestarted) {
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    const Client client(LxTarvexMuxMsgClient::GetInstance());
    ASSERT_TRUE(client->InitTarvexMuxIpc());
    std::unique_ptr<ChildProcess> previous;
    std::set<int> serverCounts;
    std::set<int> clientCounts;
    for (int round = 0; round < 4; ++round) {
        auto next = std::make_unique<ChildProcess>([fd = report[1]] {
            const Server server(LxTarvexMuxMsgServer::GetInstance());
            while (!server->InitTarvexMuxMsgServer()) {
                usleep(5000);
            }
            const Msg request = Request(*server, 10);
            const int count =
                request && server->SendToClient(request.get()) == 0 ? OpenDescriptors() : -1;
            return write(fd, &count, sizeof count) == sizeof count ? pause() : 1;
        });
        usleep(100000);   // the new server is refused meanwhile
        previous.reset(); // SIGKILL
        previous = std::move(next);
        Msg reply;
        for (const auto end = Clock::now() + std::chrono::seconds(10);
             !reply && Clock::now() < end;) {
            if (client->SendRequest(Report(round).get()) == 0) {
                reply.reset(client->ReadResponse());
            } else {
                usleep(2000); // the new server's FIFO is not read yet
            }
        }
        ASSERT_TRUE(reply != nullptr);
        serverCounts.insert(ReadNumber(report[0]));
        clientCounts.insert(OpenDescriptors());
    }
    EXPECT_EQ(serverCounts.size(), 1u) << *serverCounts.begin() << ".." << *serverCounts.rbegin();
    EXPECT_GT(*serverCounts.begin(), 0);
    EXPECT_EQ(clientCounts.size(), 1u) << *clientCounts.begin() << ".." << *clientCounts.rbegin();
    close(report[0]);
    close(report[1]);
}

// After its only client sent and left, a reading server uses next to no CPU over 2.5 s (a
// bound for a busy loop, not a benchmark): its CPU time in ms is its exit status / 10.
TEST_F(Process, AnIdleServerAfterTheLastWriterLeftUsesNoCpu) {
    ChildProcess server([] {
        const Server own(LxTarvexMuxMsgServer::GetInstance());
        if (!own->InitTarvexMuxMsgServer() || raise(SIGSTOP) != 0 || !Request(*own, 5)) {
            return 255;
        }
        const double start = CpuSeconds();
        for (const auto end = Clock::now() + std::chrono::milliseconds(2500); Clock::now() < end;) {
            Msg(own->ReadFromClient());
        }
        return static_cast<int>(std::min(250.0, (CpuSeconds() - start) * 100));
    });
    ASSERT_EQ(waitpid(server.Pid(), nullptr, WUNTRACED), server.Pid());
    kill(server.Pid(), SIGCONT);
    ChildProcess client([] { return AskOnce(7, false); });
    EXPECT_EQ(client.Wait(5), 0);
    EXPECT_LT(server.Wait(10), 20); // < 0.2 s
}

// A client that never reads is SIGKILLed while the server's answers fill its FIFO: the answer
// fails without a SIGPIPE ending the server, which then serves the next client.
TEST_F(Process, AServerGoesOnAfterAClientKilledWhileItAnswers) {
    ChildProcess server([] {
        sigset_t pipe; // SIGPIPE as most programs have it, whatever this process inherited
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        sigprocmask(SIG_UNBLOCK, &pipe, nullptr);
        signal(SIGPIPE, SIG_DFL);
        const Server own(LxTarvexMuxMsgServer::GetInstance());
        if (!own->InitTarvexMuxMsgServer() || raise(SIGSTOP) != 0) {
            return 1;
        }
        Msg request = Request(*own, 5);
        int status = 0;
        for (int i = 0; request && status == 0 && i < 5000; ++i) {
            status = own->SendToClient(request.get());
        }
        request = Request(*own, 10);
        return status != 0 && request && own->SendToClient(request.get()) == 0 ? 0 : 2;
    });
    ASSERT_EQ(waitpid(server.Pid(), nullptr, WUNTRACED), server.Pid());
    kill(server.Pid(), SIGCONT);
    {
        ChildProcess silent([] { return AskOnce(1, false) == 0 ? pause() : 1; });
        usleep(300000); // the server is filling the FIFO by now, or waiting for room
    }
    ChildProcess next([] { return AskOnce(2, true); });
    EXPECT_EQ(next.Wait(10), 0);
    EXPECT_EQ(server.Wait(5), 0);
}
