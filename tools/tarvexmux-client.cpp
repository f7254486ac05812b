// tarvexmux-client: sends detected-MAC reports to TarMuxMsgServerIpc and prints each reply;
// with --decode or --scan it checks captured frames instead.
#include "FrameDecode.h"
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgClient.h"
#include "TarvexFifos.h"
#include "ToolCommon.h"

#include <chrono>
#include <cstring>
#include <getopt.h>
#include <stdexcept>

namespace {

using namespace zam::tools;
using zam::endpoint::kClientFifoName;
using zam::endpoint::kServerFifoName;
using Clock = std::chrono::steady_clock;

constexpr const char* kProgram = "tarvexmux-client";
constexpr const char* kUsage =
    "usage: tarvexmux-client --network N [--macs LIST] [--count N] [--timeout S]\n"
    "                        [--hex] [--json]\n"
    "       tarvexmux-client --decode|--scan [FILE] [--json]\n"
    "Sends a report to TarMuxMsgServerIpc %s and prints the reply.\n"
    "  --network N  network number, 0-65535\n"
    "  --macs LIST  active MACs 0-127, e.g. 0-3,17,127; \"none\" (default): no image\n"
    "  --count N    send the report N times, each followed by its reply; default 1\n"
    "  --timeout S  seconds to wait for each part of a reply; default 2\n"
    "  --hex        also print each frame as hex (\"request hex: ...\")\n"
    "  --json       one JSON object a line per request, reply (with rtt_us) and error\n"
    "  --decode     check the frames in FILE (default: standard input; hex text as --hex\n"
    "               prints it, or raw bytes) as the server's reader takes them in\n"
    "  --scan       as --decode, but look for a start marker at every byte\n"
    "  --version    print the version\n"
    "With --decode or --scan: 0 every verdict ok, 1 a frame the server would not return,\n"
    "2 unreadable input or bad arguments.\n";

struct Options {
    long network = -1; // -1: not given
    std::string macs = "none";
    long count = 1;
    long timeout = LxTarvexMuxMsgClient::s_readTimeout;
    int hex = 0;
    int json = 0;
    int decode = 0;
    int scan = 0;
    bool exchangeOnly = false; // an option that only an exchange takes
};

// Sends the report `count` times and prints each request and reply; the exit status.
int Exchange(LxTarvexMuxMsgClient& client, const Options& options, const std::bitset<128>* image,
             const Printer& out) {
    for (long i = 0; i < options.count; ++i) {
        LxTarvexDetectedMacMsg request(static_cast<unsigned short>(options.network),
                                       image != nullptr ? new std::bitset<128>(*image) : nullptr);
        const Clock::time_point sent = Clock::now();
        const int status = client.SendRequest(&request);
        if (status != 0) {
            return out.Failure("ipc", SendFailure(status, "server", kServerFifoName),
                               kExitIpcFailed, status);
        }
        std::unique_ptr<LxTarvexDetectedMacMsg> reply;
        bool malformed = false;
        try {
            reply.reset(client.ReadResponse());
        } catch (const std::invalid_argument&) {
            malformed = true;
        }
        const auto rtt = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - sent);
        // Printed after the exchange, so that printing does not count in the round trip.
        out.Report("request", request, false);
        if (malformed) {
            return out.Failure("bad-reply", "the reply carries a malformed MAC image",
                               kExitIpcFailed);
        }
        if (reply == nullptr) {
            return out.Failure("timeout",
                               "no reply on " + std::string(kClientFifoName) + " within " +
                                   std::to_string(options.timeout) + " s",
                               kExitTimeout);
        }
        out.Report("reply", *reply, true, rtt.count());
    }
    return kExitDone;
}

int RunExchange(const Options& options, const Printer& out) {
    std::string error;
    std::unique_ptr<std::bitset<128>> image;
    if (options.network < 0) {
        return out.Failure("arguments", "--network is required (see --help)", kExitBadArguments);
    }
    if (!ParseMacList(options.macs, image, error)) {
        return out.Failure("arguments", error, kExitBadArguments);
    }
    LxTarvexMuxMsgClient::s_readTimeout = static_cast<int>(options.timeout);
    const std::unique_ptr<LxTarvexMuxMsgClient> client(LxTarvexMuxMsgClient::GetInstance());
    if (!client->InitTarvexMuxIpc()) {
        return out.Failure("ipc",
                           std::string("cannot open ") + kClientFifoName + " in " +
                               FifoDirectory() + " for reading",
                           kExitIpcFailed);
    }
    return Exchange(*client, options, image.get(), out);
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    const option table[] = {{"network", required_argument, nullptr, 'n'},
                            {"macs", required_argument, nullptr, 'm'},
                            {"count", required_argument, nullptr, 'c'},
                            {"timeout", required_argument, nullptr, 't'},
                            {"hex", no_argument, &options.hex, 1},
                            {"json", no_argument, &options.json, 1},
                            {"decode", no_argument, &options.decode, 1},
                            {"scan", no_argument, &options.scan, 1},
                            {"help", no_argument, nullptr, 'h'},
                            {"version", no_argument, nullptr, 'V'},
                            {nullptr, 0, nullptr, 0}};
    const bool json = JsonRequested(argc, argv);
    const Printer early(kProgram, false, json);
    char usage[4096];
    std::snprintf(usage, sizeof usage, kUsage, FifoDirectoryNote().c_str());
    opterr = 0;
    for (int c = 0; (c = getopt_long(argc, argv, ":h", table, nullptr)) != -1;) {
        options.exchangeOnly = options.exchangeOnly || (c != 0 && std::strchr("mct", c) != nullptr);
        options.macs = c == 'm' ? optarg : options.macs;
        const bool taken =
            c == 0 || c == 'm' ||
            (c == 'n' && TakeNumber(early, "--network", 0, 65535, options.network)) ||
            (c == 'c' && TakeNumber(early, "--count", 1, 1000000000, options.count)) ||
            (c == 't' && TakeNumber(early, "--timeout", 1, 3600, options.timeout));
        if (!taken) {
            return std::strchr("nct", c) != nullptr ? kExitBadArguments
                                                    : CommonOption(c, kProgram, usage, json, argv);
        }
    }
    const Printer out(kProgram, options.hex != 0, options.json != 0);
    const int files = argc - optind;
    if (options.decode == 0 && options.scan == 0) {
        return files > 0 ? out.Failure("arguments",
                                       std::string("unknown argument \"") + argv[optind] +
                                           "\" (see --help)",
                                       kExitBadArguments)
                         : RunExchange(options, out);
    }
    if (options.exchangeOnly || options.network >= 0 || options.hex != 0 || files > 1 ||
        options.decode == options.scan) {
        return out.Failure("arguments",
                           "--decode or --scan takes one FILE at most and no option but --json",
                           kExitBadArguments);
    }
    return RunDecode(kProgram, files == 1 ? argv[optind] : "", options.json != 0,
                     options.scan != 0);
}
