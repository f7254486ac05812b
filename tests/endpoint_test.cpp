// Both endpoints over the scripted session: initialisation and sending. What their readers
// make of the reads they get is checked against models by the fuzz targets
// fuzz_server_reader and fuzz_client_response.
#include "LogCapture.h"
#include "LxIpcFifoSession.h"
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgClient.h"
#include "LxTarvexMuxMsgServer.h"
#include "ScriptedSession.h"

#include <gtest/gtest.h>
#include <memory>

namespace {

const std::string kOpenFailed = ": Failed to open IPC FIFO: ";

class Endpoints : public ::testing::Test {
protected:
    void SetUp() override {
        ResetScript();
        ClearLogs();
    }
    std::unique_ptr<LxTarvexMuxMsgServer> m_server{LxTarvexMuxMsgServer::GetInstance()};
    std::unique_ptr<LxTarvexMuxMsgClient> m_client{LxTarvexMuxMsgClient::GetInstance()};
};

} // namespace

TEST_F(Endpoints, ServerInitKeepsAWorkingSessionAndDropsOnlyAFailedNewOne) {
    EXPECT_EQ(m_server->ReadFromClient(), nullptr); // no session yet: logged, nothing read
    Script().openReadStatus = 13;
    EXPECT_FALSE(m_server->InitTarvexMuxMsgServer());
    Script().openReadStatus = 0;
    ASSERT_TRUE(m_server->InitTarvexMuxMsgServer());
    Script().session->CloseReadFifo();               // as after a failure or a removed node
    EXPECT_TRUE(m_server->InitTarvexMuxMsgServer()); // reopened through the same session
    EXPECT_TRUE(m_server->InitTarvexMuxMsgServer()); // open: nothing to do
    EXPECT_EQ(Ops(), (Strings{"new", "OpenReadFifo", "delete", "new", "OpenReadFifo",
                              "CloseReadFifo", "OpenReadFifo"}));
    EXPECT_EQ(Script().calls[0].number, 2); // the server's close-confirm value
    EXPECT_EQ(LogTexts(), (Strings{"ReadFromClient: IPC not initialized.",
                                   "InitTarvexMuxMsgServer" + kOpenFailed +
                                       "TarMuxMsgServerIpc  sessionStatus: 13"}));
}

TEST_F(Endpoints, ClientInitIsDoneOnceAndTriedAgainAfterAFailure) {
    EXPECT_EQ(m_client->ReadResponse(), nullptr); // before initialisation: logged, nothing read
    Script().openReadStatus = 13;
    EXPECT_FALSE(m_client->InitTarvexMuxIpc());
    Script().openReadStatus = 0;
    EXPECT_TRUE(m_client->InitTarvexMuxIpc());
    EXPECT_TRUE(m_client->InitTarvexMuxIpc());
    EXPECT_EQ(Ops(), (Strings{"new", "OpenReadFifo", "delete", "new", "OpenReadFifo"}));
    EXPECT_EQ(Script().calls[0].number, 0); // the client's close-confirm value
    EXPECT_EQ(LogTexts(), (Strings{"ReadResponse: IPC request failed.",
                                   "InitTarvexMuxIpc" + kOpenFailed +
                                       "TarMuxMsgClientIpc  sessionStatus: 13"}));
}

// Nothing is done for a null message; a frame goes to the peer's FIFO in one write, which
// is closed again after every write; a failed write is logged.
TEST_F(Endpoints, SendWritesOneFrameToThePeerAndClosesAfterEveryWrite) {
    ASSERT_TRUE(m_server->InitTarvexMuxMsgServer());
    LxTarvexDetectedMacMsg message(300, nullptr);
    ClearCalls();
    EXPECT_EQ(m_server->SendToClient(nullptr), 5);
    Script().writeStatus = 18;
    EXPECT_EQ(m_server->SendToClient(&message), 18);
    Script().openWriteStatus = 14;
    EXPECT_EQ(m_server->SendToClient(&message), 14);
    EXPECT_EQ(Ops(), (Strings{"OpenWriteFifo", "WriteData", "CloseWriteFifo", "OpenWriteFifo"}));
    EXPECT_EQ(Script().calls[0].fifo, "TarMuxMsgClientIpc");
    EXPECT_EQ(Script().calls[1].number, 26); // the whole frame
    EXPECT_EQ(LogTexts(), Strings{"SendToClient: INVALID WRITE STATUS: 18"});
}
