// Frames in our stand-in's encoding, built field by field for the tests: 4-byte big-endian
// integers, the image text as its length, its characters and a NUL.
#ifndef ZAM_TEST_FRAME_BYTES_H
#define ZAM_TEST_FRAME_BYTES_H

#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

inline Bytes Word(int value) {
    const auto bits = static_cast<unsigned int>(value);
    return {static_cast<unsigned char>(bits >> 24), static_cast<unsigned char>(bits >> 16),
            static_cast<unsigned char>(bits >> 8), static_cast<unsigned char>(bits)};
}

// Start marker, length, lead byte 1, type 2, network, image text, end marker.
inline Bytes FrameBytes(int network, const std::string& image = std::string(128, '0')) {
    const int size = static_cast<int>(image.size());
    Bytes frame;
    for (const Bytes& part : {Word(0xBEAD), Word(size + 14), Bytes{1}, Word(2), Word(network),
                              Word(size), Bytes(image.begin(), image.end()), Bytes{0},
                              Word(0xBADE)}) {
        frame.insert(frame.end(), part.begin(), part.end());
    }
    return frame;
}

#endif
