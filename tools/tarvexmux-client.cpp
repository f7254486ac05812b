// tarvexmux-client: sends detected-MAC reports to TarMuxMsgServerIpc and prints each reply.
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsgClient.h"
#include "TarvexFifos.h"
#include "ToolSupport.h"

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace {

using namespace zam::tools;

constexpr const char* kProgram = "tarvexmux-client";
constexpr const char* kUsage =
    "usage: tarvexmux-client --network N [--macs LIST] [--count N] [--timeout S]\n"
    "Sends a report to TarMuxMsgServerIpc (in $ZAMIPC_FIFO_DIR, default /tmp) and prints\n"
    "the reply.\n"
    "  --network N  network number, 0-65535\n"
    "  --macs LIST  active MACs 0-127, e.g. 0-3,17,127; \"none\" (default): no image\n"
    "  --count N    send the report N times, each followed by its reply; default 1\n"
    "  --timeout S  seconds to wait for each part of a reply; default 2\n"
    "Exits 0 when every reply arrived, 1 on a send failure or a missing reply, 2 on bad\n"
    "arguments.\n";

// Sends the report `count` times and prints each reply; false after a printed error.
bool Exchange(LxTarvexMuxMsgClient& client, unsigned short network, const std::bitset<128>* image,
              long count, long timeout) {
    for (long i = 0; i < count; ++i) {
        LxTarvexDetectedMacMsg request(network,
                                       image != nullptr ? new std::bitset<128>(*image) : nullptr);
        const int status = client.SendRequest(&request);
        if (status != 0) {
            PrintError(kProgram,
                       DescribeSendFailure(status, "server", zam::endpoint::kServerFifoName));
            return false;
        }
        std::unique_ptr<LxTarvexDetectedMacMsg> reply;
        try {
            reply.reset(client.ReadResponse());
        } catch (const std::invalid_argument&) {
            PrintError(kProgram, "the reply carries a malformed MAC image");
            return false;
        }
        if (reply == nullptr) {
            PrintError(kProgram, "no reply on " + std::string(zam::endpoint::kClientFifoName) +
                                     " within " + std::to_string(timeout) + " s");
            return false;
        }
        std::printf("reply: %s\n", FormatReport(*reply).c_str());
        std::fflush(stdout);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    long network = 0;
    bool networkGiven = false;
    std::string macs = "none";
    long count = 1;
    long timeout = LxTarvexMuxMsgClient::s_readTimeout;
    const std::vector<Option> options = {
        {"--network", 0, 65535, &network, nullptr, &networkGiven},
        {"--macs", 0, 0, nullptr, &macs, nullptr},
        {"--count", 1, 1000000000, &count, nullptr, nullptr},
        {"--timeout", 1, 3600, &timeout, nullptr, nullptr},
    };
    std::string error;
    std::unique_ptr<std::bitset<128>> image;
    if (const int status = HandleCommandLine(argc, argv, options, kProgram, kUsage); status >= 0) {
        return status;
    }
    if (!networkGiven) {
        PrintError(kProgram, "--network is required (see --help)");
        return 2;
    }
    if (!ParseMacList(macs, image, error)) {
        PrintError(kProgram, error);
        return 2;
    }

    LxTarvexMuxMsgClient::s_readTimeout = static_cast<int>(timeout);
    LxTarvexMuxMsgClient* client = LxTarvexMuxMsgClient::GetInstance();
    if (!client->InitTarvexMuxIpc()) {
        delete client;
        PrintError(kProgram,
                   std::string("cannot open ") + zam::endpoint::kClientFifoName + " for reading");
        return 1;
    }
    const bool ok =
        Exchange(*client, static_cast<unsigned short>(network), image.get(), count, timeout);
    delete client;
    return ok ? 0 : 1;
}
