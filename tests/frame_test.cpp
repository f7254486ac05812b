// Frame tests: golden bytes, round trips, and what DeSerialize refuses, logs or throws.
#include "LogCapture.h"
#include "LxIpcMsgBuffer.h"
#include "LxTarvexDetectedMacMsg.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <sstream>
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

// The frame of `message`, checked: at most 192 bytes, length field = size - 12, the image
// text is bitset::to_string(), and DeSerialize gives the message back.
Bytes Frame(const LxTarvexDetectedMacMsg& message) {
    const std::unique_ptr<LxIpcMsgBuffer> buffer(message.Serialize());
    const Bytes frame(buffer->GetBuf(), buffer->GetBuf() + buffer->GetLength());
    const std::string bytes(frame.begin(), frame.end()); // substr throws when it is too short
    const Image* image = message.GetActiveMacImage();
    const std::string text = image != nullptr ? image->to_string() : "-";
    EXPECT_LE(frame.size(), 192u);
    EXPECT_EQ(bytes.substr(4, 4), std::string(3, '\0') + static_cast<char>(frame.size() - 12));
    EXPECT_EQ(image != nullptr ? bytes.substr(21, 128) : "-", text);
    EXPECT_EQ(Outcome(frame.data(), frame.size()),
              std::to_string(message.GetNetworkNumber()) + " " + text);
    return frame;
}

} // namespace

// tests/data/frames.hex: "name network image hex-bytes..." a line, image "-" or 32 hex
// digits (bit 127 first), '#' for comments.
TEST(FrameGolden, MatchesTheVectorsByteForByteAndSurvivesTruncation) {
    const char* dir = std::getenv("ZAM_TEST_DATA");
    std::ifstream in(std::string(dir != nullptr ? dir : "tests/data") + "/frames.hex");
    int vectors = 0;
    for (std::string line, name, image, hex; std::getline(in, line);) {
        std::istringstream fields(line);
        unsigned short network = 0;
        Bytes golden;
        for (fields >> name >> network >> image; fields >> hex;) {
            for (size_t i = 0; i < hex.size(); i += 2) {
                golden.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), 0, 16)));
            }
        }
        if (golden.empty()) {
            continue; // a comment
        }
        SCOPED_TRACE(name);
        ++vectors;
        Image* bits = image == "-"
                          ? nullptr
                          : new Image(Image(std::stoull(image.substr(0, 16), 0, 16)) << 64 |
                                      Image(std::stoull(image.substr(16), 0, 16)));
        ASSERT_EQ(Frame(LxTarvexDetectedMacMsg(network, bits)), golden);
        // Each prefix in a heap block of exactly its size: an over-read is a memory error.
        for (size_t n = 0; n < golden.size(); ++n) {
            const std::unique_ptr<unsigned char[]> bytes(new unsigned char[n]);
            std::copy_n(golden.begin(), n, bytes.get());
            const std::string got = Outcome(bytes.get(), n);
            EXPECT_TRUE(got == "null" || got.rfind(std::to_string(network) + " ", 0) == 0) << got;
        }
    }
    EXPECT_EQ(vectors, 6);
}

TEST(FrameRoundTrip, RandomMessagesComeBackEqual) {
    std::mt19937 random(20240611);
    for (int i = 0; i < 2000; ++i) {
        Image* image = i % 4 == 0 ? nullptr : new Image;
        for (int word = 0; image != nullptr && word < 4; ++word) {
            *image = (*image << 32) | Image(random());
        }
        Frame(LxTarvexDetectedMacMsg(static_cast<unsigned short>(random()), image));
    }
}

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
