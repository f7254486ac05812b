// Fuzz target: the server's frame reader fed a byte stream in fuzzed pieces through the
// scripted session. After every call: the read it made stays inside the 192-byte receive
// buffer and asks for 1..180 bytes, and a message it returns fits in one frame. At the end
// a read failure resets the reader, and a good frame must then be delivered on the 4th call.
// Without that reset nothing can be promised: the search for a start marker goes in 4-byte
// steps and frames have even lengths, so a reader left one or three bytes out of step never
// meets a start marker in a stream of good frames.
//
// Input: a count k, k control bytes, then the stream. Each read takes the next control
// byte (once they run out: a whole read): 0xFF a read failure, 0xFE a read that reports
// one byte more than asked for, 0x80..0xFD as many bytes as asked for, below 0x80 a
// piece of 1 + c % wanted bytes. A 4-byte read that gets fewer bytes keeps its stale
// rest, as over a FIFO that delivered a short read.
#include "FuzzCheck.h"
#include "LogCapture.h"
#include "LxIpcMsgBuffer.h"
#include "LxIpcSession.h"
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgServer.h"
#include "ScriptedSession.h"
#include "TarvexFrame.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

using namespace zam::frame;

namespace {

using Message = std::unique_ptr<LxTarvexDetectedMacMsg>;

constexpr unsigned short kGoodNetwork = 0x2A5C;

std::vector<unsigned char> GoodFrame() {
    auto* image = new std::bitset<128>();
    image->set(0).set(64).set(127);
    const LxTarvexDetectedMacMsg message(kGoodNetwork, image);
    const std::unique_ptr<LxIpcMsgBuffer> frame(message.Serialize());
    return {frame->GetBuf(), frame->GetBuf() + frame->GetLength()};
}

// One ReadFromClient call; the exception of a malformed image text is an allowed outcome.
Message Step(LxTarvexMuxMsgServer& server) {
    Script().calls.clear();
    Message message;
    try {
        message.reset(server.ReadFromClient());
    } catch (const std::invalid_argument&) {
    }
    if (message != nullptr) {
        const std::unique_ptr<LxIpcMsgBuffer> frame(message->Serialize());
        ZAM_FUZZ_CHECK(frame->GetLength() <= MaxFrameSize);
    }
    return message;
}

// The read the reader makes next, seen through a read that finds nothing: status 2
// changes nothing in the reader.
SessionCall Probe(LxTarvexMuxMsgServer& server, const unsigned char* rxStart) {
    ZAM_FUZZ_CHECK(Step(server) == nullptr);
    ZAM_FUZZ_CHECK(Script().calls.size() == 1 && Script().calls[0].op == "ReadData");
    const SessionCall read = Script().calls[0];
    ZAM_FUZZ_CHECK(read.arg >= 1 && read.arg <= MaxPayloadLength);
    ZAM_FUZZ_CHECK(rxStart == nullptr ||
                   (read.where >= rxStart && read.where + read.arg <= rxStart + MaxFrameSize));
    return read;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 8192) {
        return 0;
    }
    ResetScript();
    ClearLogs();
    const std::unique_ptr<LxTarvexMuxMsgServer> server(LxTarvexMuxMsgServer::GetInstance());
    ZAM_FUZZ_CHECK(server->InitTarvexMuxMsgServer());

    // A fresh reader stands at its buffer's start: that is where it reads first.
    const unsigned char* const rxStart = Probe(*server, nullptr).where;
    const size_t controls = size > 0 ? std::min<size_t>(data[0], size - 1) : 0;
    const uint8_t* control = data + 1;
    const uint8_t* const controlEnd = control + controls;
    const uint8_t* stream = controlEnd;
    const uint8_t* const end = data + size;

    while (stream < end) {
        const int wanted = Probe(*server, rxStart).arg;
        const uint8_t c = control < controlEnd ? *control++ : 0x80;
        ScriptedRead read;
        if (c == 0xFF) {
            read.status = IpcStatusReadFailed;
        } else {
            const int piece = c >= 0x80 ? wanted : 1 + c % wanted;
            const auto n = std::min(static_cast<size_t>(piece), static_cast<size_t>(end - stream));
            read.bytes.assign(stream, stream + n);
            stream += n;
            if (c == 0xFE) {
                read.got = wanted + 1;
            }
        }
        Script().reads.push_back(read);
        Step(*server);
        ZAM_FUZZ_CHECK(Script().reads.empty());
    }

    // A failed read puts the reader back at a frame boundary; a good frame then takes
    // exactly four reads: start marker, length, payload, end marker.
    Script().reads.push_back({IpcStatusReadFailed, {}, -1});
    ZAM_FUZZ_CHECK(Step(*server) == nullptr);
    const SessionCall first = Probe(*server, rxStart);
    ZAM_FUZZ_CHECK(first.arg == WordSize && first.where == rxStart);
    const std::vector<unsigned char> good = GoodFrame();
    const auto at = [&good](int offset) { return good.begin() + offset; };
    const int payloadEnd = static_cast<int>(good.size()) - WordSize;
    Script().reads.push_back({0, {at(0), at(WordSize)}, -1});
    Script().reads.push_back({0, {at(WordSize), at(HeaderSize)}, -1});
    Script().reads.push_back({0, {at(HeaderSize), at(payloadEnd)}, -1});
    Script().reads.push_back({0, {at(payloadEnd), good.end()}, -1});
    for (int call = 1; call <= 3; ++call) {
        ZAM_FUZZ_CHECK(Step(*server) == nullptr);
    }
    const Message delivered = Step(*server);
    ZAM_FUZZ_CHECK(delivered != nullptr && delivered->GetNetworkNumber() == kGoodNetwork);
    ZAM_FUZZ_CHECK(delivered->GetActiveMacImage() != nullptr &&
                   delivered->GetActiveMacImage()->count() == 3 &&
                   delivered->GetActiveMacImage()->test(64));
    ClearLogs();
    return 0;
}
