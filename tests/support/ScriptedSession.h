// A double of LxIpcFifoSession for endpoint tests: its definitions replace libzamipc's
// FIFO session in a test build of the endpoints. ReadData replays scripted results; every
// call is recorded with its arguments. Also the frame and log helpers of the endpoint tests.
#ifndef ZAM_TEST_SCRIPTED_SESSION_H
#define ZAM_TEST_SCRIPTED_SESSION_H

#include "LogCapture.h"

#include <deque>
#include <string>
#include <vector>

class LxIpcFifoSession;
using Bytes = std::vector<unsigned char>;
using Strings = std::vector<std::string>;

struct ScriptedRead {
    int status = 0;
    Bytes bytes;  // stored at the caller's buffer (at most `wanted`)
    int got = -1; // count reported; -1 means bytes.size()
};
using Reads = std::vector<ScriptedRead>;

struct SessionCall {
    // The op and its arguments: "new NAME BEHAVIOR", "delete", "OpenReadFifo NAME 0MODE",
    // "OpenWriteFifo NAME", "CloseReadFifo", "CloseWriteFifo", "WriteData COUNT",
    // "ReadData WANTED@OFFSET SECONDSsMILLISECONDSms" (OFFSET from the buffer of the first
    // ReadData in the script's calls).
    std::string op, text;
    int arg = 0;                          // ReadData: wanted
    const unsigned char* where = nullptr; // ReadData: the buffer
    Bytes data;                           // WriteData: the bytes
};

// The one script all sessions of the test process share.
struct SessionScript {
    std::deque<ScriptedRead> reads; // when empty, ReadData returns 2
    int openReadStatus = 0, openWriteStatus = 0, writeStatus = 0;
    std::vector<SessionCall> calls;
    LxIpcFifoSession* session = nullptr; // the last one constructed
};
SessionScript& Script();
inline void ResetScript() {
    Script() = SessionScript();
}
std::vector<SessionCall> CallsOf(const std::string& op);
// The texts of all calls in order, "; "-separated.
std::string Trace();
// The lines logged since ClearLogs(); one not of severity 3 from an endpoint is marked "?".
Strings LogTexts();

// A 4-byte integer of a frame, most significant byte first.
inline Bytes Word(int v) {
    using B = unsigned char;
    return {B(v >> 24), B(v >> 16), B(v >> 8), B(v)};
}
// A whole frame built field by field: markers, length, 1, 2, network, image text.
inline Bytes FrameBytes(int network, const std::string& image = std::string(128, '0')) {
    const int size = static_cast<int>(image.size());
    Bytes frame;
    for (const Bytes& part :
         {Word(0xBEAD), Word(size + 14), Bytes{1}, Word(2), Word(network), Word(size),
          Bytes(image.c_str(), image.c_str() + size + 1), Word(0xBADE)}) {
        frame.insert(frame.end(), part.begin(), part.end());
    }
    return frame;
}

#endif
