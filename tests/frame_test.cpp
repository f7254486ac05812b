// Frame tests: golden bytes, round trips, and what DeSerialize refuses, logs or throws.
#include "LogCapture.h"
#include "LxIpcMsgBuffer.h"
#include "LxTarvexDetectedMacMsg.h"

#include <cstdlib>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <sstream>

namespace {

using Bytes = std::vector<unsigned char>;
using Image = std::bitset<128>;
using Msg = std::unique_ptr<LxTarvexDetectedMacMsg>;

struct Golden {
    std::string name, image; // image: "-" or 32 hex digits, bit 127 first
    int network = 0;
    Bytes frame;
};

// tests/data/frames.hex: "name network image hex-bytes..." per line, '#' for comments.
std::vector<Golden> LoadGolden() {
    const char* dir = std::getenv("ZAM_TEST_DATA");
    std::ifstream in(std::string(dir != nullptr ? dir : "tests/data") + "/frames.hex");
    std::vector<Golden> all;
    for (std::string line, hex; std::getline(in, line);) {
        std::istringstream fields(line);
        Golden g;
        for (fields >> g.name >> g.network >> g.image; fields >> hex && g.name[0] != '#';) {
            for (size_t i = 0; i < hex.size(); i += 2) {
                g.frame.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), 0, 16)));
            }
        }
        if (!g.frame.empty()) {
            all.push_back(g);
        }
    }
    return all;
}

Bytes Frame(const LxTarvexDetectedMacMsg& message) {
    std::unique_ptr<LxIpcMsgBuffer> buffer(message.Serialize());
    return Bytes(buffer->GetBuf(), buffer->GetBuf() + buffer->GetLength());
}

Msg Parse(const Bytes& frame) {
    return Msg(LxTarvexDetectedMacMsg::DeSerialize(frame.data(), static_cast<int>(frame.size())));
}

void ExpectMessage(const Msg& got, int network, const Image* image) {
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got->GetNetworkNumber(), network);
    ASSERT_EQ(got->GetActiveMacImage() != nullptr, image != nullptr);
    if (image != nullptr) {
        EXPECT_EQ(*got->GetActiveMacImage(), *image);
        EXPECT_NE(got->GetActiveMacImage(), image); // a bitset of its own
    }
}

// The captured log lines as "severity|source|format|text".
std::vector<std::string> Logs() {
    std::vector<std::string> lines;
    for (const LogLine& l : CapturedLogs()) {
        lines.push_back(std::to_string(l.severity) + "|" + l.source + "|" + l.format + "|" +
                        l.text);
    }
    return lines;
}

} // namespace

TEST(FrameGolden, MatchesTheVectorsByteForByteAndSurvivesTruncation) {
    const std::vector<Golden> vectors = LoadGolden();
    ASSERT_EQ(vectors.size(), 6u);
    for (const Golden& g : vectors) {
        SCOPED_TRACE(g.name);
        Image* image = g.image == "-" ? nullptr : new Image;
        for (size_t i = 0; image != nullptr && i < g.image.size(); ++i) {
            *image = (*image << 4) | Image(std::stoul(g.image.substr(i, 1), 0, 16));
        }
        const LxTarvexDetectedMacMsg message(static_cast<unsigned short>(g.network), image);
        EXPECT_EQ(message.GetActiveMacImage(), image); // the very pointer, kept and freed once
        const Bytes frame = Frame(message);
        ASSERT_EQ(frame, g.frame);
        ExpectMessage(Parse(g.frame), g.network, image);
        ASSERT_LE(frame.size(), 192u);
        EXPECT_EQ(Bytes(frame.begin() + 4, frame.begin() + 8),
                  (Bytes{0, 0, 0, static_cast<unsigned char>(frame.size() - 12)}));
        if (image != nullptr) {
            EXPECT_EQ(std::string(frame.begin() + 21, frame.begin() + 149), image->to_string());
        }
        // Each prefix in a heap block of exactly its size: an over-read is a memory error.
        for (size_t n = 0; n < frame.size(); ++n) {
            std::unique_ptr<unsigned char[]> bytes(new unsigned char[n]);
            std::copy(frame.begin(), frame.begin() + static_cast<long>(n), bytes.get());
            const Msg got(LxTarvexDetectedMacMsg::DeSerialize(bytes.get(), static_cast<int>(n)));
            EXPECT_TRUE(got == nullptr || got->GetNetworkNumber() == g.network) << n;
        }
    }
}

TEST(FrameRoundTrip, RandomMessagesComeBackEqual) {
    std::mt19937 random(20240611);
    for (int i = 0; i < 2000; ++i) {
        const auto network = static_cast<unsigned short>(random());
        Image* image = i % 4 == 0 ? nullptr : new Image;
        for (int word = 0; image != nullptr && word < 4; ++word) {
            *image = (*image << 32) | Image(random());
        }
        const LxTarvexDetectedMacMsg message(network, image);
        ExpectMessage(Parse(Frame(message)), network, image);
    }
}

// Edits of the "full" vector: network 0x1234, every bit set, text at 21..148, NUL at 149.
TEST(FrameDeSerialize, RejectsLogsAndThrowsAsDocumented) {
    ClearLogs();
    EXPECT_EQ(LxTarvexDetectedMacMsg::DeSerialize(nullptr, 100), nullptr);
    EXPECT_EQ(Logs(), std::vector<std::string>{"3|LxTarvexDetectedMacMsg|%s: called with NULL "
                                               "pointer|DeSerialize: called with NULL pointer"});
    enum Outcome { Null, NoImage, Invalid, FullImage, Throws }; // Invalid: no image, logged
    const struct {
        const char* name;
        std::function<void(Bytes&)> edit;
        Outcome outcome;
    } cases[] = {
        {"type 3", [](Bytes& f) { f[12] = 3; }, Null},
        {"type 0x01000002", [](Bytes& f) { f[9] = 1; }, Null},
        {"network high bits", [](Bytes& f) { f[13] = 0xAB, f[14] = 0xCD; }, FullImage},
        {"markers, length, lead", [](Bytes& f) { f[0] = f[5] = f[8] = f[153] = 9; }, FullImage},
        {"no NUL", [](Bytes& f) { f[149] = '1'; }, Invalid},
        {"embedded NUL", [](Bytes& f) { f[30] = 0; }, Invalid},
        {"negative length", [](Bytes& f) { f[17] = 0xFF; }, Invalid},
        {"130 characters", [](Bytes& f) { f[20] += 2, f.insert(f.end() - 5, 2, '0'); }, FullImage},
        {"127 characters", [](Bytes& f) { f[20] -= 1, f.erase(f.end() - 6); }, Throws},
        {"bad character", [](Bytes& f) { f[100] = '2'; }, Throws},
        {"empty text", [](Bytes& f) { f[20] = 0, f.erase(f.begin() + 21, f.end() - 5); }, NoImage},
    };
    const Golden full = LoadGolden().at(3);
    ASSERT_EQ(full.name, "full");
    const Image all = Image().set();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes frame = full.frame;
        c.edit(frame);
        ClearLogs();
        if (c.outcome == Throws) {
            EXPECT_THROW(Parse(frame), std::invalid_argument);
        } else if (c.outcome == Null) {
            EXPECT_EQ(Parse(frame), nullptr);
        } else {
            ExpectMessage(Parse(frame), 0x1234, c.outcome == FullImage ? &all : nullptr);
        }
        EXPECT_EQ(Logs(), std::vector<std::string>(c.outcome == Invalid ? 1 : 0,
                                                   "3|LxTarvexDetectedMacMsg|%s Invalid string "
                                                   "parameter in msg|DeSerialize Invalid string "
                                                   "parameter in msg"));
    }
}
