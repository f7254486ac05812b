// Server endpoint over the scripted session: the frame reader's steps, its reads and logs,
// its session handling and SendToClient.
#include "LxIpcFifoSession.h"
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgServer.h"
#include "ScriptedSession.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

namespace {

using Msg = std::unique_ptr<LxTarvexDetectedMacMsg>;

const std::string kImage = std::bitset<128>().set(0).set(77).set(127).to_string();
const Bytes kFrame = FrameBytes(300, kImage); // 8 header, 142 payload, 4 end marker
const ScriptedRead kStart{0, Word(0xBEAD)}, kLength{0, Word(142)},
    kBody{0, Bytes(kFrame.begin() + 8, kFrame.end() - 4)};
const std::string kOpenFailed = ": Failed to open IPC FIFO: TarMuxMsgServerIpc  sessionStatus: 13";

class ServerTest : public ::testing::Test {
protected:
    // A new initialised server, a new script, no calls or logs recorded.
    void SetUp() override {
        delete m_server;
        ResetScript(), ClearLogs();
        m_server = LxTarvexMuxMsgServer::GetInstance();
        ASSERT_TRUE(m_server->InitTarvexMuxMsgServer());
        Script().calls.clear();
    }
    void TearDown() override { delete m_server; }
    // One ReadFromClient per scripted read; only the last may return a message.
    Msg Feed(const Reads& reads) {
        Msg last;
        for (const ScriptedRead& read : reads) {
            EXPECT_EQ(last, nullptr);
            Script().reads.push_back(read);
            last.reset(m_server->ReadFromClient());
        }
        return last;
    }
    // The read the reader makes next, seen through one that finds nothing (status 2).
    std::string Next() { return Feed({{2}}) ? "a message" : Script().calls.back().text; }
    LxTarvexMuxMsgServer* m_server = nullptr;
};

TEST_F(ServerTest, ReaderStepsAndTimeoutsChangeNothing) {
    const std::string bad = "ReadFromClient: INVALID READ STATUS: ";
    const std::tuple<Reads, std::string, Strings> rows[] = {
        {{{0, Word(0x12345678)}}, "4@0", {}},
        {{kStart}, "4@4", {}},
        {{kStart, {0, Word(1)}}, "1@8", {}},
        {{kStart, {0, Word(180)}}, "180@8", {}},
        {{kStart, {0, Word(0)}}, "4@0", {}},
        {{kStart, {0, Word(-1)}}, "4@0", {}},
        {{kStart, {0, Word(181)}}, "4@0", {}},
        {{kStart, kLength, {0, Bytes(50)}}, "92@58", {}},
        {{kStart, kLength, kBody}, "4@150", {}},
        {{kStart, kLength, kBody, {0, Word(0)}}, "4@0", {}},
        {{kStart, kLength, kBody, kStart}, "4@4", {}},
        {{kStart, kLength, {0, Bytes(9), 143}}, "4@0", {bad + "0"}},
        {{kStart, kLength, {0, Bytes(5)}, {13}}, "4@0", {bad + "13"}},
    };
    for (const auto& [reads, next, logs] : rows) {
        SetUp();
        EXPECT_EQ(Feed(reads), nullptr);
        const std::string read = "ReadData " + next + " 0s20ms";
        EXPECT_EQ(Next() + Next(), read + read); // the first status 2 changed nothing
        EXPECT_EQ(LogTexts(), logs);
    }
}

TEST_F(ServerTest, EndMarkerGivesMessageOrBadImageTextRaisesWithReaderReset) {
    const Msg msg = Feed({kStart, kLength, kBody, {0, Word(0xBADE)}});
    ASSERT_NE(msg, nullptr);
    EXPECT_EQ(msg->GetNetworkNumber(), 300);
    EXPECT_EQ(msg->GetActiveMacImage()->to_string(), kImage);
    const Bytes bad = FrameBytes(300, std::string(128, 'x'));
    const ScriptedRead badBody{0, Bytes(bad.begin() + 8, bad.end() - 4)};
    EXPECT_THROW(Feed({kStart, kLength, badBody, {0, Word(0xBADE)}}), std::invalid_argument);
    EXPECT_EQ(Next(), "ReadData 4@0 0s20ms");
}

TEST_F(ServerTest, ReopensReadFifoWhenNotOpenAndReadsAnyway) {
    EXPECT_EQ(Feed({kStart}), nullptr);
    Script().session->CloseReadFifo(); // as after a peer's failure
    Script().openReadStatus = 13;
    EXPECT_EQ(Feed({kLength}), nullptr);
    EXPECT_EQ(Trace(), "ReadData 4@0 0s20ms; CloseReadFifo; OpenReadFifo TarMuxMsgServerIpc 0777; "
                       "ReadData 4@4 0s20ms");
    EXPECT_EQ(LogTexts(), Strings{"ReadFromClient" + kOpenFailed});
}

TEST_F(ServerTest, SendToClientClosesAfterAnyWrite) {
    LxTarvexDetectedMacMsg msg(300, new std::bitset<128>(kImage));
    EXPECT_EQ(m_server->SendToClient(nullptr), 5);
    Script().writeStatus = 18;
    EXPECT_EQ(m_server->SendToClient(&msg), 18);
    Script().openWriteStatus = 14;
    EXPECT_EQ(m_server->SendToClient(&msg), 14);
    EXPECT_EQ(Trace(), "OpenWriteFifo TarMuxMsgClientIpc; WriteData 154; CloseWriteFifo; "
                       "OpenWriteFifo TarMuxMsgClientIpc");
    EXPECT_EQ(CallsOf("WriteData")[0].data, kFrame);
    EXPECT_EQ(LogTexts(), Strings{"SendToClient: INVALID WRITE STATUS: 18"});
}

TEST_F(ServerTest, InitKeepsItsSessionAndCleansUpAfterFailure) {
    Script().session->CloseReadFifo(); // not open: Init reopens it through the same session
    EXPECT_TRUE(m_server->InitTarvexMuxMsgServer());
    delete m_server;
    m_server = LxTarvexMuxMsgServer::GetInstance();
    EXPECT_EQ(m_server->ReadFromClient(), nullptr);
    Script().openReadStatus = 13;
    EXPECT_FALSE(m_server->InitTarvexMuxMsgServer());
    EXPECT_EQ(m_server->ReadFromClient(), nullptr);
    // The first session kept until the server goes, a failed new one deleted at once.
    const std::string open = "new TarMuxMsgServerIpc 2; OpenReadFifo TarMuxMsgServerIpc 0777";
    EXPECT_EQ(Trace(), "CloseReadFifo; OpenReadFifo TarMuxMsgServerIpc 0777; CloseReadFifo; "
                       "delete; " + open + "; delete");
    const std::string notInitialized = "ReadFromClient: IPC not initialized.";
    EXPECT_EQ(LogTexts(),
              (Strings{notInitialized, "InitTarvexMuxMsgServer" + kOpenFailed, notInitialized}));
}

} // namespace
