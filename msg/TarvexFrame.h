// The frame that carries one message, the same in both directions:
//
//   offset  size  field
//   0       4     start marker 0xBEAD
//   4       4     payload length L = 9 + S (offset 8 to the end of the string parameter)
//   8       1     lead byte 1
//   9       4     message type 2 (detected-MAC report)
//   13      4     network number 0..65535
//   17      S     image text as a string parameter: 128 '0'/'1' characters, or ""
//   17 + S  4     end marker 0xBADE
//
// Integers take 4 bytes each and are read at any alignment.
#ifndef ZAM_TARVEX_FRAME_H
#define ZAM_TARVEX_FRAME_H

namespace zam::frame {

constexpr int StartMarker = 0xBEAD;
constexpr int EndMarker = 0xBADE;
constexpr unsigned char LeadByte = 1;
constexpr int DetectedMacMsgType = 2;

constexpr int WordSize = 4;
constexpr int LengthOffset = 4;
constexpr int HeaderSize = 8; // start marker and payload length
constexpr int TypeOffset = 9;
constexpr int NetworkOffset = 13;
constexpr int ImageOffset = 17;
constexpr int Overhead = HeaderSize + WordSize; // frame length - payload length

// Largest frame either endpoint takes in, and so the largest payload length.
constexpr int MaxFrameSize = 192;
constexpr int MaxPayloadLength = MaxFrameSize - Overhead;

constexpr int ImageBits = 128;

} // namespace zam::frame

#endif
