// Soak: a burst of frames from a writer process through the real server FIFO into the server
// endpoint's ReadFromClient loop, once clean and once with junk writes of 1 to 3 bytes spread
// through it. Prints the frames sent, received and lost of each run.
//
//   bench_soak [--frames N] [--junk N]
//
// The writer writes each 154-byte frame with one blocking write(2), as fast as the FIFO
// takes them, so the FIFO stays full while the server reads. Frames are 2 mod 4 bytes long:
// after 1 or 3 bytes of junk the server's 4-byte start-marker search no longer lines up
// with the frames behind them until the FIFO runs empty.
#include "BenchSupport.h"
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgServer.h"
#include "TempFifoDir.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace zam::bench;

namespace {

constexpr long long kOpenWaitNs = 5000000000LL;
constexpr long long kDrainWaitNs = 120000000000LL;
constexpr unsigned char kJunkByte = 0xA5;

struct Run {
    const char* name;
    int junkWrites;
    long long received;
    double seconds;
};

bool WriteAll(int fd, const unsigned char* bytes, std::size_t length) {
    ssize_t written;
    do {
        written = write(fd, bytes, length);
    } while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(length);
}

// Opens the server's FIFO for blocking writes once the server reads it.
int OpenWhenRead(const std::string& path) {
    const long long giveUp = NowNs() + kOpenWaitNs;
    int fd = -1;
    while ((fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0 && NowNs() < giveUp) {
        usleep(1000);
    }
    if (fd >= 0) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
    return fd;
}

// The writer process: `frames` frames with `junkWrites` writes of 1, 2, 3, 1, ... junk bytes
// spread evenly among them; then it waits until the server has read everything and exits,
// which tells the server that the burst is over.
int Writer(const std::string& path, int frames, int junkWrites) {
    const int fd = OpenWhenRead(path);
    const std::vector<unsigned char> frame = SampleFrame();
    const unsigned char junk[3] = {kJunkByte, kJunkByte, kJunkByte};
    const int junkEvery = junkWrites > 0 ? frames / junkWrites : frames + 1;
    bool ok = fd >= 0;
    for (int i = 0; ok && i < frames; ++i) {
        const int junkIndex = i / junkEvery;
        if (i % junkEvery == junkEvery / 2 && junkIndex < junkWrites) {
            ok = WriteAll(fd, junk, static_cast<std::size_t>(junkIndex % 3 + 1));
        }
        ok = ok && WriteAll(fd, frame.data(), frame.size());
    }
    const long long giveUp = NowNs() + kDrainWaitNs;
    int waiting = 1;
    while (ok && ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0 && NowNs() < giveUp) {
        usleep(1000);
    }
    if (fd >= 0) {
        close(fd);
    }
    return ok && waiting == 0 ? 0 : 1;
}

// One burst in a fresh FIFO directory: the server endpoint in this process reads until the
// writer has exited. Exits the program when the writer failed.
void Soak(Run& run, int frames) {
    TempFifoDir dir;
    const std::string path = dir.PathOf("TarMuxMsgServerIpc");
    Child writer = StartChild([&](int) { return Writer(path, frames, run.junkWrites); });
    LxTarvexMuxMsgServer* server = LxTarvexMuxMsgServer::GetInstance();
    if (!server->InitTarvexMuxMsgServer()) {
        std::fprintf(stderr, "the server FIFO did not open\n");
        std::exit(1);
    }
    const long long start = NowNs();
    int status = 0;
    pid_t done = 0;
    while (done == 0) {
        LxTarvexDetectedMacMsg* message = server->ReadFromClient();
        run.received += message != nullptr ? 1 : 0;
        delete message;
        done = waitpid(writer.pid, &status, WNOHANG);
    }
    run.seconds = static_cast<double>(NowNs() - start) / 1e9;
    writer.pid = -1;
    ReapChild(writer);
    delete server;
    if (done < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s: the writer failed\n", run.name);
        std::exit(1);
    }
}

} // namespace

int main(int argc, char** argv) {
    int frames = 100000;
    int junkWrites = 100;
    ParseBenchOptions(argc, argv,
                      {{"--frames", &frames, 100000000, nullptr},
                       {"--junk", &junkWrites, 100000, nullptr}},
                      "[--frames N] [--junk N]");
    junkWrites = std::min(junkWrites, frames);

    Run runs[] = {{"clean", 0, 0, 0.0}, {"junk", junkWrites, 0, 0.0}};
    for (Run& run : runs) {
        Soak(run, frames);
    }

    std::printf("Soak: a burst of %d frames of %zu bytes, one write(2) each, from a writer "
                "process\nthrough TarMuxMsgServerIpc into ReadFromClient; junk: writes of 1, 2, "
                "3, 1, ... bytes spread evenly\n\n",
                frames, SampleFrame().size());
    std::printf("%-6s %11s %10s %10s %10s %8s\n", "run", "junk writes", "sent", "received",
                "lost", "seconds");
    for (const Run& run : runs) {
        const long long lost = frames - run.received;
        std::printf("%-6s %11d %10d %10lld %10lld %8.2f\n", run.name, run.junkWrites, frames,
                    run.received, lost, run.seconds);
        SummaryRow(Format("soak, burst of %d frames, %d junk writes: frames lost", frames,
                          run.junkWrites),
                   Format("%lld", lost), Format("%lld of %d received", run.received, frames),
                   run.junkWrites == 0 ? "0" : "");
    }
    return 0;
}
