// Client endpoint over the scripted session: the three reads of a reply, what they refuse and
// log, the bytes DeSerialize is given, initialisation and SendRequest.
#include "LogCapture.h"
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgClient.h"
#include "ScriptedSession.h"

#include <gtest/gtest.h>
#include <memory>

namespace {

using Reads = std::vector<ScriptedRead>;
using ReadsMade = std::vector<std::pair<int, long>>; // bytes wanted, where they go

const Bytes kFrame = FrameBytes(4242);
const ScriptedRead kStart{0, Word(0xBEAD)};
const ScriptedRead kLength{0, Word(142)};
const ScriptedRead kRest{0, Bytes(kFrame.begin() + 8, kFrame.end())};

class ClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetScript();
        ASSERT_TRUE(m_client->InitTarvexMuxIpc());
    }
    void TearDown() override { delete m_client; }
    // One ReadResponse over the scripted reads, with calls and logs recorded afresh.
    std::unique_ptr<LxTarvexDetectedMacMsg> Read(const Reads& reads) {
        Script().reads.assign(reads.begin(), reads.end());
        ClearCalls();
        ClearLogs();
        return std::unique_ptr<LxTarvexDetectedMacMsg>(m_client->ReadResponse());
    }
    static ReadsMade Made() {
        ReadsMade made;
        for (const SessionCall& call : Script().calls) {
            made.emplace_back(call.number, call.at);
        }
        return made;
    }
    LxTarvexMuxMsgClient* m_client = LxTarvexMuxMsgClient::GetInstance();
};

TEST_F(ClientTest, ReadsAnyFrameInThreeReadsEachWaitingTheCurrentTimeout) {
    for (const int timeout : {7, 2}) { // a new value applies from the next call on
        LxTarvexMuxMsgClient::s_readTimeout = timeout;
        const auto reply = Read({{0, Word(1)}, kLength, kRest}); // the start marker is not checked
        EXPECT_TRUE(reply != nullptr && reply->GetNetworkNumber() == 4242);
        EXPECT_EQ(Made(), (ReadsMade{{4, 0}, {4, 4}, {146, 8}}));
        for (const SessionCall& read : Script().calls) {
            EXPECT_EQ(read.seconds, timeout);
            EXPECT_EQ(read.milliseconds, 0);
        }
        EXPECT_EQ(LogTexts(), Strings{});
    }
}

TEST_F(ClientTest, FailedReadsAndRefusedLengthsGiveNullWithTheirLogLine) {
    const std::string wait = "ReadResponse: Wait For Data status 2";
    const std::string refused = "ReadResponse: INVALID FRAME LENGTH: ";
    const struct Case {
        const char* what;
        Reads reads;
        size_t readsMade;
        Strings logs;
    } cases[] = {
        {"nothing in time", {{2}}, 1, {}},
        {"the first read fails", {{17}}, 1, {"ReadResponse: INVALID READ STATUS: 17"}},
        {"no length in time", {kStart, {2}}, 2, {wait}},
        {"no payload in time", {kStart, kLength, {2}}, 3, {wait}},
        {"a length above 180", {kStart, {0, Word(181)}}, 2, {refused + "181"}},
        {"a length of -4", {kStart, {0, Word(-4)}}, 2, {refused + "-4"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Read(c.reads), nullptr) << c.what;
        EXPECT_EQ(Script().calls.size(), c.readsMade) << c.what;
        EXPECT_EQ(LogTexts(), c.logs) << c.what;
    }
}

// DeSerialize gets only bytes the reads stored: reads that store nothing leave the buffer
// zeroed (a length of 0, so the third read asks for the end marker alone), and a count above
// what was asked for counts the bytes asked for (the text ending with them is cut short, not
// read on into the buffer).
TEST_F(ClientTest, OnlyBytesStoredAndAskedForAreTakenAsTheFrame) {
    EXPECT_NE(Read({kStart, kLength, kRest}), nullptr); // leaves a length on the stack
    EXPECT_EQ(Read({{0}, {0}, {0}}), nullptr);
    EXPECT_EQ(Made(), (ReadsMade{{4, 0}, {4, 4}, {4, 8}}));
    Bytes rest = {1};
    for (const Bytes& part : {Word(2), Word(7), Word(5), Bytes{'1', '0', '1', '0', '1'}}) {
        rest.insert(rest.end(), part.begin(), part.end());
    }
    EXPECT_EQ(Read({kStart, {0, Word(14)}, {0, rest, 100}}), nullptr);
    EXPECT_EQ(Made().back(), (std::pair<int, long>{18, 8}));
}

TEST_F(ClientTest, InitIsDoneOnceAndTriedAgainAfterAFailure) {
    ClearCalls();
    EXPECT_TRUE(m_client->InitTarvexMuxIpc());
    EXPECT_EQ(m_client->SendRequest(nullptr), 5);
    EXPECT_EQ(Ops(), Strings{}); // no second session, no IPC call for a null message
    delete m_client;
    m_client = LxTarvexMuxMsgClient::GetInstance();
    EXPECT_EQ(Read({kStart}), nullptr); // before initialisation: logged, nothing read
    Script().openReadStatus = 13;
    EXPECT_FALSE(m_client->InitTarvexMuxIpc());
    Script().openReadStatus = 0;
    EXPECT_TRUE(m_client->InitTarvexMuxIpc());
    EXPECT_EQ(Ops(), (Strings{"new", "OpenReadFifo", "delete", "new", "OpenReadFifo"}));
    EXPECT_EQ(Script().calls[0].number, 0); // the client's close-confirm value
    EXPECT_EQ(LogTexts(), (Strings{"ReadResponse: IPC request failed.",
                                   "InitTarvexMuxIpc: Failed to open IPC FIFO: TarMuxMsgClientIpc  sessionStatus: 13"}));
}

} // namespace
