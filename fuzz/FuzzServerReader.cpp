// Fuzz target: the server's frame reader fed a byte stream in fuzzed pieces through the
// scripted session, against a model of the reader written from its table. Every call must
// make the read the model expects (bytes wanted, where in the 192-byte buffer they go, 0 s
// and 20 ms), complete a frame exactly when the model does, give what DeSerialize makes of
// the model's buffer, and log what the model logs; a FIFO closed under it is reopened first.
//
// Input: a count k, k control bytes, then the stream. Each read takes the next control byte
// (once they run out, a whole read): 0xFF a read failure, 0xFE a read that reports one byte
// more than asked for, 0xFD nothing in time, 0xFC the FIFO closed under the server (its
// reopen fails once) and a whole read, 0x80..0xFB a whole read, below 0x80 a piece of
// 1 + c % wanted bytes. A 4-byte read that gets fewer bytes keeps the stale rest
// of the buffer, as over a FIFO.
#include "FuzzCheck.h"
#include "FuzzOutcome.h"
#include "LogCapture.h"
#include "LxIpcFifoSession.h"
#include "LxTarvexMuxMsgServer.h"
#include "ScriptedSession.h"
#include "TarvexFrame.h"

#include <algorithm>
#include <cstdint>
#include <memory>

using namespace zam::frame;

namespace {

constexpr int kReadFailure = 17;
constexpr int kOpenFailure = 13;

// The reader's table: the word or payload read next, where it is stored, and the frames and
// log lines that follow from each read.
struct ReaderModel {
    enum Step { Start, Length, Payload, End } step = Start;
    unsigned char buffer[MaxFrameSize] = {};
    int at = 0;        // where the next read stores
    int remaining = 0; // payload bytes still to come
    Strings logs;

    int Wanted() const { return step == Payload ? remaining : WordSize; }

    // A read that stored `bytes` and reported `got`: the length of the frame it completes,
    // or 0.
    int Take(int status, const Bytes& bytes, int got) {
        if (status != 0) {
            return status == 2 ? 0 : Broken(status);
        }
        std::copy(bytes.begin(), bytes.end(), buffer + at);
        if (step == Payload) {
            return got < 0 || got > remaining ? Broken(0) : TakePayload(got);
        }
        const unsigned char* w = buffer + at;
        const int word =
            static_cast<int>(static_cast<unsigned int>(w[0]) << 24 | w[1] << 16 | w[2] << 8 | w[3]);
        if (step == Start && word == StartMarker) {
            Go(Length, WordSize);
        } else if (step == Length && word >= 1 && word <= MaxPayloadLength) {
            remaining = word;
            Go(Payload, HeaderSize);
        } else if (step == End && word == EndMarker) {
            const int length = at + WordSize;
            Go(Start, 0);
            return length;
        } else if (step == End && word == StartMarker) {
            Go(Length, WordSize); // the start marker already stands at offset 0
        } else {
            Go(Start, 0);
        }
        return 0;
    }

    int TakePayload(int got) {
        at += got;
        remaining -= got;
        step = remaining == 0 ? End : Payload;
        return 0;
    }
    void ReopenFailed(int status) {
        logs.push_back(
            "ReadFromClient: Failed to open IPC FIFO: TarMuxMsgServerIpc  sessionStatus: " +
            std::to_string(status));
    }
    int Broken(int status) {
        logs.push_back("ReadFromClient: INVALID READ STATUS: " + std::to_string(status));
        Go(Start, 0);
        return 0;
    }
    void Go(Step next, int where) {
        step = next;
        at = where;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 8192) {
        return 0;
    }
    ResetScript();
    ClearLogs();
    const std::unique_ptr<LxTarvexMuxMsgServer> server(LxTarvexMuxMsgServer::GetInstance());
    ZAM_FUZZ_CHECK(server->InitTarvexMuxMsgServer());
    ReaderModel model;
    bool reopenNext = false; // after a failed reopen
    const size_t controls = size > 0 ? std::min<size_t>(data[0], size - 1) : 0;
    const uint8_t* control = data + 1;
    const uint8_t* stream = control + controls;
    for (const uint8_t* end = data + size; stream < end;) {
        const int wanted = model.Wanted();
        const uint8_t c = control < data + 1 + controls ? *control++ : 0x80;
        ScriptedRead read{c == 0xFF ? kReadFailure : c == 0xFD ? 2 : 0};
        if (read.status == 0) {
            const int piece = c >= 0x80 ? wanted : 1 + c % wanted;
            const auto n = std::min(static_cast<size_t>(piece), static_cast<size_t>(end - stream));
            read.bytes.assign(stream, stream + n);
            stream += n;
            read.got = c == 0xFE ? wanted + 1 : static_cast<int>(n);
        }
        Script().reads.push_back(read);
        const bool closing = c == 0xFC; // the FIFO closes under the server; reopening fails once
        if (closing) {
            Script().session->CloseReadFifo();
            Script().openReadStatus = kOpenFailure;
            model.ReopenFailed(kOpenFailure);
        }
        const size_t before = Script().calls.size();
        const Outcome actual = OutcomeOf([&] { return server->ReadFromClient(); });
        Script().openReadStatus = 0;
        // While its FIFO is closed, the reader reopens it before the read it makes anyway.
        const bool reopened = closing || reopenNext;
        reopenNext = closing;
        ZAM_FUZZ_CHECK(Script().calls.size() == before + (reopened ? 2 : 1));
        const SessionCall& open = Script().calls[before];
        ZAM_FUZZ_CHECK(!reopened || (open.op == "OpenReadFifo" &&
                                     open.fifo == "TarMuxMsgServerIpc" && open.number == 0777));
        const SessionCall& call = Script().calls.back();
        ZAM_FUZZ_CHECK(call.op == "ReadData" && call.number == wanted && call.at == model.at);
        ZAM_FUZZ_CHECK(call.seconds == 0 && call.milliseconds == 20);
        const int frameLength = model.Take(read.status, read.bytes, read.got);
        const Outcome expected =
            frameLength > 0 ? OutcomeOfFrame(model.buffer, frameLength) : Outcome();
        ZAM_FUZZ_CHECK(actual == expected);
        ZAM_FUZZ_CHECK(LogTexts("LxTarvexMuxMsgServer") == model.logs);
    }
    ClearLogs(); // the capture keeps every line: keep memory flat over millions of runs
    return 0;
}
