// Frames as hex text: how --hex prints them and how --decode reads them back.
#ifndef ZAM_TOOLS_FRAME_TEXT_H
#define ZAM_TOOLS_FRAME_TEXT_H

#include <string>
#include <vector>

namespace zam::tools {

// The bytes as lowercase hex. `grouped` puts a space between the frame's fields (start
// marker, length, lead byte, type, network, image text's string parameter, end marker).
std::string FrameHex(const unsigned char* bytes, int length, bool grouped);

// Hex text to bytes. Per line: '#' starts a comment; a line with a ':' carries bytes after
// it only when the label before the ':' ends in "hex" (as --hex prints them) and is skipped
// otherwise (the programs' other lines); a line without ':' is all bytes. Bytes are pairs
// of hex digits, in groups of any even length separated by blanks. False with `error` set
// (naming the line) for anything else.
bool ParseHexText(const std::string& text, std::vector<unsigned char>& bytes, std::string& error);

// Reads the frames in `path` ("" or "-": standard input) as bytes: input that is all
// printable ASCII and blanks is hex text (ParseHexText), anything else raw bytes. False with
// `error` set when the file cannot be read, is larger than 16 MiB, holds no bytes, or is
// malformed hex text.
bool ReadFrameInput(const std::string& path, std::vector<unsigned char>& bytes, std::string& error);

} // namespace zam::tools

#endif
