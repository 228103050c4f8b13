#include "cli/json_writer.h"

#include "cli/text_escape.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace hgt::cli {

std::string JsonString(std::string_view text)
{
    std::string out = "\"";
    out.reserve(text.size() + 2);
    while (!text.empty()) {
        const unsigned char c = static_cast<unsigned char>(text[0]);
        const std::size_t length = Utf8SequenceLength(text);
        if (length == 0) {
            out += "\\ufffd";
            text.remove_prefix(1);
            continue;
        }
        if (length > 1) {
            out += text.substr(0, length);
        } else if (c == '"') {
            out += "\\\"";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
        text.remove_prefix(length);
    }
    out += '"';
    return out;
}

void JsonWriter::key(std::string_view name)
{
    if (m_body.size() > 1)
        m_body += ',';
    m_body += JsonString(name);
    m_body += ':';
}

JsonWriter& JsonWriter::add(std::string_view name, std::string_view value)
{
    key(name);
    m_body += JsonString(value);
    return *this;
}

JsonWriter& JsonWriter::add(std::string_view name, std::int64_t value)
{
    key(name);
    m_body += std::to_string(value);
    return *this;
}

JsonWriter& JsonWriter::add(std::string_view name, bool value)
{
    key(name);
    m_body += value ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::add(std::string_view name, double value, int decimals)
{
    if (!std::isfinite(value))
        return addNull(name);
    key(name);
    // to_chars, unlike printf, writes a point whatever the locale says.
    char text[400];
    const auto written = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    m_body.append(text, written.ptr);
    return *this;
}

JsonWriter& JsonWriter::add(std::string_view name, std::optional<std::int64_t> value)
{
    return value ? add(name, *value) : addNull(name);
}

JsonWriter& JsonWriter::addPath(std::string_view key, std::string_view path)
{
    add(key, path);
    if (!IsUtf8(path))
        add(std::string(key) + "_bytes", HexBytes(path));
    return *this;
}

JsonWriter& JsonWriter::addNull(std::string_view name)
{
    key(name);
    m_body += "null";
    return *this;
}

JsonWriter& JsonWriter::add(std::string_view name, std::span<const std::int64_t> values)
{
    key(name);
    m_body += '[';
    for (std::size_t k = 0; k < values.size(); ++k) {
        if (k > 0)
            m_body += ',';
        m_body += std::to_string(values[k]);
    }
    m_body += ']';
    return *this;
}

JsonWriter& JsonWriter::add(std::string_view name, std::span<const std::string> values)
{
    key(name);
    m_body += '[';
    for (std::size_t k = 0; k < values.size(); ++k) {
        if (k > 0)
            m_body += ',';
        m_body += JsonString(values[k]);
    }
    m_body += ']';
    return *this;
}

JsonWriter& JsonWriter::add(std::string_view name, const JsonWriter& object)
{
    key(name);
    m_body += object.str();
    return *this;
}

JsonWriter& JsonWriter::add(std::string_view name, std::span<const std::optional<JsonWriter>> objects)
{
    key(name);
    m_body += '[';
    for (std::size_t k = 0; k < objects.size(); ++k) {
        if (k > 0)
            m_body += ',';
        m_body += objects[k] ? objects[k]->str() : "null";
    }
    m_body += ']';
    return *this;
}

} // namespace hgt::cli
