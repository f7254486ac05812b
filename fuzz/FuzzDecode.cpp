// Fuzz target: --decode against the server's own reader. The input goes into the FIFO of a
// real LxTarvexMuxMsgServer, made anew for each input, which reads until the FIFO is empty;
// the frames --decode calls ok must be the messages the server returns, in order, and its
// image-text verdicts the frames whose DeSerialize raised.
#include "FrameDecode.h"
#include "FuzzCheck.h"
#include "LogCapture.h"
#include "LxTarvexMuxMsgServer.h"
#include "TempFifoDir.h"

#include <cstdint>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr size_t kMaxInput = 16384; // well within what the FIFO holds

// "network:macs" per message, "raised" per frame whose image text DeSerialize refused.
std::string Outcome(const LxTarvexDetectedMacMsg* message) {
    const std::bitset<128>* image = message->GetActiveMacImage();
    return std::to_string(message->GetNetworkNumber()) + ":" +
           (image != nullptr ? image->to_string() : "none") + " ";
}

std::string ServerOutcomes(const uint8_t* data, size_t size) {
    static const TempFifoDir dir;
    std::unique_ptr<LxTarvexMuxMsgServer> server(LxTarvexMuxMsgServer::GetInstance());
    ZAM_FUZZ_CHECK(server->InitTarvexMuxMsgServer());
    const int fifo = open(dir.PathOf("TarMuxMsgServerIpc").c_str(), O_WRONLY | O_NONBLOCK);
    ZAM_FUZZ_CHECK(fifo >= 0 && write(fifo, data, size) == static_cast<ssize_t>(size));
    std::string out;
    for (int waiting = static_cast<int>(size); waiting > 0; ioctl(fifo, FIONREAD, &waiting)) {
        try {
            const std::unique_ptr<LxTarvexDetectedMacMsg> message(server->ReadFromClient());
            out += message != nullptr ? Outcome(message.get()) : "";
        } catch (const std::invalid_argument&) {
            out += "raised ";
        }
    }
    close(fifo);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > kMaxInput) {
        return 0;
    }
    std::string decoded;
    for (const auto& verdict :
         zam::tools::DecodeFrames(zam::tools::Bytes(data, data + size), false)) {
        const std::string check = verdict.check;
        decoded += verdict.message != nullptr ? Outcome(verdict.message.get())
                   : check == "image-text"    ? "raised "
                                              : "";
    }
    ZAM_FUZZ_CHECK(decoded == ServerOutcomes(data, size));
    ClearLogs(); // the capture keeps every line: keep memory flat over millions of runs
    return 0;
}
