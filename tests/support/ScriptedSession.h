// A scripted LxIpcFifoSession for the endpoint tests: another implementation of the
// platform's session class, linked in place of our FIFO session (see zam_testing_endpoints).
// ReadData replays scripted results; every call is recorded with its arguments.
#ifndef ZAM_TEST_SCRIPTED_SESSION_H
#define ZAM_TEST_SCRIPTED_SESSION_H

#include <deque>
#include <string>
#include <vector>

class LxIpcFifoSession;
using Bytes = std::vector<unsigned char>;
using Strings = std::vector<std::string>;

struct ScriptedRead {
    int status = 0;
    Bytes bytes;  // stored at the caller's buffer, at most as many as it wants
    int got = -1; // the count reported; -1 for the number of bytes stored
};

struct SessionCall {
    std::string op;   // the operation's name: "OpenReadFifo", "ReadData", ...; "new", "delete"
    std::string fifo; // new, OpenReadFifo, OpenWriteFifo: the FIFO name
    int number = 0;   // new: close-confirm value; OpenReadFifo: mode; ReadData: bytes wanted;
                      // WriteData: bytes written
    long at = 0;      // ReadData: where it stores, from the buffer of the first read recorded
    int seconds = 0;  // ReadData: the two timing words
    int milliseconds = 0;
};

// One script for every session of the process.
struct SessionScript {
    std::deque<ScriptedRead> reads; // when none is left, ReadData returns 2
    int openReadStatus = 0;
    int openWriteStatus = 0;
    int writeStatus = 0;
    std::vector<SessionCall> calls;
    const unsigned char* firstReadBuffer = nullptr;
    LxIpcFifoSession* session = nullptr; // the last one made
};
SessionScript& Script();
void ResetScript();
// Forgets the calls made so far; the next read's buffer is where offsets count from.
void ClearCalls();
Strings Ops(); // the operations called so far, in order

#endif
