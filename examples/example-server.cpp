// Example server: answers every detected-MAC report with the same report until SIGINT or
// SIGTERM. Exits 0 when stopped, 1 when its FIFO cannot be opened.
#include <LxTarvexDetectedMacMsg.h>
#include <LxTarvexMuxMsgServer.h>
#include <dlog.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <stdexcept>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void Stop(int) {
    g_stop = 1;
}

} // namespace

int main() {
    struct sigaction action = {};
    action.sa_handler = Stop; // no SA_RESTART needed: each ReadFromClient waits at most 20 ms
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    // The endpoint is a process-wide singleton; deleting it closes its FIFO.
    const std::unique_ptr<LxTarvexMuxMsgServer> server(LxTarvexMuxMsgServer::GetInstance());
    if (!server->InitTarvexMuxMsgServer()) { // the library has logged the status
        std::fprintf(stderr, "example-server: cannot open the server FIFO\n");
        return 1;
    }
    std::fprintf(stderr, "example-server: ready\n");
    while (g_stop == 0) {
        std::unique_ptr<LxTarvexDetectedMacMsg> request;
        try {
            request.reset(server->ReadFromClient()); // null until a frame is complete
        } catch (const std::invalid_argument&) {     // a peer sent a malformed image text
            __dlog_printf(3, "example-server", "%s: dropped a malformed request", "main");
            continue;
        }
        if (request == nullptr) {
            continue;
        }
        const std::bitset<128>* image = request->GetActiveMacImage();
        std::printf("request: network %u, %zu MACs\n", request->GetNetworkNumber(),
                    image != nullptr ? image->count() : 0);
        std::fflush(stdout);
        if (const int status = server->SendToClient(request.get()); status != 0) {
            __dlog_printf(3, "example-server", "%s: reply not sent, status %d", "main", status);
        }
    }
    return 0;
}
