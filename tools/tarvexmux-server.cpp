// tarvexmux-server: reads detected-MAC reports from TarMuxMsgServerIpc, prints each one and
// answers it on TarMuxMsgClientIpc, until a signal, a request count or an idle timeout.
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgServer.h"
#include "ReportPrinter.h"
#include "TarvexFifos.h"
#include "ToolSupport.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <stdexcept>

namespace {

using namespace zam::tools;
using Clock = std::chrono::steady_clock;

constexpr const char* kProgram = "tarvexmux-server";

constexpr const char* kSynopsis =
    "usage: tarvexmux-server [--add N] [--count N] [--timeout S] [--hex] [--json]\n";

constexpr const char* kOptions =
    "  --add N      answer with the network number + N (mod 65536); default 0\n"
    "  --count N    stop after N requests\n"
    "  --timeout S  give up after S seconds without a request (exit status 3)\n"
    "  --hex        also print each frame as hex (\"request hex: ...\"); a request's is\n"
    "               the frame Serialize makes of the report received\n"
    "  --json       one JSON object a line per request, reply and error\n"
    "  --version    print the version\n"
    "Prints \"ready: reading TarMuxMsgServerIpc in DIR\" on standard error once its FIFO\n"
    "is open. Stops on SIGINT or SIGTERM (exit status 0).\n";

std::string Usage() {
    const std::string purpose =
        "Answers each report read from TarMuxMsgServerIpc " + FifoDirectoryNote() + ".\n";
    return kSynopsis + purpose + kOptions + ExitStatusHelp();
}

struct ServerOptions {
    long add = 0;
    long count = 0;       // 0: no limit
    long idleSeconds = 0; // 0: no limit
    bool hex = false;
    bool json = false;
};

volatile std::sig_atomic_t s_stopRequested = 0;

void RequestStop(int) {
    s_stopRequested = 1;
}

// The handler only sets the flag; the loop looks at it after every read (at most 20 ms).
void InstallStopHandlers() {
    struct sigaction action = {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// The request's report with `add` added to its network number, and a copy of its image. A
// reply that cannot be sent is reported, and the server goes on.
void Answer(LxTarvexMuxMsgServer& server, const LxTarvexDetectedMacMsg& request, long add,
            const ReportPrinter& printer) {
    const std::bitset<128>* image = request.GetActiveMacImage();
    const auto network = static_cast<unsigned short>((request.GetNetworkNumber() + add) & 0xFFFF);
    LxTarvexDetectedMacMsg reply(network,
                                 image != nullptr ? new std::bitset<128>(*image) : nullptr);
    const int status = server.SendToClient(&reply);
    if (status != 0) {
        printer.Failure("ipc",
                        "warning: reply not sent: " +
                            DescribeSendFailure(status, "client", zam::endpoint::kClientFifoName),
                        status);
        return;
    }
    printer.Report("reply", reply, false);
}

// Serves until a stop signal or `count` requests (exit status 0), or until `idleSeconds`
// pass without a request (3).
int Serve(LxTarvexMuxMsgServer& server, const ServerOptions& options,
          const ReportPrinter& printer) {
    long served = 0;
    Clock::time_point lastRequest = Clock::now();
    while (s_stopRequested == 0 && (options.count == 0 || served < options.count)) {
        std::unique_ptr<LxTarvexDetectedMacMsg> request;
        try {
            request.reset(server.ReadFromClient());
        } catch (const std::invalid_argument&) {
            printer.Failure("bad-request", "warning: dropped a request with a malformed MAC image");
            continue;
        }
        if (request != nullptr) {
            printer.Report("request", *request, true);
            Answer(server, *request, options.add, printer);
            ++served;
            lastRequest = Clock::now();
        } else if (options.idleSeconds > 0 &&
                   Clock::now() - lastRequest >= std::chrono::seconds(options.idleSeconds)) {
            printer.Failure("timeout",
                            "no request within " + std::to_string(options.idleSeconds) + " s",
                            std::nullopt, kExitTimeout);
            return kExitTimeout;
        }
    }
    return kExitDone;
}

} // namespace

int main(int argc, char** argv) {
    ServerOptions options;
    const std::vector<Option> table = {
        {"--add", 0, 65535, &options.add, nullptr, nullptr},
        {"--count", 1, 1000000000, &options.count, nullptr, nullptr},
        {"--timeout", 1, 86400, &options.idleSeconds, nullptr, nullptr},
        {"--hex", 0, 0, nullptr, nullptr, &options.hex},
        {"--json", 0, 0, nullptr, nullptr, &options.json},
    };
    if (const int status = HandleCommandLine(argc, argv, table, nullptr, kProgram, Usage());
        status >= 0) {
        return status;
    }

    const ReportPrinter printer(kProgram, options.hex, options.json);
    InstallStopHandlers();
    LxTarvexMuxMsgServer* server = LxTarvexMuxMsgServer::GetInstance();
    if (!server->InitTarvexMuxMsgServer()) {
        delete server;
        printer.Failure("ipc",
                        std::string("cannot open ") + zam::endpoint::kServerFifoName + " in " +
                            FifoDirectory() + " for reading (is another server reading it?)",
                        std::nullopt, kExitIpcFailed);
        return kExitIpcFailed;
    }
    std::fprintf(stderr, "ready: reading %s in %s\n", zam::endpoint::kServerFifoName,
                 FifoDirectory().c_str());
    std::fflush(stderr);
    const int status = Serve(*server, options, printer);
    delete server; // closes the FIFO: later sends fail at once instead of waiting for us
    return status;
}
