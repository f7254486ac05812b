// What --decode finds at one place of its input: a frame that passes every check, or the
// first check a frame (or the bytes before a start marker) fails.
#ifndef ZAM_TOOLS_FRAME_VERDICT_H
#define ZAM_TOOLS_FRAME_VERDICT_H

#include <bitset>
#include <cstddef>
#include <memory>
#include <string>

namespace zam::tools {

// The checks in the order an endpoint makes them.
enum class FrameCheck {
    Ok,          // passes every check
    StartMarker, // bytes that do not begin with a start marker, skipped up to the next one
    Length,      // length field outside 1..180
    CutShort,    // the input ends within the frame, or its fields run past the frame's end
    EndMarker,   // wrong end marker after the payload
    Type,        // message type other than 2
    StringParam, // invalid string parameter: DeSerialize drops the image
    ImageText,   // image text not 128 '0'/'1' characters
};

// The fixed word for a check: "ok", "start-marker", "length", "cut-short", "end-marker",
// "type", "string-param", "image-text".
const char* CheckName(FrameCheck check);

struct FrameVerdict {
    FrameCheck check = FrameCheck::Ok;
    std::size_t offset = 0; // where the frame (or the skipped bytes) begins
    std::size_t at = 0;     // where the failing field begins (offset for Ok)
    std::size_t extent = 0; // bytes the frame takes, or bytes skipped
    std::string detail;     // what failed, as one line (empty for Ok)
    // The fields of a frame, valid for Ok.
    int startMarker = 0;
    int length = 0;
    int leadByte = 0;
    int type = 0;
    int network = 0;
    std::unique_ptr<std::bitset<128>> image; // null: no image
    int endMarker = 0;
};

} // namespace zam::tools

#endif
