// Server endpoint over the scripted session: the frame reader on random streams and step by
// step, the reopen rule, SendToClient and initialisation.
#include "LogCapture.h"
#include "LxIpcFifoSession.h"
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgServer.h"
#include "ScriptedSession.h"

#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <stdexcept>

namespace {

using Msg = std::unique_ptr<LxTarvexDetectedMacMsg>;
using Reads = std::vector<ScriptedRead>;

const std::string kImage = std::bitset<128>().set(0).set(77).set(127).to_string();
const Bytes kFrame = FrameBytes(300, kImage); // 8 header, 142 payload, 4 end marker
const ScriptedRead kStart{0, Word(0xBEAD)};
const ScriptedRead kLength{0, Word(142)};
const ScriptedRead kBody{0, Bytes(kFrame.begin() + 8, kFrame.end() - 4)};
const std::string kBadRead = "ReadFromClient: INVALID READ STATUS: ";
const std::string kOpenFailed = ": Failed to open IPC FIFO: TarMuxMsgServerIpc  sessionStatus: 13";

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override { Restart(); }
    void TearDown() override { delete m_server; }
    // A new initialised server, a new script, no calls or logs recorded.
    void Restart() {
        delete m_server;
        ResetScript();
        ClearLogs();
        m_server = LxTarvexMuxMsgServer::GetInstance();
        ASSERT_TRUE(m_server->InitTarvexMuxMsgServer());
        ClearCalls();
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
    // The read the reader makes next, seen through one that finds nothing (status 2, which
    // must change nothing). Every read waits 0 s and 20 ms, inside the 192-byte buffer.
    SessionCall NextRead() {
        EXPECT_EQ(Feed({{2}}), nullptr);
        const SessionCall read = Script().calls.back();
        EXPECT_EQ(read.op, "ReadData");
        EXPECT_EQ(read.seconds, 0);
        EXPECT_EQ(read.milliseconds, 20);
        EXPECT_TRUE(read.number >= 1 && read.number <= 180 && read.at >= 0 &&
                    read.at + read.number <= 192)
            << read.number << " bytes at " << read.at;
        return read;
    }
    LxTarvexMuxMsgServer* m_server = nullptr;
};

// Frames between junk words, refused headers and frames cut before their end marker,
// delivered in pieces of random size: every whole frame comes out once, in order.
TEST_F(ServerTest, RandomStreamsDeliverEveryWholeFrameOnceInOrder) {
    std::mt19937 random(1234);
    const Bytes junk = Word(0x5A5A5A5A);
    const Bytes refused[] = {Word(0), Word(-1), Word(181), Word(1 << 20)};
    for (int round = 0; round < 300; ++round) {
        Bytes stream;
        std::vector<int> sent;
        for (int i = 0; i < 4; ++i) {
            const int network = static_cast<int>(random() % 65536);
            const Bytes frame = FrameBytes(network, i % 2 == 0 ? "" : kImage);
            const auto kind = random() % 4;
            const Bytes noise = kind == 0 ? junk : kind == 1 ? Word(0xBEAD) : Bytes();
            stream.insert(stream.end(), noise.begin(), noise.end());
            if (kind == 1) {
                stream.insert(stream.end(), refused[i].begin(), refused[i].end());
            }
            // A frame cut before its end marker is dropped when the next one starts there.
            const bool cut = kind == 3;
            stream.insert(stream.end(), frame.begin(), frame.end() - (cut ? 4 : 0));
            if (!cut) {
                sent.push_back(network);
            }
        }
        stream.insert(stream.end(), kFrame.begin(), kFrame.end()); // ends the last cut one
        sent.push_back(300);
        std::vector<int> delivered;
        for (size_t at = 0; at < stream.size();) {
            const int wanted = NextRead().number;
            const auto piece = std::min<size_t>(wanted == 4 ? 4 : 1 + random() % wanted,
                                                stream.size() - at);
            if (const Msg message = Feed({{0, Bytes(stream.begin() + at, stream.begin() + at + piece)}})) {
                delivered.push_back(message->GetNetworkNumber());
            }
            at += piece;
        }
        ASSERT_EQ(delivered, sent) << "round " << round;
    }
}

// The largest frame is read whole; what breaks the reader's step is logged and resets it.
TEST_F(ServerTest, LongestPayloadIsReadAndBrokenReadsResetTheReader) {
    const struct Step {
        const char* after;
        Reads reads;
        int nextWanted;
        long nextAt;
        Strings logs;
    } steps[] = {
        {"a length of 180", {kStart, {0, Word(180)}}, 180, 8, {}},
        {"more payload than asked for", {kStart, kLength, {0, Bytes(9), 143}}, 4, 0, {kBadRead + "0"}},
        {"a failed read mid-frame", {kStart, kLength, {0, Bytes(5)}, {13}}, 4, 0, {kBadRead + "13"}},
    };
    for (const Step& step : steps) {
        Restart();
        EXPECT_EQ(Feed(step.reads), nullptr) << step.after;
        const SessionCall next = NextRead();
        EXPECT_EQ(next.number, step.nextWanted) << step.after;
        EXPECT_EQ(next.at, step.nextAt) << step.after;
        EXPECT_EQ(LogTexts(), step.logs) << step.after;
    }
}

TEST_F(ServerTest, EndMarkerGivesTheMessageAndAMalformedImageRaisesWithTheReaderReset) {
    const Msg message = Feed({kStart, kLength, kBody, {0, Word(0xBADE)}});
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->GetNetworkNumber(), 300);
    EXPECT_EQ(message->GetActiveMacImage()->to_string(), kImage);
    const Bytes bad = FrameBytes(300, std::string(128, 'x'));
    const ScriptedRead badBody{0, Bytes(bad.begin() + 8, bad.end() - 4)};
    EXPECT_THROW(Feed({kStart, kLength, badBody, {0, Word(0xBADE)}}), std::invalid_argument);
    EXPECT_EQ(NextRead().at, 0);
}

TEST_F(ServerTest, ReopensItsFifoWhenTheSessionSaysItIsNotOpenAndReadsAnyway) {
    EXPECT_EQ(Feed({kStart}), nullptr);
    Script().session->CloseReadFifo(); // as after a failure or a removed node
    Script().openReadStatus = 13;
    EXPECT_EQ(Feed({kLength}), nullptr);
    EXPECT_EQ(Ops(), (Strings{"ReadData", "CloseReadFifo", "OpenReadFifo", "ReadData"}));
    EXPECT_EQ(Script().calls[2].fifo, "TarMuxMsgServerIpc");
    EXPECT_EQ(Script().calls[2].number, 0777);
    EXPECT_EQ(LogTexts(), Strings{"ReadFromClient" + kOpenFailed});
}

TEST_F(ServerTest, SendToClientWritesOneFrameAndClosesAfterEveryWrite) {
    LxTarvexDetectedMacMsg message(300, new std::bitset<128>(kImage));
    EXPECT_EQ(m_server->SendToClient(nullptr), 5);
    EXPECT_EQ(Ops(), Strings{}); // nothing done for a null message
    Script().writeStatus = 18;
    EXPECT_EQ(m_server->SendToClient(&message), 18);
    Script().openWriteStatus = 14;
    EXPECT_EQ(m_server->SendToClient(&message), 14);
    EXPECT_EQ(Ops(), (Strings{"OpenWriteFifo", "WriteData", "CloseWriteFifo", "OpenWriteFifo"}));
    EXPECT_EQ(Script().calls[0].fifo, "TarMuxMsgClientIpc");
    EXPECT_EQ(Script().calls[1].data, kFrame);
    EXPECT_EQ(LogTexts(), Strings{"SendToClient: INVALID WRITE STATUS: 18"});
}

TEST_F(ServerTest, InitKeepsAWorkingSessionAndDropsOnlyAFailedNewOne) {
    Script().session->CloseReadFifo();
    EXPECT_TRUE(m_server->InitTarvexMuxMsgServer()); // reopened through the same session
    EXPECT_EQ(Ops(), (Strings{"CloseReadFifo", "OpenReadFifo"}));
    delete m_server;
    m_server = LxTarvexMuxMsgServer::GetInstance();
    ClearCalls();
    ClearLogs();
    EXPECT_EQ(m_server->ReadFromClient(), nullptr); // no session yet: nothing read
    Script().openReadStatus = 13;
    EXPECT_FALSE(m_server->InitTarvexMuxMsgServer());
    EXPECT_EQ(Ops(), (Strings{"new", "OpenReadFifo", "delete"}));
    EXPECT_EQ(Script().calls[0].number, 2); // the server's close-confirm value
    EXPECT_EQ(LogTexts(), (Strings{"ReadFromClient: IPC not initialized.",
                                   "InitTarvexMuxMsgServer" + kOpenFailed}));
}

} // namespace
