// Faults between real processes: peers killed or vanishing, rogue bytes, floods, full FIFOs,
// signals, removed nodes, a second server, descriptor leaks. Children are forked without exec
// (so the tests also run under qemu-user), killed and reaped at scope end; every wait is bounded.
#include "ChildProcess.h"
#include "LogCapture.h"
#include "LxIpcFifoSession.h"
#include "LxIpcMsgBuffer.h"
#include "LxTarvexMuxMsgClient.h"
#include "LxTarvexMuxMsgServer.h"
#include "Reports.h"
#include "TempFifoDir.h"

#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>

namespace {

using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;
using Child = ChildProcess;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool Failure(int status) { // 5: no session or no message, a fault of the test
    return status != 0 && status != 5;
}

// The endpoint singletons with their FIFOs opened (a failure shows in what follows).
std::unique_ptr<LxTarvexMuxMsgClient> Client() {
    std::unique_ptr<LxTarvexMuxMsgClient> client(LxTarvexMuxMsgClient::GetInstance());
    client->InitTarvexMuxIpc();
    return client;
}
std::unique_ptr<LxTarvexMuxMsgServer> Server() {
    std::unique_ptr<LxTarvexMuxMsgServer> server(LxTarvexMuxMsgServer::GetInstance());
    server->InitTarvexMuxMsgServer();
    return server;
}

// Sends once a server reads its FIFO and has room, trying for up to 10 s; the last status.
int SendWhenUp(LxTarvexMuxMsgClient& client, int network) {
    const Report report = ReportOf(network);
    int status = client.SendRequest(report.get());
    for (const auto start = Clock::now(); status != 0 && SecondsSince(start) < 10;) {
        usleep(2000);
        status = client.SendRequest(report.get());
    }
    return status;
}

// SendRequest's status, which must come within `seconds`.
int SendWithin(LxTarvexMuxMsgClient& client, double seconds) {
    const auto start = Clock::now();
    const int status = client.SendRequest(ReportOf(7).get());
    EXPECT_LT(SecondsSince(start), seconds);
    return status;
}

bool Exchange(LxTarvexMuxMsgClient& client, int network) {
    return SendWhenUp(client, network) == 0 && Intact(Report(client.ReadResponse()), network);
}

// The next request within `seconds`, or null.
Report Next(LxTarvexMuxMsgServer& server, double seconds = 10) {
    for (const auto start = Clock::now(); SecondsSince(start) < seconds;) {
        if (Report request{server.ReadFromClient()}) {
            return request;
        }
    }
    return nullptr;
}

// Answers the next request `times` times, or until an answer fails; the last status.
int Answer(LxTarvexMuxMsgServer& server, int times, double seconds = 10) {
    const Report request = Next(server, seconds);
    int status = request ? 0 : -1;
    for (int i = 0; i < times && status == 0; ++i) {
        status = server.SendToClient(request.get());
    }
    return status;
}

// A server process: reads requests until none comes for 60 s, answering when `answer`.
int Serve(bool answer) {
    const auto server = Server();
    while (Answer(*server, answer ? 1 : 0, 60) == 0) {
    }
    return 0;
}

long OpenDescriptors() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

struct Fault : ::testing::Test {
    TempFifoDir m_dir;
};

} // namespace

TEST_F(Fault, ClientKilledWhileTheServerAnswersLeavesTheServerServing) {
    const auto server = Server();
    Child doomed([] { return Exchange(*Client(), 1) ? kill(getpid(), SIGKILL) : 1; });
    EXPECT_PRED1(Failure, Answer(*server, 2000)); // it dies while these are written
    EXPECT_EQ(doomed.Wait(10), 128 + SIGKILL);
    Child next([] { return Exchange(*Client(), 2) ? 0 : 1; });
    EXPECT_EQ(Answer(*server, 1), 0);
    EXPECT_EQ(next.Wait(10), 0);
}

TEST_F(Fault, ServerKilledMidStreamAndRestartedLeaksNoDescriptor) {
    const auto client = Client();
    const long before = OpenDescriptors();
    for (int i = 0; i < 1000; ++i) {
        ASSERT_PRED1(Failure, SendWithin(*client, 1)) << i; // no server
    }
    Child first([] { return Serve(false); });
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(SendWhenUp(*client, i), 0) << i;
    }
    EXPECT_EQ(OpenDescriptors(), before);
    first.Wait(0); // SIGKILL while it works through the stream
    EXPECT_PRED1(Failure, SendWithin(*client, 1));
    Child restarted([] { return Serve(true); });
    EXPECT_TRUE(Exchange(*client, 4242));
}

// Junk words, refused headers and cut frames, each written with its own write(2): the
// reader drops them and delivers every good frame, which stands on a 4-byte step.
TEST_F(Fault, RogueNoiseAndPartialFramesLoseNoAlignedGoodFrame) {
    const auto server = Server();
    Child rogue([this] {
        const int fifo = open(m_dir.PathOf("TarMuxMsgServerIpc").c_str(), O_WRONLY);
        const auto put = [fifo](Bytes bytes, int noiseWords) { // 0xA5A5A5A5 is no marker
            bytes.resize(bytes.size() + 4 * static_cast<size_t>(noiseWords), 0xA5);
            return write(fifo, bytes.data(), bytes.size());
        };
        // A start marker and a length: 40 with 10 payload bytes, or refused (0, too long).
        const Bytes heads[] = {{0, 0, 0xBE, 0xAD, 0, 0, 0, 40, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
                               {0, 0, 0xBE, 0xAD, 0, 0, 0, 0},
                               {0, 0, 0xBE, 0xAD, 0, 0, 1, 0x90}};
        for (int network = 1; network <= 60; ++network) {
            const bool cut = network % 3 == 0;
            put(heads[network % 3], 0);
            // The cut frame's 10 payload bytes are followed by noise: the reader takes 30 more,
            // finds no end marker and goes on in 4-byte steps, 4 bytes before the next frame.
            put(cut ? Bytes{0, 0} : Bytes(), (cut ? 9 : 0) + network % 4);
            const std::unique_ptr<LxIpcMsgBuffer> frame(ReportOf(network)->Serialize());
            put(Bytes(frame->GetBuf(), frame->GetBuf() + frame->GetLength()), 0);
        }
        return fifo >= 0 ? 0 : 1;
    });
    for (int network = 1; network <= 60; ++network) {
        ASSERT_TRUE(Intact(Next(*server), network)) << network;
    }
    EXPECT_EQ(Next(*server, 0.3), nullptr);
    EXPECT_EQ(rogue.Wait(10), 0);
}

TEST_F(Fault, FullFifoFailsWithinASecondAndAReaderGoneMidWaitGivesPeerGone) {
    Child server([] { return Server() ? pause() : 1; }); // never reads
    const auto client = Client();
    int status = SendWhenUp(*client, 7);
    for (int i = 0; i < 2000 && status == 0; ++i) {
        status = SendWithin(*client, 3);
    }
    EXPECT_EQ(status, IpcStatusFifoFull);
    Child killer([pid = server.Pid()] { return usleep(200000) + kill(pid, SIGKILL); });
    EXPECT_EQ(SendWithin(*client, 1), IpcStatusPeerGone); // waits for room till the reader goes
    EXPECT_EQ(killer.Wait(5), 0);
}

TEST_F(Fault, EightFloodingClientsDeliverEveryFrameOnceIntactInOrder) {
    const char* scale = std::getenv("ZAM_TEST_SCALE"); // e.g. 0.05 under valgrind
    const int perClient = std::max(1, static_cast<int>(5000 * (scale ? std::atof(scale) : 1)));
    const auto server = Server();
    std::deque<Child> senders;
    for (int id = 0; id < 8; ++id) {
        senders.emplace_back([id, perClient] {
            const auto client = Client();
            int status = 0;
            for (int seq = 0; seq < perClient && status == 0; ++seq) {
                status = SendWhenUp(*client, id << 13 | seq); // client id, sequence number
            }
            return status;
        });
    }
    std::vector<int> next(8, 0);
    for (int i = 0; i < 8 * perClient; ++i) {
        const Report request = Next(*server);
        const int id = request ? request->GetNetworkNumber() >> 13 : 0;
        ASSERT_TRUE(Intact(request, id << 13 | next[id]++)) << i;
    }
    for (auto& sender : senders) {
        EXPECT_EQ(sender.Wait(10), 0);
    }
}

TEST_F(Fault, SignalsNeitherEndNorStretchTheReplyWait) {
    static volatile sig_atomic_t signals = 0;
    struct sigaction count {};
    count.sa_handler = [](int) { // no SA_RESTART: EINTR every 50 ms, for 3 s at most
        signals = signals + 1;
        ualarm(signals < 60 ? 50000 : 0, 0);
    };
    ASSERT_EQ(sigaction(SIGALRM, &count, nullptr), 0);
    const auto client = Client();
    signals = 0;
    ualarm(50000, 0);
    LxTarvexMuxMsgClient::s_readTimeout = 1;
    const auto start = Clock::now();
    EXPECT_EQ(Report(client->ReadResponse()), nullptr);
    const double took = SecondsSince(start);
    LxTarvexMuxMsgClient::s_readTimeout = 2;
    ualarm(0, 0);
    EXPECT_TRUE(took >= 0.9 && took <= 1.5) << took;
    EXPECT_GE(signals, 5); // the wait really was interrupted
}

// With every signal blocked, as around an application's critical section: the SIGPIPE of
// our write is taken back, one the application had pending stays.
TEST_F(Fault, SendToAVanishedReaderLeavesNoSigpipePendingUnderAFullMask) {
    Child app([] {
        sigset_t all;
        sigset_t old;
        sigset_t pending;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &old);
        int kept = 0;
        for (const bool theirs : {false, true}) {
            if (theirs) {
                raise(SIGPIPE);
            }
            LxIpcFifoSession reader("srv", LxIpcFifoSession::IpcCloseConfirmReadWrite);
            LxIpcFifoSession writer("cli", LxIpcFifoSession::IpcCloseNoConfirm);
            reader.OpenReadFifo("srv", 0600);
            writer.OpenWriteFifo("srv");
            reader.CloseReadFifo();
            const int status = writer.WriteData(reinterpret_cast<const unsigned char*>("ab"), 2);
            sigpending(&pending);
            kept += status == IpcStatusPeerGone && sigismember(&pending, SIGPIPE) == theirs;
        }
        const timespec noWait = {0, 0};
        sigtimedwait(&all, nullptr, &noWait); // the application takes its own back
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        return kept == 2 ? 0 : 1;
    });
    EXPECT_EQ(app.Wait(10), 0);
}

TEST_F(Fault, ASecondInitKeepsTheSessionAndTheFrameWaitingInIt) {
    const auto server = Server();
    ASSERT_EQ(SendWhenUp(*Client(), 5), 0);
    setenv("ZAMIPC_FIFO_DIR", m_dir.PathOf("missing").c_str(), 1);
    EXPECT_TRUE(server->InitTarvexMuxMsgServer()); // its FIFO is open: nothing to do
    setenv("ZAMIPC_FIFO_DIR", m_dir.Path().c_str(), 1);
    EXPECT_TRUE(Intact(Next(*server, 2), 5));
}

TEST_F(Fault, ARemovedServerFifoIsRecreatedWithinSecondsAndLoggedOnce) {
    const auto server = Server();
    const auto client = Client();
    ASSERT_EQ(unlink(m_dir.PathOf("TarMuxMsgServerIpc").c_str()), 0); // a /tmp cleaner
    ClearLogs();
    int status = -1;
    for (const auto start = Clock::now(); status != 0 && SecondsSince(start) < 5;) {
        delete server->ReadFromClient();
        status = client->SendRequest(ReportOf(9).get());
    }
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(Intact(Next(*server, 2), 9));
    ASSERT_EQ(CapturedLogs().size(), 1u);
    EXPECT_EQ(CapturedLogs()[0].source, "LxIpcFifoSession");
}

TEST_F(Fault, ASecondServerProcessIsRefusedUntilTheFirstIsKilled) {
    int ready[2];
    ASSERT_EQ(pipe2(ready, O_CLOEXEC), 0);
    Child first([&ready] { // its own lock does not refuse it the node it reads already
        const char* fifo = "TarMuxMsgServerIpc";
        LxIpcFifoSession own(fifo, LxIpcFifoSession::IpcCloseConfirmReadWrite);
        const int twice = own.OpenReadFifo(fifo, 0600) + own.OpenReadFifo(fifo, 0600);
        return twice == 0 && write(ready[1], "r", 1) == 1 ? pause() : 1;
    });
    pollfd up = {ready[0], POLLIN, 0};
    EXPECT_EQ(poll(&up, 1, 10000), 1);
    ClearLogs();
    const std::unique_ptr<LxTarvexMuxMsgServer> second(LxTarvexMuxMsgServer::GetInstance());
    EXPECT_FALSE(second->InitTarvexMuxMsgServer());
    EXPECT_EQ(CapturedLogs().at(0).text,
              "InitTarvexMuxMsgServer: Failed to open IPC FIFO: TarMuxMsgServerIpc  sessionStatus: 22");
    EXPECT_EQ(first.Wait(0), 128 + SIGKILL);
    EXPECT_TRUE(second->InitTarvexMuxMsgServer());
    close(ready[0]);
    close(ready[1]);
}
