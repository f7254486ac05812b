// tarvexmux-client: sends detected-MAC reports to TarMuxMsgServerIpc and prints each reply;
// with --decode it checks captured frames instead.
#include "FrameDecoder.h"
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgClient.h"
#include "ReportPrinter.h"
#include "TarvexFifos.h"
#include "ToolSupport.h"

#include <chrono>
#include <memory>
#include <stdexcept>

namespace {

using namespace zam::tools;
using Clock = std::chrono::steady_clock;

constexpr const char* kProgram = "tarvexmux-client";

constexpr const char* kSynopsis =
    "usage: tarvexmux-client --network N [--macs LIST] [--count N] [--timeout S]\n"
    "                        [--hex] [--json]\n"
    "       tarvexmux-client --decode [FILE] [--json]\n";

constexpr const char* kOptions =
    "  --network N  network number, 0-65535\n"
    "  --macs LIST  active MACs 0-127, e.g. 0-3,17,127; \"none\" (default): no image\n"
    "  --count N    send the report N times, each followed by its reply; default 1\n"
    "  --timeout S  seconds to wait for each part of a reply; default 2\n"
    "  --hex        also print each frame as hex (\"request hex: ...\"); a reply's is\n"
    "               the frame Serialize makes of the report received\n"
    "  --json       one JSON object a line per request, reply (with rtt_us) and error\n"
    "  --decode     check the frames in FILE (default: standard input), hex text as\n"
    "               --hex prints it or raw bytes, and print a verdict per frame\n"
    "  --version    print the version\n";

constexpr const char* kDecodeStatus =
    "With --decode: 0 every frame passed, 1 a frame failed a check, 2 unreadable input\n"
    "or bad arguments.\n";

std::string Usage() {
    const std::string purpose =
        "Sends a report to TarMuxMsgServerIpc " + FifoDirectoryNote() + " and prints\nthe reply.\n";
    return kSynopsis + purpose + kOptions + ExitStatusHelp() + kDecodeStatus;
}

struct ClientOptions {
    long network = 0;
    std::string macs = "none";
    long count = 1;
    long timeout = LxTarvexMuxMsgClient::s_readTimeout;
    bool hex = false;
    bool json = false;
    bool decode = false;
    bool exchangeOption = false; // any option that only an exchange takes
    bool networkGiven = false;
};

// Sends the report `count` times and prints each request and reply; the exit status.
int Exchange(LxTarvexMuxMsgClient& client, const ClientOptions& options,
             const std::bitset<128>* image, const ReportPrinter& printer) {
    for (long i = 0; i < options.count; ++i) {
        LxTarvexDetectedMacMsg request(static_cast<unsigned short>(options.network),
                                       image != nullptr ? new std::bitset<128>(*image) : nullptr);
        const Clock::time_point sent = Clock::now();
        const int status = client.SendRequest(&request);
        if (status != 0) {
            printer.Failure("ipc",
                            DescribeSendFailure(status, "server", zam::endpoint::kServerFifoName),
                            status, kExitIpcFailed);
            return kExitIpcFailed;
        }
        std::unique_ptr<LxTarvexDetectedMacMsg> reply;
        bool malformed = false;
        try {
            reply.reset(client.ReadResponse());
        } catch (const std::invalid_argument&) {
            malformed = true;
        }
        const auto rtt = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - sent);
        printer.Report("request", request, false);
        if (malformed) {
            printer.Failure("bad-reply", "the reply carries a malformed MAC image", std::nullopt,
                            kExitIpcFailed);
            return kExitIpcFailed;
        }
        if (reply == nullptr) {
            printer.Failure("timeout",
                            "no reply on " + std::string(zam::endpoint::kClientFifoName) +
                                " within " + std::to_string(options.timeout) + " s",
                            std::nullopt, kExitTimeout);
            return kExitTimeout;
        }
        printer.Report("reply", *reply, true, rtt.count());
    }
    return kExitDone;
}

int RunExchange(const ClientOptions& options) {
    std::string error;
    std::unique_ptr<std::bitset<128>> image;
    if (!options.networkGiven) {
        return ArgumentError(kProgram, options.json, "--network is required (see --help)");
    }
    if (!ParseMacList(options.macs, image, error)) {
        return ArgumentError(kProgram, options.json, error);
    }
    const ReportPrinter printer(kProgram, options.hex, options.json);
    LxTarvexMuxMsgClient::s_readTimeout = static_cast<int>(options.timeout);
    LxTarvexMuxMsgClient* client = LxTarvexMuxMsgClient::GetInstance();
    if (!client->InitTarvexMuxIpc()) {
        delete client;
        printer.Failure("ipc",
                        std::string("cannot open ") + zam::endpoint::kClientFifoName + " in " +
                            FifoDirectory() + " for reading",
                        std::nullopt, kExitIpcFailed);
        return kExitIpcFailed;
    }
    const int status = Exchange(*client, options, image.get(), printer);
    delete client;
    return status;
}

} // namespace

int main(int argc, char** argv) {
    ClientOptions options;
    bool& other = options.exchangeOption;
    const std::vector<Option> table = {
        {"--network", 0, 65535, &options.network, nullptr, &options.networkGiven},
        {"--macs", 0, 0, nullptr, &options.macs, &other},
        {"--count", 1, 1000000000, &options.count, nullptr, &other},
        {"--timeout", 1, 3600, &options.timeout, nullptr, &other},
        {"--hex", 0, 0, nullptr, nullptr, &options.hex},
        {"--json", 0, 0, nullptr, nullptr, &options.json},
        {"--decode", 0, 0, nullptr, nullptr, &options.decode},
    };
    std::vector<std::string> files;
    if (const int status = HandleCommandLine(argc, argv, table, &files, kProgram, Usage());
        status >= 0) {
        return status;
    }
    if (!options.decode) {
        if (!files.empty()) {
            return ArgumentError(kProgram, options.json,
                                 "unknown argument \"" + files[0] + "\" (see --help)");
        }
        return RunExchange(options);
    }
    if (other || options.networkGiven || options.hex || files.size() > 1) {
        return ArgumentError(kProgram, options.json,
                             "--decode takes one FILE at most and no option but --json");
    }
    return RunDecode(kProgram, files.empty() ? std::string() : files[0], options.json);
}
