// Soak and allocations. Round trips between a server and a client endpoint in this process,
// each call's heap allocations counted by our global operator new (the shared libraries'
// too); resident memory, descriptors and live heap blocks, sampled at each tenth, stay level.
// Then bursts of frames from a writer process into the server, clean and with junk writes of
// 1, 2, 3, 1, ... bytes: frames are 2 mod 4 bytes long, so after 1 or 3 bytes of junk the
// server's 4-byte start-marker search misses every frame until the FIFO runs empty.
#include "BenchSupport.h"
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgClient.h"
#include "LxTarvexMuxMsgServer.h"
#include "TarvexFifos.h"
#include "TempFifoDir.h"

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <new>
#include <sys/ioctl.h>

using namespace zam::bench;

namespace {

// Word-sized, so that they are lock-free on the 32-bit target too (no libatomic).
std::atomic<std::size_t> s_allocations{0};
std::atomic<std::size_t> s_frees{0};

} // namespace

// The other forms of new and delete call these.
void* operator new(std::size_t size) {
    s_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size != 0 ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    s_frees.fetch_add(p != nullptr ? 1 : 0, std::memory_order_relaxed);
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    operator delete(p);
}

namespace {

constexpr int kRoundTrips = 100000;
constexpr int kFrames = 100000; // per burst
constexpr int kJunkWrites = 100;
constexpr int kSamples = 10;
constexpr int kIdleReads = 5; // each waits the server's 20 ms
constexpr long long kDrainWaitNs = 120000000000LL;

// The allocations of every call of one operation.
struct Tally {
    const char* name;
    const char* expected;
    long long calls = 0;
    long long allocations = 0;

    template <class Op> auto operator()(Op op) {
        const std::size_t before = s_allocations.load(std::memory_order_relaxed);
        auto result = op();
        allocations += static_cast<long long>(s_allocations.load() - before);
        ++calls;
        return result;
    }
};

struct Tallies {
    Tally sendRequest{"SendRequest", "2 (frame buffer)"};
    Tally none{"ReadFromClient completing no frame (idle, or a frame's first 3 pieces)", "0"};
    Tally complete{"ReadFromClient completing a frame", "2 (message, image)"};
    Tally sendToClient{"SendToClient", "2 (frame buffer)"};
    Tally readResponse{"ReadResponse", "2 (message, image)"};
};

bool ReadNothing(Tally& none, LxTarvexMuxMsgServer& server) {
    return !std::unique_ptr<LxTarvexDetectedMacMsg>(none([&] { return server.ReadFromClient(); }));
}

// One round trip, every call counted: the server reads the frame in four calls.
bool RoundTrip(Tallies& t, LxTarvexMuxMsgServer& server, LxTarvexMuxMsgClient& client,
               LxTarvexDetectedMacMsg& message) {
    bool ok = t.sendRequest([&] { return client.SendRequest(&message); }) == 0;
    for (int piece = 0; piece < 3; ++piece) { // start marker, length, payload
        ok = ReadNothing(t.none, server) && ok;
    }
    const std::unique_ptr<LxTarvexDetectedMacMsg> request(
        t.complete([&] { return server.ReadFromClient(); }));
    ok = ok && request && t.sendToClient([&] { return server.SendToClient(request.get()); }) == 0;
    return ok && std::unique_ptr<LxTarvexDetectedMacMsg>(
                     t.readResponse([&] { return client.ReadResponse(); }));
}

long ResidentKiB() {
    long pages = 0;
    long resident = -1;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long OpenDescriptors() {
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return std::distance(begin(fds), end(fds)) - 1; // not the one that lists them
}

struct Sample {
    long kib;
    long fds;
    long liveBlocks;
};

// Round trips with the calls counted, sampled at each tenth; false when one failed.
bool SteadyRun(int roundTrips, Tallies& t, Sample& first, Sample& last) {
    TempFifoDir dir;
    const std::unique_ptr<LxTarvexMuxMsgServer> server(LxTarvexMuxMsgServer::GetInstance());
    const std::unique_ptr<LxTarvexMuxMsgClient> client(LxTarvexMuxMsgClient::GetInstance());
    const std::unique_ptr<LxTarvexDetectedMacMsg> message = SampleMessage();
    bool ok = server->InitTarvexMuxMsgServer() && client->InitTarvexMuxIpc();
    for (int i = 0; ok && i < kIdleReads; ++i) {
        ok = ReadNothing(t.none, *server);
    }
    const int every = std::max(1, roundTrips / kSamples);
    for (int i = 1; ok && i <= roundTrips; ++i) {
        ok = RoundTrip(t, *server, *client, *message);
        if (i % every == 0) {
            const auto live = static_cast<long>(s_allocations.load() - s_frees.load());
            (i == every ? first : last) = {ResidentKiB(), OpenDescriptors(), live};
        }
    }
    return ok;
}

// The writer: blocking writes of `frames` frames with `junkWrites` junk writes spread evenly
// among them; exits once the server has read everything, which ends the burst.
int Writer(const std::string& path, int frames, int junkWrites) {
    WaitForReader(path);
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    const std::vector<unsigned char> frame = SampleFrame();
    const unsigned char junk[3] = {0xA5, 0xA5, 0xA5};
    const int every = junkWrites > 0 ? frames / junkWrites : frames + 1;
    bool ok = fd >= 0;
    for (int i = 0; ok && i < frames; ++i) {
        const bool junkHere = i % every == every / 2 && i / every < junkWrites;
        const auto junkBytes = static_cast<std::size_t>(junkHere ? i / every % 3 + 1 : 0);
        ok = (junkBytes == 0 || write(fd, junk, junkBytes) == static_cast<ssize_t>(junkBytes)) &&
             write(fd, frame.data(), frame.size()) == static_cast<ssize_t>(frame.size());
    }
    int waiting = 1;
    for (const long long giveUp = NowNs() + kDrainWaitNs;
         ok && ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0 && NowNs() < giveUp;) {
        usleep(1000);
    }
    return ok && waiting == 0 ? 0 : 1;
}

// Frames the server endpoint here received from one burst; -1 when the writer failed.
long Burst(int frames, int junkWrites) {
    TempFifoDir dir;
    const std::string path = dir.PathOf(zam::endpoint::kServerFifoName);
    const std::unique_ptr<ChildProcess> writer =
        std::make_unique<ChildProcess>([&] { return Writer(path, frames, junkWrites); });
    const std::unique_ptr<LxTarvexMuxMsgServer> server(LxTarvexMuxMsgServer::GetInstance());
    long received = 0;
    int status = 0;
    pid_t done = 0;
    while (done == 0 && server->InitTarvexMuxMsgServer()) {
        received += std::unique_ptr<LxTarvexDetectedMacMsg>(server->ReadFromClient()) ? 1 : 0;
        done = waitpid(writer->Pid(), &status, WNOHANG);
    }
    return done > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? received : -1;
}

} // namespace

int main() {
    Tallies t;
    Sample first{};
    Sample last{};
    const bool steady = SteadyRun(kRoundTrips, t, first, last);
    const long clean = Burst(kFrames, 0);
    const long junk = Burst(kFrames, kJunkWrites);

    long long perRoundTrip = 0;
    for (const Tally* x :
         {&t.sendRequest, &t.none, &t.complete, &t.sendToClient, &t.readResponse}) {
        const double calls = static_cast<double>(std::max(1LL, x->calls));
        Row(Format("allocations: %s", x->name),
            Format("%.2f", static_cast<double>(x->allocations) / calls), x->expected);
        perRoundTrip += x->allocations;
    }
    Row("allocations per round trip",
        Format("%.2f", static_cast<double>(perRoundTrip) / kRoundTrips), "8");
    Row(Format("soak, %d round trips: resident KiB, descriptors, live heap blocks, after the "
               "first tenth → at the end",
               kRoundTrips),
        Format("%ld → %ld, %ld → %ld, %ld → %ld", first.kib, last.kib, first.fds, last.fds,
               first.liveBlocks, last.liveBlocks),
        "level");
    Row(Format("soak, burst of %d frames, clean / %d junk writes: frames lost", kFrames,
               kJunkWrites),
        Format("%ld / %ld", kFrames - clean, kFrames - junk), "0 / –");
    return steady && clean >= 0 && junk >= 0 ? 0 : 1;
}
