// --decode and --scan: what the server's frame reader makes of captured bytes.
#ifndef ZAM_TOOLS_FRAME_DECODE_H
#define ZAM_TOOLS_FRAME_DECODE_H

#include "LxTarvexDetectedMacMsg.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace zam::tools {

using Bytes = std::vector<unsigned char>;

struct FrameVerdict {
    const char* check;  // "ok", "start-marker", "length", "end-marker", "refused",
                        // "image-text", "cut-short"
    std::size_t offset; // where the frame (or the bytes skipped) begins
    std::size_t at;     // where the field that failed begins
    std::string detail; // what failed
    Bytes frame;        // ok: the frame as the reader holds it
    std::unique_ptr<LxTarvexDetectedMacMsg> message; // ok: what DeSerialize made of it
};

// The server reader's steps over `bytes` arriving all at once, a verdict for each frame it
// ends and each run of bytes it skips. With `scan` a start marker is looked for at every
// byte, and after a frame that fails from the byte after its length field on.
std::vector<FrameVerdict> DecodeFrames(const Bytes& bytes, bool scan);

// Reads `path` ("" or "-": standard input) as hex text or raw bytes and prints a verdict a
// line; 0 when all are ok, 1 otherwise, 2 for input that cannot be read.
int RunDecode(const char* program, const std::string& path, bool json, bool scan);

} // namespace zam::tools

#endif
