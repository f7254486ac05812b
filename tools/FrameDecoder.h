// --decode: checks each frame of a byte stream as an endpoint would and prints a verdict.
#ifndef ZAM_TOOLS_FRAME_DECODER_H
#define ZAM_TOOLS_FRAME_DECODER_H

#include "FrameVerdict.h"

#include <string>
#include <vector>

namespace zam::tools {

// One verdict for each frame in `bytes` and for each run of bytes that does not begin with a
// start marker. Markers and the length field get the server reader's checks (start marker,
// length 1..180, payload, end marker); DeSerialize then gives the verdict on the rest. After
// a wrong length or end marker the search for the next start marker goes on byte by byte
// from the byte after the length field, so a frame that follows a cut one is still found.
std::vector<FrameVerdict> DecodeFrames(const std::vector<unsigned char>& bytes);

// Reads `path` ("" or "-": standard input), prints one line per verdict (text or JSON) and
// returns the exit status: 0 every frame passed, 1 something failed, 2 unreadable input.
int RunDecode(const char* program, const std::string& path, bool json);

} // namespace zam::tools

#endif
