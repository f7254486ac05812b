// Fuzz target: the client's ReadResponse given three fuzzed read results through the
// scripted session, against a model written from its contract: a start word, a length
// word, then the rest of a frame whose length is within -3..180; every read waits the
// current timeout; a failure ends the call with its log line (none for a first read that
// found nothing); the reply is what DeSerialize makes of the bytes the reads stored and
// asked for, in a zeroed buffer.
//
// Input, for each of the three reads: a status byte (below 0xE0: status 0; 0xE0..0xEF:
// status 0 with a count 100 above the bytes given; 0xF0..0xF7: 2, nothing arrived;
// above: a read failure), a count n and n bytes (the read stores at most what was asked
// for). When the input runs out, the remaining reads find nothing.
#include "FuzzCheck.h"
#include "FuzzOutcome.h"
#include "LogCapture.h"
#include "LxTarvexMuxMsgClient.h"
#include "ScriptedSession.h"
#include "TarvexFrame.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>

using namespace zam::frame;

namespace {

constexpr int kTimeout = 7; // seconds; not the default, so a hard-coded wait shows

struct Expected {
    std::vector<std::pair<int, long>> reads; // bytes wanted, where they go
    Strings logs;
    Outcome outcome;
};

// The model: each read in turn, over a zeroed frame buffer.
Expected Model(std::deque<ScriptedRead> script) {
    Expected e;
    unsigned char frame[MaxFrameSize] = {};
    int got = 0;
    // One read of `wanted` bytes at `at`: true when it succeeded.
    const auto read = [&](int wanted, long at, const char* failure) {
        e.reads.emplace_back(wanted, at);
        ScriptedRead r{2};
        if (!script.empty()) {
            r = script.front();
            script.pop_front();
        }
        const auto stored = std::min<size_t>(r.bytes.size(), static_cast<size_t>(wanted));
        std::copy_n(r.bytes.begin(), stored, frame + at);
        got = r.got >= 0 ? r.got : static_cast<int>(stored);
        if (r.status != 0 && failure != nullptr && (r.status != 2 || at > 0)) {
            e.logs.push_back(failure + std::to_string(r.status));
        }
        return r.status == 0;
    };
    if (!read(WordSize, 0, "ReadResponse: INVALID READ STATUS: ") ||
        !read(WordSize, WordSize, "ReadResponse: Wait For Data status ")) {
        return e;
    }
    const int length = static_cast<int>(static_cast<unsigned int>(frame[4]) << 24 | frame[5] << 16 |
                                        frame[6] << 8 | frame[7]);
    if (length > MaxPayloadLength || length < -3) {
        e.logs.push_back("ReadResponse: INVALID FRAME LENGTH: " + std::to_string(length));
        return e;
    }
    if (read(length + WordSize, HeaderSize, "ReadResponse: Wait For Data status ")) {
        e.outcome = OutcomeOfFrame(frame, HeaderSize + std::clamp(got, 0, length + WordSize));
    }
    return e;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ResetScript();
    for (const uint8_t* in = data, *end = data + size;
         Script().reads.size() < 3 && end - in >= 2;) {
        const auto n = std::min<size_t>(in[1], static_cast<size_t>(end - in - 2));
        const int status = in[0] < 0xF0 ? 0 : in[0] < 0xF8 ? 2 : 17;
        const int got = in[0] >> 4 == 0xE ? static_cast<int>(n) + 100 : -1;
        Script().reads.push_back({status, Bytes(in + 2, in + 2 + n), got});
        in += 2 + n;
    }
    const Expected expected = Model(Script().reads);
    ClearLogs();
    LxTarvexMuxMsgClient::s_readTimeout = kTimeout;
    const std::unique_ptr<LxTarvexMuxMsgClient> client(LxTarvexMuxMsgClient::GetInstance());
    ZAM_FUZZ_CHECK(client->InitTarvexMuxIpc());
    ClearCalls();
    const Outcome actual = OutcomeOf([&] { return client->ReadResponse(); });
    ZAM_FUZZ_CHECK(actual == expected.outcome);
    ZAM_FUZZ_CHECK(Script().calls.size() == expected.reads.size());
    for (size_t i = 0; i < expected.reads.size(); ++i) {
        const SessionCall& call = Script().calls[i];
        ZAM_FUZZ_CHECK(call.number == expected.reads[i].first &&
                       call.at == expected.reads[i].second);
        ZAM_FUZZ_CHECK(call.seconds == kTimeout && call.milliseconds == 0);
    }
    ZAM_FUZZ_CHECK(LogTexts("LxTarvexMuxMsgClient") == expected.logs);
    ClearLogs();
    return 0;
}
