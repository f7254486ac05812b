// Client endpoint over the scripted session: the three reads of a reply, their failures,
// the refused length fields, initialisation and SendRequest.
#include "LogCapture.h"
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgClient.h"
#include "ScriptedSession.h"

#include <gtest/gtest.h>

#include <bitset>
#include <memory>

namespace {

const std::string kImage = std::bitset<128>().set(3).set(64).to_string();
const Bytes kFrame = FrameBytes(4242, kImage);
const ScriptedRead kStart = Ok(Slice(kFrame, 0, 4)), kLength = Ok(Slice(kFrame, 4, 4));
const auto Logs = [] { return LogTexts("LxTarvexMuxMsgClient"); };

class ClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetScript();
        ASSERT_TRUE(m_client->InitTarvexMuxIpc());
        Script().calls.clear(), ClearLogs();
    }
    void TearDown() override {
        delete m_client;
        EXPECT_EQ(Script().live, 0);
        LxTarvexMuxMsgClient::s_readTimeout = 2;
    }
    // One ReadResponse over the scripted reads: did it give the message of kFrame?
    bool Read(const Reads& reads) {
        Script().reads.assign(reads.begin(), reads.end());
        Script().calls.clear(), ClearLogs();
        const std::unique_ptr<LxTarvexDetectedMacMsg> msg(m_client->ReadResponse());
        return msg && msg->GetNetworkNumber() == 4242 &&
               msg->GetActiveMacImage()->to_string() == kImage;
    }
    LxTarvexMuxMsgClient* m_client = LxTarvexMuxMsgClient::GetInstance();
};

TEST_F(ClientTest, ReadsReplyInThreeReadsWithCurrentTimeout) {
    EXPECT_TRUE(Read({kStart, kLength, Ok(Slice(kFrame, 8, 146))}));
    EXPECT_EQ(Trace(), "ReadData 4@0 2s0ms; ReadData 4@4 2s0ms; ReadData 146@8 2s0ms");
    LxTarvexMuxMsgClient::s_readTimeout = 7; // and the start marker is not checked
    EXPECT_TRUE(Read({Ok(Word(1)), kLength, Ok(Slice(kFrame, 8, 146))}));
    EXPECT_EQ(Trace(), "ReadData 4@0 7s0ms; ReadData 4@4 7s0ms; ReadData 146@8 7s0ms");
    EXPECT_EQ(Logs(), Strings{});
}

TEST_F(ClientTest, FailedReadsAndRefusedLengthsGiveNull) {
    const std::string read4 = "ReadData 4@0 2s0ms; ReadData 4@4 2s0ms";
    const std::string wait = "ReadResponse: Wait For Data status ";
    const std::string refused = "ReadResponse: INVALID FRAME LENGTH: ";
    const std::tuple<Reads, std::string, Strings> rows[] = {
        {{{2}}, "ReadData 4@0 2s0ms", {}},
        {{{17}}, "ReadData 4@0 2s0ms", {"ReadResponse: INVALID READ STATUS: 17"}},
        {{kStart, {2}}, read4, {wait + "2"}},
        {{kStart, kLength, {13}}, read4 + "; ReadData 146@8 2s0ms", {wait + "13"}},
        {{kStart, Ok(Word(180)), {2}}, read4 + "; ReadData 184@8 2s0ms", {wait + "2"}},
        {{kStart, Ok(Word(181))}, read4, {refused + "181"}},
        {{kStart, Ok(Word(-4))}, read4, {refused + "-4"}},
        {{kStart, Ok(Word(100000))}, read4, {refused + "100000"}},
        {{kStart, Ok(Word(-3)), Ok({0xBA})}, read4 + "; ReadData 1@8 2s0ms", {}}, // too short
    };
    for (const auto& [reads, trace, logs] : rows) {
        EXPECT_FALSE(Read(reads));
        EXPECT_EQ(Trace(), trace);
        EXPECT_EQ(Logs(), logs);
    }
}

TEST_F(ClientTest, InitIsDoneOnceAndRetriedAfterFailure) {
    EXPECT_TRUE(m_client->InitTarvexMuxIpc());
    EXPECT_EQ(Trace(), ""); // no second session
    delete m_client;
    m_client = LxTarvexMuxMsgClient::GetInstance();
    EXPECT_FALSE(Read({kStart}));
    Script().openReadStatus = 13;
    EXPECT_FALSE(m_client->InitTarvexMuxIpc());
    EXPECT_EQ(m_client->ReadResponse(), nullptr);
    Script().openReadStatus = 0;
    EXPECT_TRUE(m_client->InitTarvexMuxIpc());
    EXPECT_EQ(Script().live, 1);
    const std::string open = "new TarMuxMsgClientIpc 0; OpenReadFifo TarMuxMsgClientIpc 0777";
    EXPECT_EQ(Trace(), open + "; delete; " + open);
    const std::string notReady = "ReadResponse: IPC request failed.";
    EXPECT_EQ(Logs(), (Strings{notReady,
                               "InitTarvexMuxIpc: Failed to open IPC FIFO: "
                               "TarMuxMsgClientIpc  sessionStatus: 13",
                               notReady}));
}

TEST_F(ClientTest, SendRequestWritesOneFrameAndAlwaysCloses) {
    LxTarvexDetectedMacMsg msg(4242, new std::bitset<128>(kImage));
    EXPECT_EQ(m_client->SendRequest(nullptr), 5);
    Script().writeStatus = 18;
    EXPECT_EQ(m_client->SendRequest(&msg), 18);
    EXPECT_EQ(Trace(), "OpenWriteFifo TarMuxMsgServerIpc; WriteData 154; CloseWriteFifo");
    EXPECT_EQ(CallsOf("WriteData")[0].data, kFrame);
    EXPECT_EQ(Logs(), Strings{"SendRequest: INVALID WRITE STATUS: 18"});
}

} // namespace
