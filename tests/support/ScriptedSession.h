// A double of LxIpcFifoSession for endpoint tests: its definitions replace libzamipc's
// FIFO session in a test build of the endpoints. ReadData replays scripted results;
// every call is recorded with its arguments.
#ifndef ZAM_TEST_SCRIPTED_SESSION_H
#define ZAM_TEST_SCRIPTED_SESSION_H

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

struct ScriptedRead {
    int status = 0;
    std::vector<unsigned char> bytes; // stored at the caller's buffer (at most `wanted`)
    int got = -1;                     // count reported; -1 means bytes.size()
};

struct SessionCall {
    std::string op;   // "new", "delete", "OpenReadFifo", "CloseReadFifo", "OpenWriteFifo",
                      // "CloseWriteFifo", "ReadData", "WriteData"
    std::string name; // FIFO name (new, Open*)
    int arg = 0;      // mode, behavior, or wanted/count
    int seconds = 0, milliseconds = 0;    // ReadData timing words
    std::vector<unsigned char> data;      // WriteData bytes
    const unsigned char* where = nullptr; // ReadData buffer position
};

struct SessionScript {
    std::deque<ScriptedRead> reads; // when empty, ReadData returns 2
    int openReadStatus = 0;
    int openWriteStatus = 0;
    int writeStatus = 0;
    std::vector<SessionCall> calls;
    int live = 0; // sessions constructed and not yet deleted
};

// The one script all sessions of the test process share.
SessionScript& Script();
void ResetScript();
// The calls named `op`, in order.
std::vector<SessionCall> CallsOf(const std::string& op);
// All calls in order, "; "-separated, with their arguments: "new NAME BEHAVIOR",
// "OpenReadFifo NAME 0MODE", "OpenWriteFifo NAME", "WriteData COUNT", "delete",
// "ReadData WANTED@OFFSET SECONDSsMILLISECONDSms" (OFFSET from the first read's buffer).
std::string Trace();
// Helpers of the endpoint tests. Frame bytes: one 4-byte integer, a whole frame built field
// by field (any image text), and a piece of one; a read that delivers `bytes`.
using Bytes = std::vector<unsigned char>;
using Reads = std::vector<ScriptedRead>;
using Strings = std::vector<std::string>;
Bytes Word(int value);
Bytes FrameBytes(int network, const std::string& imageText);
Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t count);
inline ScriptedRead Ok(const Bytes& bytes) {
    return {0, bytes};
}
// The lines logged since ClearLogs(); one without severity 3 and `source` gets them as a
// "[severity source] " prefix, so that it compares unequal.
std::vector<std::string> LogTexts(const std::string& source);

// Makes the read FIFO of the live session(s) count as closed, as after a peer's failure.
void DropReadFifo();

#endif
