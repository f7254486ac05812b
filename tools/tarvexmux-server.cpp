// tarvexmux-server: reads detected-MAC reports from TarMuxMsgServerIpc, prints each one and
// answers it on TarMuxMsgClientIpc, until a signal, a request count or an idle timeout.
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgServer.h"
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
constexpr const char* kUsage =
    "usage: tarvexmux-server [--add N] [--count N] [--timeout S]\n"
    "Answers each report read from TarMuxMsgServerIpc (in $ZAMIPC_FIFO_DIR, default /tmp).\n"
    "  --add N      answer with the network number + N (mod 65536); default 0\n"
    "  --count N    stop after N requests\n"
    "  --timeout S  stop after S seconds without a request\n"
    "Stops on SIGINT or SIGTERM; exits 0 when stopped by any of these.\n";

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

// The request's report with `add` added to its network number, and a copy of its image.
void Answer(LxTarvexMuxMsgServer& server, const LxTarvexDetectedMacMsg& request, long add) {
    const std::bitset<128>* image = request.GetActiveMacImage();
    const auto network = static_cast<unsigned short>((request.GetNetworkNumber() + add) & 0xFFFF);
    LxTarvexDetectedMacMsg reply(network,
                                 image != nullptr ? new std::bitset<128>(*image) : nullptr);
    const int status = server.SendToClient(&reply);
    if (status != 0) {
        PrintError(kProgram,
                   "warning: reply not sent: " +
                       DescribeSendFailure(status, "client", zam::endpoint::kClientFifoName));
    }
}

// Serves until a stop signal, `count` requests (0: no limit) or `idleSeconds` without a
// request (0: no limit).
void Serve(LxTarvexMuxMsgServer& server, long add, long count, long idleSeconds) {
    long served = 0;
    Clock::time_point lastRequest = Clock::now();
    while (s_stopRequested == 0 && (count == 0 || served < count)) {
        std::unique_ptr<LxTarvexDetectedMacMsg> request;
        try {
            request.reset(server.ReadFromClient());
        } catch (const std::invalid_argument&) {
            PrintError(kProgram, "warning: dropped a request with a malformed MAC image");
            continue;
        }
        if (request != nullptr) {
            std::printf("request: %s\n", FormatReport(*request).c_str());
            std::fflush(stdout);
            Answer(server, *request, add);
            ++served;
            lastRequest = Clock::now();
        } else if (idleSeconds > 0 &&
                   Clock::now() - lastRequest >= std::chrono::seconds(idleSeconds)) {
            break;
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    long add = 0;
    long count = 0;
    long idleSeconds = 0;
    const std::vector<Option> options = {
        {"--add", 0, 65535, &add, nullptr, nullptr},
        {"--count", 1, 1000000000, &count, nullptr, nullptr},
        {"--timeout", 1, 86400, &idleSeconds, nullptr, nullptr},
    };
    if (const int status = HandleCommandLine(argc, argv, options, kProgram, kUsage); status >= 0) {
        return status;
    }

    InstallStopHandlers();
    LxTarvexMuxMsgServer* server = LxTarvexMuxMsgServer::GetInstance();
    if (!server->InitTarvexMuxMsgServer()) {
        delete server;
        PrintError(kProgram,
                   std::string("cannot open ") + zam::endpoint::kServerFifoName + " for reading");
        return 1;
    }
    Serve(*server, add, count, idleSeconds);
    delete server; // closes the FIFO: later sends fail at once instead of waiting for us
    return 0;
}
