// The golden frames of the IPC library the tests run over (ZAM_TEST_FRAMES: ours in
// tests/data/frames.hex, the test platform's in tests/platform/frames.hex), written from the
// encoding's description and not by the library. A line each: name, network, image ("-" or
// 32 hex digits, bit 127 first), and the frame's bytes in hex; '#' starts a comment.
#ifndef ZAM_TEST_GOLDEN_FRAMES_H
#define ZAM_TEST_GOLDEN_FRAMES_H

#include <bitset>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct GoldenFrame {
    std::string name;
    unsigned short network = 0;
    std::string image;
    std::vector<unsigned char> bytes;

    // A new image for the report, or null for none.
    std::bitset<128>* NewImage() const {
        if (image == "-") {
            return nullptr;
        }
        return new std::bitset<128>(std::bitset<128>(std::stoull(image.substr(0, 16), nullptr, 16)) << 64 |
                                    std::bitset<128>(std::stoull(image.substr(16), nullptr, 16)));
    }
};

inline std::vector<GoldenFrame> LoadGoldenFrames() {
    const char* path = std::getenv("ZAM_TEST_FRAMES");
    std::ifstream in(path != nullptr ? path : "");
    std::vector<GoldenFrame> frames;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line.substr(0, line.find('#')));
        GoldenFrame golden;
        fields >> golden.name >> golden.network >> golden.image;
        for (std::string hex; fields >> hex;) {
            for (size_t i = 0; i + 1 < hex.size(); i += 2) {
                golden.bytes.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
            }
        }
        if (!golden.bytes.empty()) {
            frames.push_back(golden);
        }
    }
    return frames;
}

#endif
