// Request/reply round trip between two processes: the library against the same bytes over
// bare system calls, a raw FIFO ping-pong and ZeroMQ REQ/REP, measured alternately in rounds.
//
//   bench_roundtrip [--rounds N] [--count N] [--variants abcd]
#include "BenchSupport.h"
#include "LxIpcMsgUtil.h"
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgClient.h"
#include "LxTarvexMuxMsgServer.h"
#include "TarvexFrame.h"
#include "TempFifoDir.h"

#include <zmq.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace zam::bench;
using zam::frame::HeaderSize;
using zam::frame::MaxFrameSize;
using zam::frame::MaxPayloadLength;
using zam::frame::WordSize;

namespace {

constexpr int kReplyTimeoutMs = 2000; // the client's wait, as s_readTimeout = 2 s
constexpr int kServerPollMs = 20;     // the server's idle wait, as ReadFromClient's
constexpr int kWarmUp = 200;
constexpr int kMaxFailures = 10;
constexpr unsigned int kRunLimitSeconds = 240;

// One request and its reply, from the client's side.
class Driver {
public:
    virtual ~Driver() = default;
    virtual bool RoundTrip() = 0;
};

// --- a: the library on both sides ---

int LibraryServer(int toParent) {
    LxTarvexMuxMsgServer* server = LxTarvexMuxMsgServer::GetInstance();
    if (!server->InitTarvexMuxMsgServer()) {
        return 1;
    }
    NotifyReady(toParent);
    for (;;) {
        if (LxTarvexDetectedMacMsg* request = server->ReadFromClient()) {
            server->SendToClient(request);
            delete request;
        }
    }
}

class LibraryDriver : public Driver {
public:
    LibraryDriver() : m_client(LxTarvexMuxMsgClient::GetInstance()), m_message(NewSampleMessage()) {
        if (!m_client->InitTarvexMuxIpc()) {
            std::fprintf(stderr, "client FIFO did not open\n");
            std::exit(1);
        }
    }
    ~LibraryDriver() override { delete m_client; }

    bool RoundTrip() override {
        if (m_client->SendRequest(m_message.get()) != 0) {
            return false;
        }
        const std::unique_ptr<LxTarvexDetectedMacMsg> reply(m_client->ReadResponse());
        return reply != nullptr && reply->GetNetworkNumber() == kSampleNetwork;
    }

private:
    LxTarvexMuxMsgClient* m_client;
    std::unique_ptr<LxTarvexDetectedMacMsg> m_message;
};

// --- b: bare system calls in the protocol's pattern ---

int BareServer(int toParent, const std::string& ownPath, const std::string& peerPath) {
    int keeper = -1;
    const int fd = OpenOwnFifoBare(ownPath, &keeper);
    NotifyReady(toParent);
    unsigned char frame[MaxFrameSize];
    for (;;) {
        const int length = ReadFrameBare(fd, frame, kServerPollMs, kReplyTimeoutMs);
        if (length > 0) {
            SendFrameBare(peerPath, frame, static_cast<std::size_t>(length));
        }
    }
}

class BareDriver : public Driver {
public:
    BareDriver(const std::vector<unsigned char>& frame, std::string ownPath, std::string peerPath)
        : m_frame(frame), m_peerPath(std::move(peerPath)), m_keeper(-1),
          m_fd(OpenOwnFifoBare(ownPath, &m_keeper)) {}
    ~BareDriver() override {
        close(m_fd);
        close(m_keeper);
    }

    bool RoundTrip() override {
        if (!SendFrameBare(m_peerPath, m_frame.data(), m_frame.size())) {
            return false;
        }
        // The client's pattern: 4, 4, then the payload and end marker in one read.
        unsigned char reply[MaxFrameSize];
        if (!ReadFullBare(m_fd, reply, WordSize, kReplyTimeoutMs) ||
            !ReadFullBare(m_fd, reply + WordSize, WordSize, kReplyTimeoutMs)) {
            return false;
        }
        const int payload = LxIpcMsgUtil::ExtractInteger(reply + WordSize);
        if (payload <= 0 || payload > MaxPayloadLength ||
            !ReadFullBare(m_fd, reply + HeaderSize, static_cast<std::size_t>(payload + WordSize),
                          kReplyTimeoutMs)) {
            return false;
        }
        return std::memcmp(reply, m_frame.data(), m_frame.size()) == 0;
    }

private:
    const std::vector<unsigned char>& m_frame;
    std::string m_peerPath;
    int m_keeper;
    int m_fd;
};

// --- c: raw FIFO ping-pong, both ends open for the whole run, blocking descriptors ---

int OpenBlocking(const std::string& path, int access) {
    const int fd = open(path.c_str(), access | O_CLOEXEC);
    if (fd < 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
    return fd;
}

// Opens the own FIFO for reading with a keeper writer (no end-of-file before the peer's
// write end is open, or ever), then makes the read descriptor blocking.
int OpenReadEnd(const std::string& path, int* keeper) {
    const int fd = OpenOwnFifoBare(path, keeper);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

int PingServer(int toParent, const std::string& ownPath, const std::string& peerPath) {
    int keeper = -1;
    const int in = OpenReadEnd(ownPath, &keeper);
    NotifyReady(toParent);
    const int out = OpenBlocking(peerPath, O_WRONLY); // waits for the client's read end
    unsigned char frame[MaxFrameSize];
    for (;;) {
        const ssize_t n = read(in, frame, sizeof frame);
        if (n > 0 && write(out, frame, static_cast<std::size_t>(n)) != n) {
            return 1;
        }
        if (n <= 0 && errno != EINTR) {
            return 1;
        }
    }
}

class PingDriver : public Driver {
public:
    PingDriver(const std::vector<unsigned char>& frame, const std::string& ownPath,
               const std::string& peerPath)
        : m_frame(frame), m_keeper(-1), m_in(OpenReadEnd(ownPath, &m_keeper)),
          m_out(OpenBlocking(peerPath, O_WRONLY | O_NONBLOCK)) {
        // The server's read end is open (it said it was ready): the open did not wait.
        fcntl(m_out, F_SETFL, fcntl(m_out, F_GETFL) & ~O_NONBLOCK);
    }
    ~PingDriver() override {
        close(m_out);
        close(m_in);
        close(m_keeper);
    }

    bool RoundTrip() override {
        if (write(m_out, m_frame.data(), m_frame.size()) != static_cast<ssize_t>(m_frame.size())) {
            return false;
        }
        unsigned char reply[MaxFrameSize];
        return read(m_in, reply, sizeof reply) == static_cast<ssize_t>(m_frame.size()) &&
               std::memcmp(reply, m_frame.data(), m_frame.size()) == 0;
    }

private:
    const std::vector<unsigned char>& m_frame;
    int m_keeper;
    int m_in;
    int m_out;
};

// --- d: ZeroMQ REQ/REP over ipc:// ---

int ZmqServer(int toParent, const std::string& endpoint) {
    void* context = zmq_ctx_new();
    void* socket = zmq_socket(context, ZMQ_REP);
    if (zmq_bind(socket, endpoint.c_str()) != 0) {
        std::fprintf(stderr, "zmq_bind %s: %s\n", endpoint.c_str(), zmq_strerror(zmq_errno()));
        return 1;
    }
    NotifyReady(toParent);
    unsigned char frame[MaxFrameSize];
    for (;;) {
        const int n = zmq_recv(socket, frame, sizeof frame, 0);
        if (n > 0) {
            zmq_send(socket, frame, static_cast<std::size_t>(n), 0);
        }
    }
}

class ZmqDriver : public Driver {
public:
    ZmqDriver(const std::vector<unsigned char>& frame, const std::string& endpoint)
        : m_frame(frame), m_context(zmq_ctx_new()), m_socket(zmq_socket(m_context, ZMQ_REQ)) {
        const int noLinger = 0;
        const int timeout = kReplyTimeoutMs;
        zmq_setsockopt(m_socket, ZMQ_LINGER, &noLinger, sizeof noLinger);
        zmq_setsockopt(m_socket, ZMQ_RCVTIMEO, &timeout, sizeof timeout);
        if (zmq_connect(m_socket, endpoint.c_str()) != 0) {
            std::fprintf(stderr, "zmq_connect %s: %s\n", endpoint.c_str(),
                         zmq_strerror(zmq_errno()));
            std::exit(1);
        }
    }
    ~ZmqDriver() override {
        zmq_close(m_socket);
        zmq_ctx_term(m_context);
    }

    bool RoundTrip() override {
        if (zmq_send(m_socket, m_frame.data(), m_frame.size(), 0) !=
            static_cast<int>(m_frame.size())) {
            return false;
        }
        unsigned char reply[MaxFrameSize];
        return zmq_recv(m_socket, reply, sizeof reply, 0) == static_cast<int>(m_frame.size()) &&
               std::memcmp(reply, m_frame.data(), m_frame.size()) == 0;
    }

private:
    const std::vector<unsigned char>& m_frame;
    void* m_context;
    void* m_socket;
};

struct Variant {
    char key;
    const char* legend;
    Child server;
    std::unique_ptr<Driver> driver;
    std::vector<double> samples;      // microseconds, every round trip
    std::vector<double> roundMedians; // microseconds, one per round
    int failures;
};

std::string LoadAverage() {
    char text[64] = "?";
    if (FILE* in = std::fopen("/proc/loadavg", "r")) {
        if (std::fgets(text, sizeof text, in) == nullptr) {
            text[0] = '\0';
        }
        std::fclose(in);
    }
    std::string load(text);
    const std::size_t end = load.find(' ', load.find(' ', load.find(' ') + 1) + 1);
    return load.substr(0, end);
}

double RatioOfRound(const Variant& x, const Variant& y, std::size_t round) {
    return x.roundMedians[round] / y.roundMedians[round];
}

void PrintRatio(const Variant& x, const Variant& y, const char* goal) {
    std::vector<double> perRound;
    for (std::size_t r = 0; r < x.roundMedians.size(); ++r) {
        perRound.push_back(RatioOfRound(x, y, r));
    }
    const double ratio = Median(x.samples) / Median(y.samples);
    std::printf("  %c/%c = %.2f   per-round %.2f–%.2f   %s\n", x.key, y.key, ratio, Min(perRound),
                Max(perRound), goal);
    SummaryRow(Format("round trip ratio %c/%c", x.key, y.key), Format("%.2f", ratio),
               Format("%.2f–%.2f (per round)", Min(perRound), Max(perRound)), goal);
}

} // namespace

int main(int argc, char** argv) {
    int rounds = 10;
    int count = 2000;
    std::string keys = "abcd";
    ParseBenchOptions(argc, argv,
                      {{"--rounds", &rounds, 10000000, nullptr},
                       {"--count", &count, 10000000, nullptr},
                       {"--variants", nullptr, 0, &keys}},
                      "[--rounds N] [--count N] [--variants abcd]");

    alarm(kRunLimitSeconds); // a stuck peer ends the run (the servers follow by PDEATHSIG)
    TempFifoDir dir;
    const std::vector<unsigned char> frame = SampleFrame();
    const std::string bareServer = dir.PathOf("BareServerFifo");
    const std::string bareClient = dir.PathOf("BareClientFifo");
    const std::string pingServer = dir.PathOf("PingServerFifo");
    const std::string pingClient = dir.PathOf("PingClientFifo");
    const std::string zmqEndpoint = "ipc://" + dir.PathOf("zmq-roundtrip");
    const std::string loadBefore = LoadAverage();
    // The ping-pong's FIFOs exist before either side opens them.
    if (mkfifo(pingServer.c_str(), 0600) != 0 || mkfifo(pingClient.c_str(), 0600) != 0) {
        std::perror("mkfifo");
        return 1;
    }

    std::vector<Variant> variants;
    for (const char key : keys) {
        switch (key) {
        case 'a':
            variants.push_back({key, "library: SendRequest + ReadResponse / ReadFromClient loop + "
                                     "SendToClient"});
            break;
        case 'b':
            variants.push_back({key, "bare syscalls, same pattern: open/write/close per frame; "
                                     "reads 4,4,L,4 and 4,4,L+4; poll when empty"});
            break;
        case 'c':
            variants.push_back({key, "raw FIFO ping-pong, both ends kept open: one write, one "
                                     "read each way"});
            break;
        case 'd':
            variants.push_back({key, "ZeroMQ REQ/REP over ipc://, the same frame bytes"});
            break;
        default:
            std::fprintf(stderr, "unknown variant %c\n", key);
            return 2;
        }
    }

    // Servers first: they are forked before the parent opens anything they could inherit.
    for (Variant& v : variants) {
        switch (v.key) {
        case 'a':
            v.server = StartChild(LibraryServer);
            break;
        case 'b':
            v.server = StartChild([&](int fd) { return BareServer(fd, bareServer, bareClient); });
            break;
        case 'c':
            v.server = StartChild([&](int fd) { return PingServer(fd, pingServer, pingClient); });
            break;
        case 'd':
            v.server = StartChild([&](int fd) { return ZmqServer(fd, zmqEndpoint); });
            break;
        }
        WaitReady(v.server, "server");
    }
    for (Variant& v : variants) {
        switch (v.key) {
        case 'a':
            v.driver = std::make_unique<LibraryDriver>();
            break;
        case 'b':
            v.driver = std::make_unique<BareDriver>(frame, bareClient, bareServer);
            break;
        case 'c':
            v.driver = std::make_unique<PingDriver>(frame, pingClient, pingServer);
            break;
        case 'd':
            v.driver = std::make_unique<ZmqDriver>(frame, zmqEndpoint);
            break;
        }
        for (int i = 0; i < kWarmUp; ++i) {
            v.failures += v.driver->RoundTrip() ? 0 : 1;
        }
        v.samples.reserve(static_cast<std::size_t>(rounds) * static_cast<std::size_t>(count));
    }

    // Rounds alternate the variants (rotating which goes first), so that a burst of load
    // from elsewhere on the machine falls on all of them alike.
    const std::size_t n = variants.size();
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t i = 0; i < n; ++i) {
            Variant& v = variants[(static_cast<std::size_t>(round) + i) % n];
            std::vector<double> these;
            these.reserve(static_cast<std::size_t>(count));
            for (int k = 0; k < count && v.failures <= kMaxFailures; ++k) {
                const long long start = NowNs();
                const bool ok = v.driver->RoundTrip();
                const long long end = NowNs();
                if (!ok) {
                    ++v.failures;
                    continue;
                }
                these.push_back(static_cast<double>(end - start) / 1000.0);
            }
            v.roundMedians.push_back(Median(these));
            v.samples.insert(v.samples.end(), these.begin(), these.end());
        }
    }

    for (Variant& v : variants) {
        StopChild(v.server);
        v.driver.reset();
    }

    std::printf("Round trip of a %zu-byte frame: %d rounds x %d per variant, alternating "
                "(%d samples each)\n",
                frame.size(), rounds, count, rounds * count);
    std::printf("load average before: %s, after: %s\n\n", loadBefore.c_str(),
                LoadAverage().c_str());
    std::printf("%-8s %11s %17s %23s %9s\n", "variant", "median µs", "p10–p90 µs",
                "round medians µs", "failures");
    for (Variant& v : variants) {
        const std::vector<double> roundMedians = v.roundMedians;
        const Spread s = Summarise(v.samples);
        std::printf("%-8c %9.1f %9.1f–%-7.1f %11.1f–%-11.1f %6d\n", v.key, s.median, s.p10, s.p90,
                    Min(roundMedians), Max(roundMedians), v.failures);
        SummaryRow(Format("round trip %c (µs)", v.key), Format("%.1f", s.median),
                   Format("%.1f–%.1f (p10–p90)", s.p10, s.p90), "");
    }
    std::printf("\n");
    for (const Variant& v : variants) {
        std::printf("  %c: %s\n", v.key, v.legend);
    }
    std::printf("\nratios of the medians (goals: a/b <= 1.10, a/d < 1):\n");
    const Variant* a = nullptr;
    for (const Variant& v : variants) {
        a = v.key == 'a' ? &v : a;
    }
    for (const Variant& v : variants) {
        if (a != nullptr && v.key != 'a') {
            PrintRatio(*a, v, v.key == 'b' ? "<= 1.10" : v.key == 'd' ? "< 1" : "");
        }
    }
    int failures = 0;
    for (const Variant& v : variants) {
        failures += v.failures;
    }
    return failures > 0 ? 1 : 0;
}
