// Faults between real processes: peers killed or vanishing, rogue bytes, floods, full FIFOs,
// signals during waits, descriptor leaks. Children are forked without exec (so the tests also
// run under qemu-user) and killed and reaped at scope end; every wait is bounded.
#include "LogCapture.h"
#include "LxIpcFifoSession.h"
#include "LxIpcMsgBuffer.h"
#include "LxIpcSession.h"
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgClient.h"
#include "LxTarvexMuxMsgServer.h"
#include "TempFifoDir.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Msg = std::unique_ptr<LxTarvexDetectedMacMsg>;
using Bytes = std::vector<unsigned char>;
using Image = std::bitset<128>;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A forked child that exits with `body()`; SIGKILLed if need be and reaped at scope end.
struct Child {
    template <class Body> explicit Child(Body body) : pid(fork()) {
        if (pid == 0) {
            _exit(body());
        }
    }
    ~Child() { Wait(0); }
    // The exit code, or 128 + signal; SIGKILLed once `seconds` have passed.
    int Wait(double seconds) {
        int status = -1;
        for (const auto start = Clock::now(); pid > 0 && waitpid(pid, &status, WNOHANG) == 0;
             usleep(1000)) {
            if (SecondsSince(start) >= seconds) {
                kill(pid, SIGKILL);
            }
        }
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    pid_t pid;
};

// The image follows from the network number, so that a damaged frame shows.
Image ImageOf(int network) {
    const auto n = static_cast<unsigned long long>(network);
    return (Image(n * 0x9E3779B97F4A7C15ull) << 40 | Image(n)).set(127);
}
Msg Report(int network) {
    return std::make_unique<LxTarvexDetectedMacMsg>(network, new Image(ImageOf(network)));
}
bool Intact(const Msg& m, int network) {
    return m && m->GetNetworkNumber() == network && m->GetActiveMacImage() &&
           *m->GetActiveMacImage() == ImageOf(network);
}
bool Failure(int status) { // 5: no session or no message, a fault of the test
    return status != 0 && status != 5;
}

// The endpoint singletons, their FIFOs opened, deleted at scope end. A failed open shows in
// the exchanges that follow.
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
int SendWhenUp(LxTarvexMuxMsgClient& client, const Msg& message) {
    int status = -1;
    for (const auto start = Clock::now();
         (status = client.SendRequest(message.get())) != 0 && SecondsSince(start) < 10;) {
        usleep(2000);
    }
    return status;
}
// SendRequest's status, checking that it came within `seconds`.
int SendWithin(LxTarvexMuxMsgClient& client, double seconds) {
    const auto start = Clock::now();
    const int status = client.SendRequest(Report(7).get());
    EXPECT_LT(SecondsSince(start), seconds);
    return status;
}
bool Exchange(LxTarvexMuxMsgClient& client, int network) {
    return SendWhenUp(client, Report(network)) == 0 && Intact(Msg(client.ReadResponse()), network);
}
// The next request within `seconds`, or null.
Msg Next(LxTarvexMuxMsgServer& server, double seconds = 10) {
    for (const auto start = Clock::now(); SecondsSince(start) < seconds;) {
        if (Msg m{server.ReadFromClient()}) {
            return m;
        }
    }
    return nullptr;
}
// Answers the next request `times` times or until an answer fails; the last status.
int Answer(LxTarvexMuxMsgServer& server, int times, double seconds = 10) {
    const Msg request = Next(server, seconds);
    int status = request ? 0 : -1;
    for (int i = 0; i < times && status == 0; ++i) {
        status = server.SendToClient(request.get());
    }
    return status;
}
// Body of a server process: reads requests until none comes for 60 s, answers when `answer`.
int Serve(bool answer) {
    for (const auto server = Server(); Answer(*server, answer ? 1 : 0, 60) == 0;) {
    }
    return 0;
}

struct Fault : ::testing::Test {
    TempFifoDir m_dir;
};

} // namespace

TEST_F(Fault, ClientKilledWhileServerAnswersServerGoesOn) {
    const auto server = Server();
    // The client takes one of 2000 answers, then dies while the server writes the rest.
    Child doomed([] { return Exchange(*Client(), 1) ? kill(getpid(), SIGKILL) : 1; });
    EXPECT_PRED1(Failure, Answer(*server, 2000));
    EXPECT_EQ(doomed.Wait(10), 128 + SIGKILL);
    Child next([] { return Exchange(*Client(), 2) ? 0 : 1; });
    EXPECT_EQ(Answer(*server, 1), 0);
    EXPECT_EQ(next.Wait(10), 0);
}

TEST_F(Fault, ServerKilledMidStreamRestartedAndNoDescriptorLeaks) {
    const auto descriptors = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
    };
    const auto client = Client();
    const auto before = descriptors();
    for (int i = 0; i < 10000; ++i) {
        ASSERT_PRED1(Failure, SendWithin(*client, 1)) << i; // no server
    }
    EXPECT_EQ(descriptors(), before);
    Child first([] { return Serve(false); });
    for (int i = 0; i < 10000; ++i) {
        ASSERT_EQ(SendWhenUp(*client, Report(i)), 0) << i;
    }
    EXPECT_EQ(descriptors(), before);
    first.Wait(0); // SIGKILL while it works through the stream
    EXPECT_PRED1(Failure, SendWithin(*client, 1));
    Child restarted([] { return Serve(true); });
    EXPECT_TRUE(Exchange(*client, 4242));

    // With our FIFO open, a child started with fork and exec lists what it inherited: it fails
    // when it cannot list or a descriptor leads into the FIFO directory.
    Child lister([] {
        const char* script =
            "l=$(ls -l /proc/$$/fd) && case $l in *\"$ZAMIPC_FIFO_DIR/\"*) exit 1; esac";
        return execl("/bin/sh", "sh", "-c", script, static_cast<char*>(nullptr));
    });
    EXPECT_EQ(lister.Wait(10), 0);
}

TEST_F(Fault, RogueNoiseAndPartialFramesLoseNoAlignedGoodFrame) {
    const auto server = Server();
    Child rogue([this] { // one write(2) per piece, blocking while the FIFO is full
        const int fifo = open((m_dir.Path() + "/TarMuxMsgServerIpc").c_str(), O_WRONLY);
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
            // A cut frame's 10 payload bytes are followed by noise: the reader takes 30 more,
            // finds no end marker and goes on in 4-byte steps, 4 bytes before the next frame.
            put(cut ? Bytes{0, 0} : Bytes(), (cut ? 9 : 0) + network % 4);
            const std::unique_ptr<LxIpcMsgBuffer> frame(Report(network)->Serialize());
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

TEST_F(Fault, FullFifoSendFailsInBoundThenReaderVanishesMidWrite) {
    Child server([] { return Server() ? pause() : 1; }); // never reads
    const auto client = Client();
    int status = SendWhenUp(*client, Report(7));
    for (int i = 0; i < 2000 && status == 0; ++i) {
        status = SendWithin(*client, 3);
    }
    EXPECT_EQ(status, IpcStatusFifoFull);
    Child killer([pid = server.pid] { return usleep(200000) + kill(pid, SIGKILL); });
    EXPECT_EQ(SendWithin(*client, 1), IpcStatusPeerGone); // waits for room till the reader goes
    EXPECT_EQ(killer.Wait(5), 0);
}

TEST_F(Fault, EightFloodingClientsEveryFrameOnceIntactInOrder) {
    const char* scale = std::getenv("ZAM_TEST_SCALE"); // e.g. 0.05 under valgrind
    const int clients = 8, perClient = std::max(1, int(5000 * (scale ? std::atof(scale) : 1)));
    const auto server = Server();
    std::deque<Child> senders;
    for (int id = 0; id < clients; ++id) {
        senders.emplace_back([id, perClient] {
            const auto client = Client();
            int status = 0;
            for (int seq = 0; seq < perClient && status == 0; ++seq) {
                status = SendWhenUp(*client, Report(id << 13 | seq)); // client id, sequence number
            }
            return status;
        });
    }
    std::vector<int> next(clients, 0);
    for (int i = 0; i < clients * perClient; ++i) {
        const Msg m = Next(*server);
        const int id = m ? m->GetNetworkNumber() >> 13 & 7 : 0;
        ASSERT_TRUE(Intact(m, id << 13 | next[id]++)) << i;
    }
    for (auto& sender : senders) {
        EXPECT_EQ(sender.Wait(10), 0);
    }
}

TEST_F(Fault, IdleServerLoopUsesUnderOnePercentOfACpu) {
    const auto server = Server();
    Child client([] { return sleep(1) + SendWhenUp(*Client(), Report(3)); }); // and goes
    const auto cpuSeconds = [] {
        rusage use{};
        getrusage(RUSAGE_SELF, &use);
        return static_cast<double>(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
               static_cast<double>(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
    };
    const double before = cpuSeconds();
    EXPECT_TRUE(Intact(Next(*server, 5), 3)); // idle for 1 s before any client
    EXPECT_EQ(Next(*server, 4), nullptr);     // and 4 s after it wrote and closed
    EXPECT_LT(cpuSeconds() - before, 0.05);   // 1% of 5 s
    EXPECT_EQ(client.Wait(5), 0);
}

TEST_F(Fault, SignalsNeitherEndNorStretchTheReplyWait) {
    static volatile sig_atomic_t signals = 0;
    struct sigaction count {};
    count.sa_handler = [](int) { // no SA_RESTART: EINTR; every 50 ms, for 3 s at most
        signals = signals + 1;
        ualarm(signals < 60 ? 50000 : 0, 0);
    };
    ASSERT_EQ(sigaction(SIGALRM, &count, nullptr), 0);
    const auto client = Client();
    signals = 0;
    ualarm(50000, 0);
    LxTarvexMuxMsgClient::s_readTimeout = 1;
    const auto start = Clock::now();
    EXPECT_EQ(Msg(client->ReadResponse()), nullptr);
    const double took = SecondsSince(start);
    LxTarvexMuxMsgClient::s_readTimeout = 2;
    ualarm(0, 0);
    EXPECT_TRUE(took >= 0.9 && took <= 1.5) << took;
    EXPECT_GE(signals, 5); // the wait really was interrupted
}

TEST_F(Fault, SendToVanishedReaderLeavesNoSigpipePendingUnderFullMask) {
    Child app([] { // with every signal blocked, as around an application's critical section
        sigset_t all, old, pending;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &old);
        int kept = 0;
        for (const bool theirs : {false, true}) { // a SIGPIPE pending before stays pending
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

TEST_F(Fault, FailedSecondInitKeepsTheSessionAndTheFrameWaitingInIt) {
    const auto server = Server();
    ASSERT_EQ(SendWhenUp(*Client(), Report(5)), 0);
    setenv("ZAMIPC_FIFO_DIR", m_dir.PathOf("missing").c_str(), 1);
    EXPECT_TRUE(server->InitTarvexMuxMsgServer()); // its FIFO is open: nothing to do
    setenv("ZAMIPC_FIFO_DIR", m_dir.Path().c_str(), 1);
    EXPECT_TRUE(Intact(Next(*server, 2), 5));
}

TEST_F(Fault, RemovedServerFifoIsRecreatedWithinSecondsAndLoggedOnce) {
    const auto server = Server();
    const auto client = Client();
    ASSERT_EQ(std::remove(m_dir.PathOf("TarMuxMsgServerIpc").c_str()), 0); // a /tmp cleaner
    ClearLogs();
    int status = -1;
    for (const auto start = Clock::now(); status != 0 && SecondsSince(start) < 5;) {
        delete server->ReadFromClient();
        status = client->SendRequest(Report(9).get());
    }
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(Intact(Next(*server, 2), 9));
    ASSERT_EQ(CapturedLogs().size(), 1u);
    EXPECT_EQ(CapturedLogs()[0].source, "LxIpcFifoSession");
}

TEST_F(Fault, SecondServerProcessIsRefusedUntilTheFirstIsKilled) {
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
    ASSERT_EQ(CapturedLogs().size(), 1u);
    EXPECT_EQ(CapturedLogs()[0].text, "InitTarvexMuxMsgServer: Failed to open IPC FIFO: "
                                      "TarMuxMsgServerIpc  sessionStatus: 22");
    EXPECT_EQ(first.Wait(0), 128 + SIGKILL);
    EXPECT_TRUE(second->InitTarvexMuxMsgServer());
    close(ready[0]);
    close(ready[1]);
}
