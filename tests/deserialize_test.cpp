// DeSerialize over our stand-in's encoding: what it refuses, logs or throws.
#include "LogCapture.h"
#include "LxIpcMsgBuffer.h"
#include "LxTarvexDetectedMacMsg.h"

#include <gtest/gtest.h>
#include <memory>
#include <tuple>

namespace {

using Bytes = std::vector<unsigned char>;
using Image = std::bitset<128>;

// What DeSerialize makes of the `size` bytes at `frame`: "throws", "null" or "NETWORK IMAGE"
// (IMAGE "-" or its text), then "; severity source format; text" for each line logged.
std::string Outcome(const unsigned char* frame, size_t size) {
    ClearLogs();
    std::string outcome = "throws";
    try {
        const std::unique_ptr<LxTarvexDetectedMacMsg> message(
            LxTarvexDetectedMacMsg::DeSerialize(frame, static_cast<int>(size)));
        const Image* image = message != nullptr ? message->GetActiveMacImage() : nullptr;
        outcome = message == nullptr ? "null"
                                     : std::to_string(message->GetNetworkNumber()) + " " +
                                           (image != nullptr ? image->to_string() : "-");
    } catch (const std::invalid_argument&) {
    }
    for (const LogLine& l : CapturedLogs()) {
        outcome +=
            "; " + std::to_string(l.severity) + " " + l.source + " " + l.format + "; " + l.text;
    }
    return outcome;
}

Bytes Frame(const LxTarvexDetectedMacMsg& message) {
    const std::unique_ptr<LxIpcMsgBuffer> buffer(message.Serialize());
    return Bytes(buffer->GetBuf(), buffer->GetBuf() + buffer->GetLength());
}

} // namespace

// Edits of the frame of network 0x1234 with every bit set: text at 21..148, NUL at 149.
TEST(FrameDeSerialize, RejectsLogsAndThrowsAsDocumented) {
    const std::string log = "; 3 LxTarvexDetectedMacMsg %s", ones = "4660 " + std::string(128, '1'),
                      invalid = "4660 -" + log + " Invalid string parameter in msg; DeSerialize" +
                                " Invalid string parameter in msg";
    EXPECT_EQ(Outcome(nullptr, 100),
              "null" + log + ": called with NULL pointer; DeSerialize: called with NULL pointer");
    const std::tuple<const char*, void (*)(Bytes&), std::string> cases[] = {
        {"type 3", [](Bytes& f) { f[12] = 3; }, "null"},
        {"type 0x01000002", [](Bytes& f) { f[9] = 1; }, "null"},
        {"network high bits", [](Bytes& f) { f[13] = 0xAB, f[14] = 0xCD; }, ones},
        {"markers, length, lead", [](Bytes& f) { f[0] = f[5] = f[8] = f[153] = 9; }, ones},
        {"no NUL", [](Bytes& f) { f[149] = '1'; }, invalid},
        {"negative length", [](Bytes& f) { f[17] = 0xFF; }, invalid},
        {"130 characters", [](Bytes& f) { f[20] += 2, f.insert(f.end() - 5, 2, '0'); }, ones},
        {"127 characters", [](Bytes& f) { f[20] -= 1, f.erase(f.end() - 6); }, "throws"},
        {"bad character", [](Bytes& f) { f[100] = '2'; }, "throws"},
        {"empty text", [](Bytes& f) { f[20] = 0, f.erase(f.begin() + 21, f.end() - 5); }, "4660 -"},
    };
    const Bytes full = Frame(LxTarvexDetectedMacMsg(0x1234, new Image(Image().set())));
    for (const auto& [name, edit, outcome] : cases) {
        Bytes frame = full;
        edit(frame);
        EXPECT_EQ(Outcome(frame.data(), frame.size()), outcome) << name;
    }
}
