// Faults between real processes: peers killed or vanishing, rogue bytes, floods, full FIFOs,
// signals during waits, descriptor leaks. Every test has its own FIFO directory.
#include "ChildProcess.h"
#include "LxIpcFifoSession.h"
#include "LxIpcMsgBuffer.h"
#include "LxIpcSession.h"
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgClient.h"
#include "LxTarvexMuxMsgServer.h"
#include "TempFifoDir.h"

#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <vector>

namespace {

using Msg = std::unique_ptr<LxTarvexDetectedMacMsg>;
using Server = LxTarvexMuxMsgServer;
using Bytes = std::vector<unsigned char>;

// The image follows from the network number, so that a damaged frame shows.
std::bitset<128> ImageOf(int network) {
    const auto n = static_cast<unsigned long long>(network);
    return (std::bitset<128>(n * 0x9E3779B97F4A7C15ull) << 40 | std::bitset<128>(n)).set(127);
}
Msg Report(int network) {
    return std::make_unique<LxTarvexDetectedMacMsg>(network,
                                                    new std::bitset<128>(ImageOf(network)));
}
bool Intact(const Msg& m) {
    return m && m->GetActiveMacImage() && *m->GetActiveMacImage() == ImageOf(m->GetNetworkNumber());
}
bool Failure(int status) {
    return status != 0 && status != 5;
}
Bytes& operator<<(Bytes& out, unsigned int word) { // 4 bytes, big-endian
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<unsigned char>(word >> shift));
    }
    return out;
}

// The client singleton, its FIFO opened, deleted at scope end.
std::unique_ptr<LxTarvexMuxMsgClient> Client() {
    std::unique_ptr<LxTarvexMuxMsgClient> client(LxTarvexMuxMsgClient::GetInstance());
    client->InitTarvexMuxIpc();
    return client;
}
// Sends once a server reads its FIFO, trying for up to 10 s; returns the last status.
int SendWhenUp(LxTarvexMuxMsgClient& client, const Msg& message) {
    int status = -1;
    for (const auto start = TestClock::now();
         (status = client.SendRequest(message.get())) != 0 && SecondsSince(start) < 10;) {
        usleep(2000);
    }
    return status;
}
// Body of a server process: `onMessage(server, message)` for each message it reads.
template <class OnMessage> int Serve(OnMessage onMessage) {
    const std::unique_ptr<Server> server(Server::GetInstance());
    const bool open = server->InitTarvexMuxMsgServer();
    for (const auto start = TestClock::now(); open && SecondsSince(start) < 100;) {
        if (Msg m{server->ReadFromClient()}) {
            onMessage(*server, m);
        }
    }
    return open ? 0 : 3;
}
int Echo() {
    return Serve([](Server& server, Msg& m) { server.SendToClient(m.get()); });
}

volatile sig_atomic_t g_signals = 0;

class Fault : public ::testing::Test {
protected:
    TempFifoDir m_dir;
};

} // namespace

TEST_F(Fault, ServerKilledMidStreamSendsFailAtOnceRestartServes) {
    auto server = std::make_unique<Child>(Echo);
    const auto client = Client();
    ASSERT_EQ(SendWhenUp(*client, Report(1)), 0);
    for (int network = 2; network < 200; ++network) {
        client->SendRequest(Report(network).get());
    }
    server.reset(); // SIGKILL while it works through the stream
    const auto start = TestClock::now();
    EXPECT_TRUE(Failure(client->SendRequest(Report(1).get())));
    EXPECT_LT(SecondsSince(start), 1.0);

    LxTarvexMuxMsgClient::s_readTimeout = 0; // drop the first server's replies
    while (Msg(client->ReadResponse()) != nullptr) {
    }
    LxTarvexMuxMsgClient::s_readTimeout = 2;
    server = std::make_unique<Child>(Echo);
    ASSERT_EQ(SendWhenUp(*client, Report(4242)), 0);
    const Msg reply(client->ReadResponse());
    EXPECT_TRUE(Intact(reply) && reply->GetNetworkNumber() == 4242);
}

TEST_F(Fault, ClientKilledWhileServerRepliesServerGoesOn) {
    ReportPipe sends; // per request: the first reply's status, then the last one's
    Child server([&sends] {
        return Serve([&sends](Server& s, Msg& m) {
            int status = s.SendToClient(m.get());
            sends.Send(status);
            // Network 1 asks for more replies than the client's FIFO holds.
            for (int i = m->GetNetworkNumber() == 1 ? 2000 : 0; i > 0 && status == 0; --i) {
                status = s.SendToClient(m.get());
            }
            sends.Send(status);
        });
    });
    int status = -1;
    {
        Child client([] { return SendWhenUp(*Client(), Report(1)) == 0 ? pause() : 1; });
        ASSERT_TRUE(sends.Receive(status, 10) && status == 0);
        usleep(200 * 1000);
    } // SIGKILL while the server waits for room in the client's FIFO
    ASSERT_TRUE(sends.Receive(status, 5));
    EXPECT_TRUE(Failure(status)) << status;
    EXPECT_TRUE(server.Running());

    const auto client = Client();
    ASSERT_EQ(SendWhenUp(*client, Report(2)), 0);
    const Msg reply(client->ReadResponse());
    EXPECT_TRUE(Intact(reply) && reply->GetNetworkNumber() == 2);
}

TEST_F(Fault, RogueNoiseAndPartialFramesLoseNoAlignedGoodFrame) {
    ReportPipe received;
    Child server([&received] {
        return Serve([&received](Server&, Msg& m) {
            received.Send(Intact(m) ? m->GetNetworkNumber() : -1);
        });
    });
    std::mt19937 random(7);
    const auto noise = [&random](Bytes bytes, int words) { // no start or end marker
        for (unsigned int w = random(); words-- > 0; w = random()) {
            bytes << (w == 0xBEAD || w == 0xBADE ? 0 : w);
        }
        return bytes;
    };
    // One write per item, so that no 4-byte read of the server spans two writes.
    std::vector<Bytes> writes;
    const int frames = 60;
    for (int network = 1; network <= frames; ++network) {
        Bytes partial;
        partial << 0xBEAD << (network % 3 == 0 ? 40 : network % 2 ? 0 : 400);
        if (network % 3 != 0) { // refused length: 0 or too long
            writes.push_back(partial);
        } else { // 10 of 40 payload bytes, then noise: the reader takes 30 more, finds no end
                 // marker and goes on in 4-byte steps, 4 bytes before the next frame
            partial.resize(18, '1');
            writes.insert(writes.end(), {partial, noise({0, 0}, 9)});
        }
        const std::unique_ptr<LxIpcMsgBuffer> frame(Report(network)->Serialize());
        writes.insert(writes.end(), {noise({}, network % 4),
                                     Bytes(frame->GetBuf(), frame->GetBuf() + frame->GetLength())});
    }
    LxIpcFifoSession rogue("rogue", LxIpcFifoSession::IpcCloseNoConfirm);
    for (const auto start = TestClock::now();
         rogue.OpenWriteFifo("TarMuxMsgServerIpc") != 0 && SecondsSince(start) < 10;) {
    }
    for (size_t i = 0; i < writes.size(); ++i) { // one write(2) each, waiting for room
        while (rogue.WriteData(writes[i].data(), static_cast<int>(writes[i].size())) ==
               IpcStatusFifoFull) {
        }
    }
    rogue.CloseWriteFifo();
    for (int network = 1, got = 0; network <= frames; ++network) {
        ASSERT_TRUE(received.Receive(got, 10) && got == network) << network << ": " << got;
    }
    int extra = 0;
    EXPECT_FALSE(received.Receive(extra, 0.3)) << extra;
    EXPECT_TRUE(server.Running());
}

TEST_F(Fault, FullFifoSendFailsInBoundThenReaderVanishesMidWrite) {
    ReportPipe leave;
    Child server([&leave] { // opens its FIFO, never reads, vanishes 200 ms after being told
        const std::unique_ptr<Server> s(Server::GetInstance());
        int go = 0;
        if (s->InitTarvexMuxMsgServer() && leave.Receive(go, 100) && usleep(200 * 1000) == 0) {
            kill(getpid(), SIGKILL);
        }
        return 3;
    });
    const auto client = Client();
    ASSERT_EQ(SendWhenUp(*client, Report(7)), 0);
    int status = 0;
    double took = 0;
    for (int i = 0; i < 2000 && status == 0; ++i) {
        const auto start = TestClock::now();
        status = client->SendRequest(Report(7).get());
        took = SecondsSince(start);
    }
    EXPECT_EQ(status, IpcStatusFifoFull);
    EXPECT_LT(took, 3.0);

    leave.Send(1); // the reader dies while the next send waits for room
    const auto start = TestClock::now();
    EXPECT_EQ(client->SendRequest(Report(7).get()), IpcStatusPeerGone);
    EXPECT_LT(SecondsSince(start), 1.0);
    EXPECT_EQ(server.Wait(5), 128 + SIGKILL);
}

TEST_F(Fault, EightFloodingClientsEveryFrameOnceIntactInOrder) {
    const int clients = 8;
    const int perClient = Scaled(5000);
    const std::unique_ptr<Server> server(Server::GetInstance());
    ASSERT_TRUE(server->InitTarvexMuxMsgServer());
    std::vector<std::unique_ptr<Child>> senders;
    for (int id = 0; id < clients; ++id) {
        senders.push_back(std::make_unique<Child>([id, perClient] {
            const auto client = Client();
            int status = 0;
            for (int seq = 0; seq < perClient && status == 0; ++seq) {
                const Msg m = Report(id << 13 | seq); // client id and sequence number
                while ((status = client->SendRequest(m.get())) == IpcStatusFifoFull) {
                }
            }
            return status;
        }));
    }
    std::vector<int> next(clients, 0);
    int received = 0;
    int bad = 0;
    for (const auto start = TestClock::now();
         received < clients * perClient && SecondsSince(start) < 90;) {
        if (const Msg m{server->ReadFromClient()}) {
            const int id = m->GetNetworkNumber() >> 13;
            const int seq = m->GetNetworkNumber() & 0x1FFF;
            Intact(m) && id < clients&& seq == next[id] ? ++next[id] : ++bad;
            ++received;
        }
    }
    EXPECT_EQ(received, clients * perClient);
    EXPECT_EQ(bad, 0);
    for (const auto& sender : senders) {
        EXPECT_EQ(sender->Wait(10), 0);
    }
}

TEST_F(Fault, IdleServerLoopUsesUnderOnePercentOfACpu) {
    ReportPipe usage; // CPU microseconds of 2.5 s of ReadFromClient calls, twice
    Child server([&usage] {
        const std::unique_ptr<Server> s(Server::GetInstance());
        bool got = !s->InitTarvexMuxMsgServer();
        for (int phase = 0; phase < 2; ++phase) {
            const long before = CpuMicroseconds();
            for (const auto start = TestClock::now(); SecondsSince(start) < 2.5;) {
                got = Msg(s->ReadFromClient()) != nullptr || got;
            }
            usage.Send(static_cast<int>(CpuMicroseconds() - before));
            for (const auto start = TestClock::now(); !got && SecondsSince(start) < 20;) {
                got = Msg(s->ReadFromClient()) != nullptr;
            }
        }
        return got ? 0 : 1;
    });
    int before = 0;
    int after = 0;
    ASSERT_TRUE(usage.Receive(before, 20));         // nobody has written yet
    ASSERT_EQ(SendWhenUp(*Client(), Report(3)), 0); // a client writes, closes and goes
    ASSERT_TRUE(usage.Receive(after, 30));
    EXPECT_LT(before, 25000); // 1% of 2.5 s
    EXPECT_LT(after, 25000);
    EXPECT_EQ(server.Wait(10), 0);
}

TEST_F(Fault, SignalsNeitherEndNorStretchTheReplyWait) {
    struct sigaction count {
    }, previous{};
    count.sa_handler = [](int) { g_signals = g_signals + 1; }; // no SA_RESTART: EINTR
    ASSERT_EQ(sigaction(SIGUSR1, &count, &previous), 0);
    const auto client = Client();
    g_signals = 0;
    double took = 0;
    {
        Child pinger([parent = getpid()] {
            for (int i = 0; i < 200 && kill(parent, SIGUSR1) == 0; ++i) {
                usleep(50 * 1000);
            }
            return 0;
        });
        LxTarvexMuxMsgClient::s_readTimeout = 1;
        const auto start = TestClock::now();
        EXPECT_EQ(Msg(client->ReadResponse()), nullptr);
        took = SecondsSince(start);
        LxTarvexMuxMsgClient::s_readTimeout = 2;
    } // the pinger is gone before its handler is
    sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_TRUE(took >= 0.9 && took <= 1.5) << took;
    EXPECT_GE(g_signals, 5); // the wait really was interrupted
}

TEST_F(Fault, SendsLeakNoDescriptorExecedChildInheritsNoFifo) {
    const auto client = Client();
    const Msg m = Report(5);
    const int before = OpenDescriptors();
    const int sends = Scaled(10000);
    int failed = 0;
    for (int i = 0; i < sends; ++i) {
        failed += Failure(client->SendRequest(m.get()));
    }
    EXPECT_EQ(failed, sends); // no server
    EXPECT_EQ(OpenDescriptors(), before);
    {
        Child server([] { return Serve([](Server&, Msg&) {}); });
        ASSERT_EQ(SendWhenUp(*client, m), 0);
        for (int i = 0; i < sends; ++i) {
            client->SendRequest(m.get());
        }
        EXPECT_EQ(OpenDescriptors(), before);
    }
    // A child started with fork and exec lists its descriptors while ours are open.
    ReportPipe out;
    Child lister([&out] {
        dup2(out.WriteEnd(), STDOUT_FILENO);
        return execl("/bin/sh", "sh", "-c", "ls -l /proc/$$/fd", static_cast<char*>(nullptr));
    });
    const std::string listing = out.ReadAll(10);
    EXPECT_EQ(lister.Wait(10), 0);
    EXPECT_NE(listing.find(" 1 -> "), std::string::npos) << listing; // it did list
    EXPECT_EQ(listing.find(m_dir.Path()), std::string::npos) << listing;
}
