// Faults between real processes: a full FIFO whose reader is killed, a second server, SIGPIPE
// under a caller's signal mask; and in this process, signals during a wait and a FIFO node
// removed under the server. Children are forked without exec (so the tests also run under
// qemu-user), killed and reaped at scope end; every wait is bounded.
#include "ChildProcess.h"
#include "LogCapture.h"
#include "LxIpcFifoSession.h"
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgClient.h"
#include "LxTarvexMuxMsgServer.h"
#include "TempFifoDir.h"

#include <gtest/gtest.h>

namespace {

using Clock = std::chrono::steady_clock;
using Report = std::unique_ptr<LxTarvexDetectedMacMsg>;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A server process that never reads. It stops itself once its FIFO is open, so that the
// parent knows; the parent lets it go on, and it waits to be killed.
struct IdleServer : ChildProcess {
    IdleServer() : ChildProcess(Body) {
        EXPECT_EQ(waitpid(Pid(), nullptr, WUNTRACED), Pid());
        kill(Pid(), SIGCONT);
    }
    static int Body() {
        const std::unique_ptr<LxTarvexMuxMsgServer> server(LxTarvexMuxMsgServer::GetInstance());
        return server->InitTarvexMuxMsgServer() && raise(SIGSTOP) == 0 ? pause() : 1;
    }
};

// Whether SIGPIPE is pending after a write to a reader that left, made with every signal
// blocked (as in an application's critical section), the caller's own SIGPIPE raised first
// or not. In a child, which exits with 2 when the write does not report PeerGone.
int SigpipePendingAfterAWriteUnderAFullMask(bool callersOwnRaised) {
    ChildProcess app([callersOwnRaised] {
        sigset_t signals;
        sigfillset(&signals);
        sigprocmask(SIG_BLOCK, &signals, nullptr);
        if (callersOwnRaised) {
            raise(SIGPIPE);
        }
        LxIpcFifoSession session("own", LxIpcFifoSession::IpcCloseNoConfirm);
        session.OpenReadFifo("own", 0600);
        session.OpenWriteFifo("own");
        session.CloseReadFifo();
        const int status = session.WriteData(reinterpret_cast<const unsigned char*>("ab"), 2);
        sigpending(&signals);
        return status == IpcStatusPeerGone ? sigismember(&signals, SIGPIPE) : 2;
    });
    return app.Wait(10);
}

// This process's endpoints (their FIFOs opened by each test) and a request to send.
struct Fault : ::testing::Test {
    TempFifoDir m_dir;
    std::unique_ptr<LxTarvexMuxMsgServer> m_server{LxTarvexMuxMsgServer::GetInstance()};
    std::unique_ptr<LxTarvexMuxMsgClient> m_client{LxTarvexMuxMsgClient::GetInstance()};
    LxTarvexDetectedMacMsg m_report{9, nullptr};
};

} // namespace

// Sends fill the FIFO of a server that never reads; then one fails after waiting at most
// about a second for room, and one still waiting when the reader is killed gets PeerGone (its
// SIGPIPE does not kill this process).
TEST_F(Fault, AFullFifoFailsASendAfterItsWaitAndAKilledReaderGivesPeerGone) {
    IdleServer server;
    ASSERT_TRUE(m_client->InitTarvexMuxIpc());
    int status = IpcStatusOk;
    auto start = Clock::now();
    for (int i = 0; i < 5000 && status == IpcStatusOk; ++i) {
        start = Clock::now();
        status = m_client->SendRequest(&m_report);
    }
    EXPECT_EQ(status, IpcStatusFifoFull);
    const double waited = SecondsSince(start); // the last send gave up after its bounded wait
    EXPECT_GT(waited, 0.9);
    EXPECT_LT(waited, 3);
    ChildProcess killer(
        [pid = server.Pid()] { return usleep(200000) == 0 ? kill(pid, SIGKILL) : 1; });
    EXPECT_EQ(m_client->SendRequest(&m_report), IpcStatusPeerGone);
}

// The lock on the server's FIFO goes with the process that holds it, even when it is killed.
TEST_F(Fault, ASecondServerProcessIsRefusedUntilTheFirstIsKilled) {
    IdleServer first;
    ClearLogs();
    EXPECT_FALSE(m_server->InitTarvexMuxMsgServer());
    const std::string busy = "sessionStatus: " + std::to_string(IpcStatusBusy);
    EXPECT_NE(LogTexts().at(0).find(busy), std::string::npos); // logged with why
    EXPECT_EQ(first.Wait(0), 128 + SIGKILL);
    EXPECT_TRUE(m_server->InitTarvexMuxMsgServer());
}

TEST_F(Fault, AWriteUnderAFullSignalMaskTakesBackItsOwnSigpipeAndNoOther) {
    EXPECT_EQ(SigpipePendingAfterAWriteUnderAFullMask(false), 0);
    EXPECT_EQ(SigpipePendingAfterAWriteUnderAFullMask(true), 1);
}

// SIGALRM every 50 ms for 3 s at most, its handler set without SA_RESTART: each signal
// interrupts the wait, which neither ends nor starts over.
TEST_F(Fault, SignalsNeitherEndNorStretchTheReplyWait) {
    static volatile sig_atomic_t signals;
    signals = 0;
    struct sigaction count {};
    count.sa_handler = [](int) {
        signals = signals + 1;
        ualarm(signals < 60 ? 50000 : 0, 0);
    };
    ASSERT_EQ(sigaction(SIGALRM, &count, nullptr), 0);
    ASSERT_TRUE(m_client->InitTarvexMuxIpc());
    ualarm(50000, 0);
    const auto start = Clock::now();
    EXPECT_EQ(Report(m_client->ReadResponse()), nullptr);
    EXPECT_GE(SecondsSince(start), 1.9); // s_readTimeout: 2 s
    EXPECT_LE(SecondsSince(start), 2.5);
    EXPECT_GE(signals, 5); // the wait really was interrupted
    ualarm(0, 0);
}

// As by a /tmp cleaner: the idle server notices, logs it once and makes a new node, which the
// client reaches.
TEST_F(Fault, ARemovedServerFifoIsRecreatedWithinSecondsAndLoggedOnce) {
    ASSERT_TRUE(m_server->InitTarvexMuxMsgServer());
    ASSERT_TRUE(m_client->InitTarvexMuxIpc());
    ASSERT_EQ(unlink(m_dir.PathOf("TarMuxMsgServerIpc").c_str()), 0);
    ClearLogs();
    Report request;
    for (const auto start = Clock::now(); !request && SecondsSince(start) < 5;) {
        m_client->SendRequest(&m_report);
        request.reset(m_server->ReadFromClient());
    }
    EXPECT_TRUE(request != nullptr && request->GetNetworkNumber() == 9);
    EXPECT_EQ(LogTexts().size(), 1u);
}
