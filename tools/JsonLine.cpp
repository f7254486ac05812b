// JSON lines for --json.
#include "JsonLine.h"

#include <cstdio>

namespace zam::tools {

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte > 0x7E) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(byte));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

void JsonLine::Key(const char* key) {
    if (!m_members.empty()) {
        m_members += ',';
    }
    m_members += '"';
    m_members += key;
    m_members += "\":";
}

JsonLine& JsonLine::Number(const char* key, long long value) {
    Key(key);
    m_members += std::to_string(value);
    return *this;
}

JsonLine& JsonLine::Text(const char* key, const std::string& value) {
    Key(key);
    m_members += JsonString(value);
    return *this;
}

JsonLine& JsonLine::Bool(const char* key, bool value) {
    Key(key);
    m_members += value ? "true" : "false";
    return *this;
}

JsonLine& JsonLine::Numbers(const char* key, const std::vector<long long>& values) {
    Key(key);
    m_members += '[';
    for (std::size_t i = 0; i < values.size(); ++i) {
        m_members += (i == 0 ? "" : ",") + std::to_string(values[i]);
    }
    m_members += ']';
    return *this;
}

std::string JsonLine::Str() const {
    return "{" + m_members + "}";
}

void JsonLine::Print() const {
    std::printf("%s\n", Str().c_str());
    std::fflush(stdout);
}

} // namespace zam::tools
