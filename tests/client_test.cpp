// Client endpoint over the scripted session: the three reads of a reply, their failures,
// the refused length fields, initialisation and SendRequest.
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgClient.h"
#include "ScriptedSession.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

const Bytes kFrame = FrameBytes(4242);
const ScriptedRead kStart{0, Word(0xBEAD)}, kLength{0, Word(142)};

class ClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetScript();
        ASSERT_TRUE(m_client->InitTarvexMuxIpc());
    }
    void TearDown() override { delete m_client; }
    // One ReadResponse over the scripted reads: did it give the message of kFrame?
    bool Read(const Reads& reads) {
        Script().reads.assign(reads.begin(), reads.end());
        Script().calls.clear(), ClearLogs();
        const std::unique_ptr<LxTarvexDetectedMacMsg> msg(m_client->ReadResponse());
        return msg && msg->GetNetworkNumber() == 4242;
    }
    LxTarvexMuxMsgClient* m_client = LxTarvexMuxMsgClient::GetInstance();
};

TEST_F(ClientTest, ReadsAnyReplyInThreeReadsWithCurrentTimeout) {
    for (int timeout : {7, 2}) { // a new value applies at the next call; 2 is the default
        LxTarvexMuxMsgClient::s_readTimeout = timeout; // and the start marker is not checked
        EXPECT_TRUE(Read({{0, Word(1)}, kLength, {0, Bytes(kFrame.begin() + 8, kFrame.end())}}));
        const std::string t = " " + std::to_string(timeout) + "s0ms";
        EXPECT_EQ(Trace(), "ReadData 4@0" + t + "; ReadData 4@4" + t + "; ReadData 146@8" + t);
        EXPECT_EQ(LogTexts(), Strings{});
    }
}

TEST_F(ClientTest, FailedReadsAndRefusedLengthsGiveNull) {
    const std::string read2 = "ReadData 4@0 2s0ms; ReadData 4@4 2s0ms";
    const std::string wait = "ReadResponse: Wait For Data status 2";
    const std::string refused = "ReadResponse: INVALID FRAME LENGTH: ";
    const std::tuple<Reads, std::string, Strings> rows[] = {
        {{{2}}, "ReadData 4@0 2s0ms", {}},
        {{{17}}, "ReadData 4@0 2s0ms", {"ReadResponse: INVALID READ STATUS: 17"}},
        {{kStart, {2}}, read2, {wait}},
        {{kStart, kLength, {2}}, read2 + "; ReadData 146@8 2s0ms", {wait}},
        {{kStart, {0, Word(181)}}, read2, {refused + "181"}},
        {{kStart, {0, Word(-4)}}, read2, {refused + "-4"}},
        {{kStart, {0, Word(100000)}}, read2, {refused + "100000"}},
    };
    for (const auto& [reads, trace, logs] : rows) {
        EXPECT_FALSE(Read(reads));
        EXPECT_EQ(Trace(), trace);
        EXPECT_EQ(LogTexts(), logs);
    }
}

TEST_F(ClientTest, ReadsThatStoreNothingTakeTheLengthFromAZeroedBuffer) {
    // A whole reply first, so that the stack holds its length field where the buffer lies.
    EXPECT_TRUE(Read({kStart, kLength, {0, Bytes(kFrame.begin() + 8, kFrame.end())}}));
    EXPECT_FALSE(Read({{0}, {0}, {0}})); // status 0, no byte stored: length 0
    EXPECT_EQ(Trace(), "ReadData 4@0 2s0ms; ReadData 4@4 2s0ms; ReadData 4@8 2s0ms");
}

TEST_F(ClientTest, InitIsDoneOnceAndRetriedAfterFailure) {
    Script().calls.clear();
    EXPECT_TRUE(m_client->InitTarvexMuxIpc());
    EXPECT_EQ(m_client->SendRequest(nullptr), 5);
    EXPECT_EQ(Trace(), ""); // no second session, no IPC call for a null message
    delete m_client;
    m_client = LxTarvexMuxMsgClient::GetInstance();
    EXPECT_FALSE(Read({kStart})); // before init: no read
    Script().openReadStatus = 13;
    EXPECT_FALSE(m_client->InitTarvexMuxIpc());
    Script().openReadStatus = 0;
    EXPECT_TRUE(m_client->InitTarvexMuxIpc());
    const std::string open = "new TarMuxMsgClientIpc 0; OpenReadFifo TarMuxMsgClientIpc 0777";
    EXPECT_EQ(Trace(), open + "; delete; " + open);
    EXPECT_EQ(LogTexts(), (Strings{"ReadResponse: IPC request failed.",
                                   "InitTarvexMuxIpc: Failed to open IPC FIFO: "
                                   "TarMuxMsgClientIpc  sessionStatus: 13"}));
}

} // namespace
