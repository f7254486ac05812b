// Fuzz target: the server's frame reader fed a byte stream in fuzzed pieces through the
// scripted session. After every call the next read stays inside the 192-byte receive buffer
// and asks for 1..180 bytes, and a message returned fits in one frame. At the end a read
// failure resets the reader, and a good frame is then delivered on the fourth call. (Without
// that reset nothing can be promised: the start-marker search goes in 4-byte steps, so a
// reader left one to three bytes out of step never meets a start marker again.)
//
// Input: a count k, k control bytes, then the stream. Each read takes the next control byte
// (once they run out, a whole read): 0xFF a read failure, 0xFE a read that reports one byte
// more than asked for, 0x80..0xFD all that is asked for, below 0x80 a piece of 1 + c % wanted
// bytes. A 4-byte read that gets fewer bytes keeps its stale rest, as over a FIFO.
#include "FuzzCheck.h"
#include "LogCapture.h"
#include "LxIpcMsgBuffer.h"
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgServer.h"
#include "ScriptedSession.h"
#include "TarvexFrame.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <stdexcept>

using namespace zam::frame;

namespace {

using Message = std::unique_ptr<LxTarvexDetectedMacMsg>;

// One ReadFromClient call; the exception of a malformed image text is an allowed outcome.
Message Step(LxTarvexMuxMsgServer& server) {
    Message message;
    try {
        message.reset(server.ReadFromClient());
    } catch (const std::invalid_argument&) {
    }
    if (message != nullptr) {
        ZAM_FUZZ_CHECK(std::unique_ptr<LxIpcMsgBuffer>(message->Serialize())->GetLength() <= MaxFrameSize);
    }
    return message;
}

// The bytes the next read asks for, seen through a read that finds nothing (status 2,
// which changes nothing in the reader); it must lie inside the receive buffer.
int NextWanted(LxTarvexMuxMsgServer& server) {
    ZAM_FUZZ_CHECK(Step(server) == nullptr);
    const SessionCall& read = Script().calls.back();
    ZAM_FUZZ_CHECK(read.op == "ReadData" && read.number >= 1 && read.number <= MaxPayloadLength);
    ZAM_FUZZ_CHECK(read.at >= 0 && read.at + read.number <= MaxFrameSize);
    return read.number;
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
    const size_t controls = size > 0 ? std::min<size_t>(data[0], size - 1) : 0;
    const uint8_t* control = data + 1;
    const uint8_t* stream = control + controls;
    for (const uint8_t* end = data + size; stream < end;) {
        const int wanted = NextWanted(*server);
        const uint8_t c = control < data + 1 + controls ? *control++ : 0x80;
        ScriptedRead read;
        if (c == 0xFF) {
            read.status = 17;
        } else {
            const int piece = c >= 0x80 ? wanted : 1 + c % wanted;
            const auto n = std::min(static_cast<size_t>(piece), static_cast<size_t>(end - stream));
            read.bytes.assign(stream, stream + n);
            stream += n;
            read.got = c == 0xFE ? wanted + 1 : -1;
        }
        Script().reads.push_back(read);
        Step(*server);
    }

    // A failed read puts the reader back at a frame boundary; a good frame then takes
    // exactly four reads: start marker, length, payload, end marker.
    Script().reads.push_back({17, {}, -1});
    ZAM_FUZZ_CHECK(Step(*server) == nullptr && NextWanted(*server) == WordSize);
    const LxTarvexDetectedMacMsg good(0x2A5C, new std::bitset<128>(0xF00D));
    const std::unique_ptr<LxIpcMsgBuffer> frame(good.Serialize());
    const unsigned char* bytes = frame->GetBuf();
    const int payloadEnd = frame->GetLength() - WordSize;
    for (const auto& [from, to] : {std::pair{0, WordSize}, {WordSize, HeaderSize},
                                   {HeaderSize, payloadEnd}, {payloadEnd, frame->GetLength()}}) {
        Script().reads.push_back({0, Bytes(bytes + from, bytes + to), -1});
    }
    for (int call = 1; call <= 3; ++call) {
        ZAM_FUZZ_CHECK(Step(*server) == nullptr);
    }
    const Message delivered = Step(*server);
    ZAM_FUZZ_CHECK(delivered != nullptr && delivered->GetNetworkNumber() == 0x2A5C &&
                   *delivered->GetActiveMacImage() == std::bitset<128>(0xF00D));
    ClearLogs();
    return 0;
}
