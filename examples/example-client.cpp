// Example client: sends one report (the network number given, MACs 0-3 and 127) and prints
// the reply. Exits 0 with the reply, 1 when the request cannot be sent, 3 without a reply.
#include <LxTarvexDetectedMacMsg.h>
#include <LxTarvexMuxMsgClient.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>

int main(int argc, char** argv) {
    const long network = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 300;
    if (network < 0 || network > 65535) {
        std::fprintf(stderr, "usage: example-client [NETWORK 0-65535]\n");
        return 2;
    }
    const std::unique_ptr<LxTarvexMuxMsgClient> client(LxTarvexMuxMsgClient::GetInstance());
    if (!client->InitTarvexMuxIpc()) { // the reply FIFO must be open before the request goes
        std::fprintf(stderr, "example-client: cannot open the reply FIFO\n");
        return 1;
    }
    auto* image = new std::bitset<128>(0xF); // MACs 0-3; the message owns the image
    image->set(127);
    LxTarvexDetectedMacMsg request(static_cast<unsigned short>(network), image);
    if (const int status = client->SendRequest(&request); status != 0) {
        std::fprintf(stderr, "example-client: not sent, status %d (is a server running?)\n", status);
        return 1;
    }
    std::unique_ptr<LxTarvexDetectedMacMsg> reply;
    try {
        reply.reset(client->ReadResponse()); // waits s_readTimeout seconds for each part
    } catch (const std::invalid_argument&) {
        std::fprintf(stderr, "example-client: the reply carries a malformed MAC image\n");
        return 3;
    }
    if (reply == nullptr) {
        std::fprintf(stderr, "example-client: no reply within %d s\n",
                     LxTarvexMuxMsgClient::s_readTimeout);
        return 3;
    }
    const std::bitset<128>* bits = reply->GetActiveMacImage();
    std::printf("reply: network %u, %zu MACs\n", reply->GetNetworkNumber(),
                bits != nullptr ? bits->count() : 0);
    return 0;
}
