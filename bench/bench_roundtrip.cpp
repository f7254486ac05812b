// Request/reply round trip between two processes: (a) the library, (b) the same bytes with
// bare system calls in the same pattern, (c) a raw FIFO ping-pong with both ends kept open
// and, when built with libzmq, (d) ZeroMQ REQ/REP over ipc://. The variants take turns in
// rounds, so that load from elsewhere on the machine falls on all of them alike.
#include "BenchSupport.h"
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgClient.h"
#include "LxTarvexMuxMsgServer.h"
#include "TarvexFifos.h"
#include "TarvexFrame.h"
#include "TempFifoDir.h"

#if ZAM_BENCH_ZMQ
#include <zmq.h>
#endif

#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>

using namespace zam::bench;
using zam::frame::MaxFrameSize;

namespace {

constexpr int kReplyWaitMs = 2000; // the client's s_readTimeout
constexpr int kServerPollMs = 20;  // ReadFromClient's idle wait
constexpr int kWarmUp = 200;
constexpr int kRounds = 10;
constexpr int kCount = 2000; // round trips per round

const std::vector<unsigned char> s_frame = SampleFrame();

bool IsEcho(const unsigned char* reply, long length) {
    return length == static_cast<long>(s_frame.size()) &&
           std::memcmp(reply, s_frame.data(), s_frame.size()) == 0;
}

// The servers, each in its own process, echo every request until they are killed.
int LibraryServer() {
    LxTarvexMuxMsgServer* server = LxTarvexMuxMsgServer::GetInstance();
    if (!server->InitTarvexMuxMsgServer()) {
        return 1;
    }
    for (;;) {
        const std::unique_ptr<LxTarvexDetectedMacMsg> request(server->ReadFromClient());
        if (request != nullptr) {
            server->SendToClient(request.get());
        }
    }
}

// Opens a FIFO per reply, reads requests 4, 4, L, 4 bytes and polls only when it is empty.
int BareServer(const std::string& own, const std::string& peer) {
    BareFifo fifo(own);
    unsigned char frame[MaxFrameSize];
    for (;;) {
        const int length = fifo.ReadFrame(frame, false, kServerPollMs, kReplyWaitMs);
        if (length > 0) {
            SendBare(peer, frame, static_cast<std::size_t>(length));
        }
    }
}

// Blocking descriptors, open for the whole run: one read and one write per request.
int PingServer(const std::string& own, const std::string& peer) {
    const int in = open(own.c_str(), O_RDONLY | O_CLOEXEC); // each open waits for the client's
    const int out = open(peer.c_str(), O_WRONLY | O_CLOEXEC);
    unsigned char frame[MaxFrameSize];
    ssize_t n = 0;
    while (out >= 0 && (n = read(in, frame, sizeof frame)) > 0 &&
           write(out, frame, static_cast<std::size_t>(n)) == n) {
    }
    return 1;
}

#if ZAM_BENCH_ZMQ
int ZmqServer(const std::string& endpoint) {
    void* socket = zmq_socket(zmq_ctx_new(), ZMQ_REP);
    unsigned char frame[MaxFrameSize];
    int n = zmq_bind(socket, endpoint.c_str());
    while (n >= 0 && (n = zmq_recv(socket, frame, sizeof frame, 0)) >= 0 &&
           zmq_send(socket, frame, static_cast<std::size_t>(n), 0) == n) {
    }
    return 1;
}

// A REQ socket connected to `endpoint`, open until the program exits.
std::function<bool()> ZmqClient(const std::string& endpoint) {
    static void* s_context = zmq_ctx_new();
    static void* s_socket = zmq_socket(s_context, ZMQ_REQ);
    zmq_setsockopt(s_socket, ZMQ_RCVTIMEO, &kReplyWaitMs, sizeof kReplyWaitMs);
    if (zmq_connect(s_socket, endpoint.c_str()) != 0) {
        std::exit(1);
    }
    return [] {
        unsigned char reply[MaxFrameSize];
        return zmq_send(s_socket, s_frame.data(), s_frame.size(), 0) ==
                   static_cast<int>(s_frame.size()) &&
               IsEcho(reply, zmq_recv(s_socket, reply, sizeof reply, 0));
    };
}
#endif

struct Variant {
    char key;
    const char* legend;
    const char* goal; // of a/key
    std::unique_ptr<ChildProcess> server;
    std::function<bool()> roundTrip; // one request and its reply, checked
    std::vector<double> medians;     // µs, one per round
    int failures = 0;
};

void RunRound(Variant& v, int count) {
    std::vector<double> these;
    for (int k = 0; k < count; ++k) {
        const long long start = NowNs();
        v.failures += v.roundTrip() ? 0 : 1;
        these.push_back(static_cast<double>(NowNs() - start) / 1000.0);
    }
    v.medians.push_back(Median(these));
}

} // namespace

int main() {
    alarm(100); // a stuck peer ends the run (a failed round trip waits 2 s); the servers end
                // within 120 s (ChildProcess)
    TempFifoDir dir;
    const std::string bareServer = dir.PathOf("bs"), bareClient = dir.PathOf("bc");
    const std::string pingServer = dir.PathOf("ps"), pingClient = dir.PathOf("pc");
    if (mkfifo(pingServer.c_str(), 0600) != 0 || mkfifo(pingClient.c_str(), 0600) != 0) {
        return 1;
    }
    // Servers first, each ready before the next, and the client ends after them: no process
    // holds another's descriptors.
    std::vector<Variant> v;
    v.push_back({'a', "library: SendRequest, ReadResponse / ReadFromClient, SendToClient", "",
                 std::make_unique<ChildProcess>(LibraryServer)});
    WaitForReader(dir.PathOf(zam::endpoint::kServerFifoName));
    v.push_back(
        {'b', "bare system calls in the library's pattern", "≤ 1.10",
         std::make_unique<ChildProcess>([&] { return BareServer(bareServer, bareClient); })});
    WaitForReader(bareServer);
    v.push_back(
        {'c', "raw FIFO ping-pong, both ends kept open", "",
         std::make_unique<ChildProcess>([&] { return PingServer(pingServer, pingClient); })});
#if ZAM_BENCH_ZMQ
    const std::string endpoint = "ipc://" + dir.PathOf("zmq");
    v.push_back({'d', "ZeroMQ REQ/REP over ipc://, the same bytes", "< 1",
                 std::make_unique<ChildProcess>([&] { return ZmqServer(endpoint); }),
                 ZmqClient(endpoint)});
#endif

    const std::unique_ptr<LxTarvexMuxMsgClient> client(LxTarvexMuxMsgClient::GetInstance());
    const std::unique_ptr<LxTarvexDetectedMacMsg> message = SampleMessage();
    if (!client->InitTarvexMuxIpc()) {
        return 1;
    }
    v[0].roundTrip = [&] {
        const bool sent = client->SendRequest(message.get()) == 0;
        const std::unique_ptr<LxTarvexDetectedMacMsg> reply(sent ? client->ReadResponse()
                                                                 : nullptr);
        return reply != nullptr && reply->GetNetworkNumber() == kSampleNetwork;
    };
    BareFifo bareReplies(bareClient);
    v[1].roundTrip = [&] {
        unsigned char reply[MaxFrameSize];
        return SendBare(bareServer, s_frame.data(), s_frame.size()) &&
               IsEcho(reply, bareReplies.ReadFrame(reply, true, kReplyWaitMs, kReplyWaitMs));
    };
    const int pingOut = open(pingServer.c_str(), O_WRONLY | O_CLOEXEC);
    const int pingIn = open(pingClient.c_str(), O_RDONLY | O_CLOEXEC);
    v[2].roundTrip = [&] {
        unsigned char reply[MaxFrameSize];
        return write(pingOut, s_frame.data(), s_frame.size()) ==
                   static_cast<ssize_t>(s_frame.size()) &&
               IsEcho(reply, read(pingIn, reply, sizeof reply));
    };

    for (Variant& x : v) {
        RunRound(x, kWarmUp);
        x.medians.clear();
    }
    for (int round = 0; round < kRounds; ++round) {
        for (std::size_t i = 0; i < v.size(); ++i) { // each round starts with the next variant
            RunRound(v[(static_cast<std::size_t>(round) + i) % v.size()], kCount);
        }
    }
    close(pingOut);
    close(pingIn);

    std::printf("Round trip of a %zu-byte frame, %d rounds of %d per variant\n\n", s_frame.size(),
                kRounds, kCount);
    int failures = 0;
    for (const Variant& x : v) {
        Row(Format("round trip %c, %s (µs)", x.key, x.legend), Format("%.1f", Median(x.medians)),
            x.failures > 0 ? Format("%d failed", x.failures) : "");
        failures += x.failures;
    }
    for (std::size_t x = 1; x < v.size(); ++x) {
        Row(Format("round trip a/%c", v[x].key), Ratio(v[0].medians, v[x].medians), v[x].goal);
    }
    return failures > 0 ? 1 : 0;
}
