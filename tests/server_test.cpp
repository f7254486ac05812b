// Server endpoint over the scripted session: the frame reader's steps, its reads and logs,
// its session handling and SendToClient.
#include "LogCapture.h"
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgServer.h"
#include "ScriptedSession.h"

#include <gtest/gtest.h>

#include <bitset>
#include <memory>
#include <stdexcept>

namespace {

using Msg = std::unique_ptr<LxTarvexDetectedMacMsg>;

const std::string kImage = std::bitset<128>().set(0).set(77).set(127).to_string();
const Bytes kFrame = FrameBytes(300, kImage);
constexpr int kPayload = 142; // 9 + 133; the frame is 154 bytes
const ScriptedRead kStart = Ok(Word(0xBEAD)), kLength = Ok(Word(kPayload)),
                   kBody = Ok(Slice(kFrame, 8, kPayload)), kEnd = Ok(Word(0xBADE));
const std::string kBadRead = "ReadFromClient: INVALID READ STATUS: ";
const std::string kOpenFailed = ": Failed to open IPC FIFO: TarMuxMsgServerIpc  sessionStatus: 13";

const auto Logs = [] { return LogTexts("LxTarvexMuxMsgServer"); };

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override { ResetScript(), Fresh(); }
    void TearDown() override {
        delete m_server;
        EXPECT_EQ(Script().live, 0);
    }
    // A new initialised server, with no calls or logs recorded.
    void Fresh() {
        delete m_server;
        m_server = LxTarvexMuxMsgServer::GetInstance();
        ASSERT_TRUE(m_server->InitTarvexMuxMsgServer());
        Script().calls.clear(), ClearLogs();
    }
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
    // Count and buffer offset of the next read, found by a call that times out (and that
    // waits 0 s 20 ms); offsets count from the first read of a fresh server, at the buffer.
    std::pair<int, long> Next() {
        EXPECT_EQ(Feed({{2}}), nullptr);
        const SessionCall read = CallsOf("ReadData").back();
        EXPECT_EQ(std::make_pair(read.seconds, read.milliseconds), std::make_pair(0, 20));
        return {read.arg, read.where - CallsOf("ReadData")[0].where};
    }
    LxTarvexMuxMsgServer* m_server = nullptr;
};

TEST_F(ServerTest, ReaderStepsAndTimeoutsChangeNothing) {
    const std::tuple<Reads, std::pair<int, long>, Strings> rows[] = {
        {{Ok(Word(0x12345678))}, {4, 0}, {}},
        {{kStart}, {4, 4}, {}},
        {{kStart, kLength}, {kPayload, 8}, {}},
        {{kStart, Ok(Word(180))}, {180, 8}, {}},
        {{kStart, Ok(Word(0))}, {4, 0}, {}},
        {{kStart, Ok(Word(181))}, {4, 0}, {}},
        {{kStart, kLength, Ok(Bytes(50))}, {kPayload - 50, 58}, {}},
        {{kStart, kLength, kBody}, {4, 8 + kPayload}, {}},
        {{kStart, kLength, kBody, Ok(Word(0))}, {4, 0}, {}},
        {{kStart, kLength, kBody, kStart}, {4, 4}, {}},
        {{kStart, kLength, {0, Bytes(9), kPayload + 1}}, {4, 0}, {kBadRead + "0"}},
        {{{17}}, {4, 0}, {kBadRead + "17"}},
        {{kStart, kLength, Ok(Bytes(5)), {13}}, {4, 0}, {kBadRead + "13"}},
    };
    for (const auto& [reads, next, logs] : rows) {
        SCOPED_TRACE(::testing::Message() << reads.size() << " reads, next at " << next.second);
        Fresh();
        EXPECT_EQ(Feed(reads), nullptr);
        EXPECT_EQ(Next(), next);
        EXPECT_EQ(Next(), next); // that read's status 2 changed nothing
        EXPECT_EQ(Logs(), logs);
    }
}

TEST_F(ServerTest, MalformedImageTextRaisesWithReaderReset) {
    const Bytes bad = FrameBytes(1, std::string(128, 'x'));
    EXPECT_THROW(Feed({kStart, kLength, Ok(Slice(bad, 8, kPayload)), kEnd}), std::invalid_argument);
    EXPECT_EQ(Next(), std::make_pair(4, 0L));
}

TEST_F(ServerTest, ReopensReadFifoWhenNotOpenAndReadsAnyway) {
    EXPECT_EQ(Feed({kStart}), nullptr);
    DropReadFifo();
    Script().openReadStatus = 13;
    EXPECT_EQ(Feed({kLength}), nullptr);
    EXPECT_EQ(Trace(), "ReadData 4@0 0s20ms; CloseReadFifo; OpenReadFifo TarMuxMsgServerIpc 0777; "
                       "ReadData 4@4 0s20ms");
    EXPECT_EQ(Logs(), Strings{"ReadFromClient" + kOpenFailed});
}

TEST_F(ServerTest, SendToClientClosesAfterEveryWriteAttempt) {
    LxTarvexDetectedMacMsg msg(300, new std::bitset<128>(kImage));
    EXPECT_EQ(m_server->SendToClient(nullptr), 5);
    EXPECT_EQ(m_server->SendToClient(&msg), 0);
    Script().writeStatus = 18;
    EXPECT_EQ(m_server->SendToClient(&msg), 18);
    Script().openWriteStatus = 14;
    EXPECT_EQ(m_server->SendToClient(&msg), 14);
    const std::string send = "OpenWriteFifo TarMuxMsgClientIpc; WriteData 154; CloseWriteFifo; ";
    EXPECT_EQ(Trace(), send + send + "OpenWriteFifo TarMuxMsgClientIpc");
    EXPECT_EQ(CallsOf("WriteData")[0].data, kFrame);
    EXPECT_EQ(Logs(), Strings{"SendToClient: INVALID WRITE STATUS: 18"});
}

TEST_F(ServerTest, InitReplacesSessionAndCleansUpAfterFailure) {
    EXPECT_TRUE(m_server->InitTarvexMuxMsgServer()); // a second init: no session leaks
    EXPECT_EQ(Script().live, 1);
    delete m_server;
    m_server = LxTarvexMuxMsgServer::GetInstance();
    EXPECT_EQ(m_server->ReadFromClient(), nullptr);
    Script().openReadStatus = 13, Script().calls.clear();
    EXPECT_FALSE(m_server->InitTarvexMuxMsgServer());
    EXPECT_EQ(m_server->ReadFromClient(), nullptr);
    EXPECT_EQ(Trace(), "new TarMuxMsgServerIpc 2; OpenReadFifo TarMuxMsgServerIpc 0777; delete");
    const std::string notInitialized = "ReadFromClient: IPC not initialized.";
    EXPECT_EQ(Logs(),
              (Strings{notInitialized, "InitTarvexMuxMsgServer" + kOpenFailed, notInitialized}));
}

} // namespace
