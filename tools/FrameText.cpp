// Hex text of frames.
#include "FrameText.h"

#include "TarvexFrame.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace zam::tools {
namespace {

using namespace zam::frame;

constexpr std::size_t kMaxInput = 16u << 20;
constexpr const char* kHexDigits = "0123456789abcdef";
constexpr const char* kBlanks = " \t\r";
constexpr const char* kHexLabelEnd = "hex";

// Where the frame's fields begin after the first: every integer field, the string
// parameter and, for a frame long enough to hold one, the end marker.
std::vector<int> FieldStarts(int length) {
    std::vector<int> starts = {WordSize, HeaderSize, TypeOffset, NetworkOffset, ImageOffset};
    if (length - WordSize > ImageOffset) {
        starts.push_back(length - WordSize);
    }
    return starts;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// One blank-separated group of hex digit pairs.
bool ParseGroup(const std::string& group, std::vector<unsigned char>& bytes) {
    if (group.size() % 2 != 0) {
        return false;
    }
    for (std::size_t i = 0; i < group.size(); i += 2) {
        const int high = HexValue(group[i]);
        const int low = HexValue(group[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        bytes.push_back(static_cast<unsigned char>(high << 4 | low));
    }
    return true;
}

// The part of a line that holds bytes ("" for a line to skip), comments and labels gone.
std::string DataOfLine(std::string line) {
    line = line.substr(0, line.find('#'));
    const std::string::size_type colon = line.find(':');
    if (colon == std::string::npos) {
        return line;
    }
    std::string label = line.substr(0, colon);
    label.erase(label.find_last_not_of(kBlanks) + 1);
    const std::size_t suffix = std::strlen(kHexLabelEnd);
    const bool hexLabel =
        label.size() >= suffix && label.compare(label.size() - suffix, suffix, kHexLabelEnd) == 0;
    return hexLabel ? line.substr(colon + 1) : std::string();
}

bool ParseLine(const std::string& line, std::vector<unsigned char>& bytes) {
    const std::string data = DataOfLine(line);
    std::string::size_type start = data.find_first_not_of(kBlanks);
    while (start != std::string::npos) {
        const std::string::size_type end = data.find_first_of(kBlanks, start);
        if (!ParseGroup(data.substr(start, end - start), bytes)) {
            return false;
        }
        start = data.find_first_not_of(kBlanks, end);
    }
    return true;
}

bool IsText(const std::string& input) {
    for (const char c : input) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 || byte > 0x7E) && c != '\n' && c != '\t' && c != '\r') {
            return false;
        }
    }
    return true;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// The whole input, at most kMaxInput bytes; false with `error` set.
bool ReadAll(const std::string& path, std::string& input, std::string& error) {
    const bool standardInput = path.empty() || path == "-";
    const std::string name = standardInput ? "standard input" : path;
    std::unique_ptr<std::FILE, FileCloser> opened;
    if (!standardInput) {
        opened.reset(std::fopen(path.c_str(), "rb"));
        if (opened == nullptr) {
            error = "cannot open " + name + ": " + std::strerror(errno);
            return false;
        }
    }
    std::FILE* file = standardInput ? stdin : opened.get();
    char chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0 && input.size() <= kMaxInput) {
        input.append(chunk, got);
    }
    if (std::ferror(file)) {
        error = "cannot read " + name + ": " + std::strerror(errno);
        return false;
    }
    if (input.size() > kMaxInput) {
        error = name + " is larger than 16 MiB";
        return false;
    }
    return true;
}

} // namespace

std::string FrameHex(const unsigned char* bytes, int length, bool grouped) {
    const std::vector<int> starts = grouped ? FieldStarts(length) : std::vector<int>();
    std::string out;
    std::size_t next = 0;
    for (int i = 0; i < length; ++i) {
        if (next < starts.size() && starts[next] == i) {
            out += ' ';
            ++next;
        }
        out += kHexDigits[bytes[i] >> 4];
        out += kHexDigits[bytes[i] & 0xF];
    }
    return out;
}

bool ParseHexText(const std::string& text, std::vector<unsigned char>& bytes, std::string& error) {
    std::string::size_type start = 0;
    for (int lineNumber = 1; start < text.size(); ++lineNumber) {
        const std::string::size_type end = text.find('\n', start);
        if (!ParseLine(text.substr(start, end - start), bytes)) {
            error = "line " + std::to_string(lineNumber) +
                    ": not hex bytes (pairs of hex digits, '#' comments)";
            return false;
        }
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return true;
}

bool ReadFrameInput(const std::string& path, std::vector<unsigned char>& bytes,
                    std::string& error) {
    std::string input;
    if (!ReadAll(path, input, error)) {
        return false;
    }
    if (!IsText(input)) {
        bytes.assign(input.begin(), input.end());
    } else if (!ParseHexText(input, bytes, error)) {
        return false;
    }
    if (bytes.empty()) {
        error = "no frame bytes in " +
                std::string(path.empty() || path == "-" ? "standard input" : path);
        return false;
    }
    return true;
}

} // namespace zam::tools
