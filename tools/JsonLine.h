// One JSON object written as one line, built by hand: the programs print only numbers,
// booleans, lists of numbers, their own fixed words and their own messages, so a few lines
// of escaping do what a JSON library would.
#ifndef ZAM_TOOLS_JSON_LINE_H
#define ZAM_TOOLS_JSON_LINE_H

#include <string>
#include <vector>

namespace zam::tools {

class JsonLine {
public:
    // Members in the order added; keys are the programs' own (never escaped).
    JsonLine& Number(const char* key, long long value);
    JsonLine& Text(const char* key, const std::string& value);
    JsonLine& Bool(const char* key, bool value);
    JsonLine& Numbers(const char* key, const std::vector<long long>& values);

    // "{...}" without a newline.
    std::string Str() const;
    // The object and a newline on standard output, flushed.
    void Print() const;

private:
    void Key(const char* key);

    std::string m_members;
};

// `text` as a JSON string with its quotes: '"', '\\' and control characters escaped, and
// bytes outside ASCII as \u00XX so that any input gives valid JSON.
std::string JsonString(const std::string& text);

} // namespace zam::tools

#endif
