#include "cli/json_writer.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace hgt::cli {

namespace {

// The length of the valid UTF-8 sequence at the start of `text`, or 0 when it is not one.
std::size_t utf8SequenceLength(std::string_view text)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    char32_t minimum = 0;
    char32_t value = 0;
    if (lead < 0x80)
        return 1;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        minimum = 0x80;
        value = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        minimum = 0x800;
        value = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        minimum = 0x10000;
        value = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() < length)
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(k) & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (byte(k) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if (value < minimum || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF)
        return 0;
    return length;
}

} // namespace

std::string JsonString(std::string_view text)
{
    std::string out = "\"";
    out.reserve(text.size() + 2);
    while (!text.empty()) {
        const unsigned char c = static_cast<unsigned char>(text[0]);
        const std::size_t length = utf8SequenceLength(text);
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

JsonWriter& JsonWriter::add(std::string_view name, const JsonWriter& object)
{
    key(name);
    m_body += object.str();
    return *this;
}

} // namespace hgt::cli
