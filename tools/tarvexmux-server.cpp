// tarvexmux-server: reads detected-MAC reports from TarMuxMsgServerIpc, prints each one and
// answers it on TarMuxMsgClientIpc, until a signal, a request count or an idle timeout.
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgServer.h"
#include "TarvexFifos.h"
#include "ToolCommon.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <getopt.h>
#include <stdexcept>

namespace {

using namespace zam::tools;
using zam::endpoint::kClientFifoName;
using zam::endpoint::kServerFifoName;
using Clock = std::chrono::steady_clock;

constexpr const char* kProgram = "tarvexmux-server";
constexpr const char* kUsage =
    "usage: tarvexmux-server [--add N] [--count N] [--timeout S] [--hex] [--json]\n"
    "Answers each report read from TarMuxMsgServerIpc %s.\n"
    "  --add N      answer with the network number + N (mod 65536); default 0\n"
    "  --count N    stop after N requests\n"
    "  --timeout S  give up after S seconds without a request (exit status 3)\n"
    "  --hex        also print each frame as hex (\"request hex: ...\")\n"
    "  --json       one JSON object a line per request, reply and error\n"
    "  --version    print the version\n"
    "Prints \"ready: reading TarMuxMsgServerIpc in DIR\" on standard error once its FIFO\n"
    "is open. Stops on SIGINT or SIGTERM (exit status 0).\n";

volatile std::sig_atomic_t s_stopRequested = 0;

void RequestStop(int) {
    s_stopRequested = 1;
}

struct Options {
    long add = 0;
    long count = 0;       // 0: no limit
    long idleSeconds = 0; // 0: no limit
    int hex = 0;
    int json = 0;
};

// A reply that cannot be sent is reported, and the server goes on.
void Answer(LxTarvexMuxMsgServer& server, const LxTarvexDetectedMacMsg& request, long add,
            const Printer& out) {
    LxTarvexDetectedMacMsg reply(
        static_cast<unsigned short>((request.GetNetworkNumber() + add) & 0xFFFF),
        CopyImage(request));
    const int status = server.SendToClient(&reply);
    if (status != 0) {
        out.Failure("ipc",
                    "warning: reply not sent: " + SendFailure(status, "client", kClientFifoName),
                    kNone, status);
        return;
    }
    out.Report("reply", reply, false);
}

// The loop looks at the stop flag after every read, at most 20 ms apart.
int Serve(LxTarvexMuxMsgServer& server, const Options& options, const Printer& out) {
    long served = 0;
    Clock::time_point lastRequest = Clock::now();
    while (s_stopRequested == 0 && (options.count == 0 || served < options.count)) {
        std::unique_ptr<LxTarvexDetectedMacMsg> request;
        try {
            request.reset(server.ReadFromClient());
        } catch (const std::invalid_argument&) {
            out.Failure("bad-request", "warning: dropped a request with a malformed MAC image",
                        kNone);
            continue;
        }
        if (request != nullptr) {
            out.Report("request", *request, true);
            Answer(server, *request, options.add, out);
            ++served;
            lastRequest = Clock::now();
        } else if (options.idleSeconds > 0 &&
                   Clock::now() - lastRequest >= std::chrono::seconds(options.idleSeconds)) {
            return out.Failure("timeout",
                               "no request within " + std::to_string(options.idleSeconds) + " s",
                               kExitTimeout);
        }
    }
    return kExitDone;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    const option table[] = {
        {"add", required_argument, nullptr, 'a'},     {"count", required_argument, nullptr, 'c'},
        {"timeout", required_argument, nullptr, 't'}, {"hex", no_argument, &options.hex, 1},
        {"json", no_argument, &options.json, 1},      {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},       {nullptr, 0, nullptr, 0}};
    const bool json = JsonRequested(argc, argv);
    const Printer early(kProgram, false, json);
    char usage[2048];
    std::snprintf(usage, sizeof usage, kUsage, FifoDirectoryNote().c_str());
    opterr = 0;
    for (int c = 0; (c = getopt_long(argc, argv, ":h", table, nullptr)) != -1;) {
        const bool taken =
            c == 0 || (c == 'a' && TakeNumber(early, "--add", 0, 65535, options.add)) ||
            (c == 'c' && TakeNumber(early, "--count", 1, 1000000000, options.count)) ||
            (c == 't' && TakeNumber(early, "--timeout", 1, 86400, options.idleSeconds));
        if (!taken) {
            return std::strchr("act", c) != nullptr ? kExitBadArguments
                                                    : CommonOption(c, kProgram, usage, json, argv);
        }
    }
    if (optind < argc) {
        return early.Failure("arguments",
                             std::string("unknown argument \"") + argv[optind] + "\" (see --help)",
                             kExitBadArguments);
    }

    const Printer out(kProgram, options.hex != 0, options.json != 0);
    struct sigaction action = {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    const std::unique_ptr<LxTarvexMuxMsgServer> server(LxTarvexMuxMsgServer::GetInstance());
    if (!server->InitTarvexMuxMsgServer()) {
        return out.Failure("ipc",
                           std::string("cannot open ") + kServerFifoName + " in " +
                               FifoDirectory() + " for reading (is another server reading it?)",
                           kExitIpcFailed);
    }
    std::fprintf(stderr, "ready: reading %s in %s\n", kServerFifoName, FifoDirectory().c_str());
    std::fflush(stderr);
    return Serve(*server, options, out); // deleting the server closes its FIFO
}
