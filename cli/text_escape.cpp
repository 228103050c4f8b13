#include "cli/text_escape.h"

#include <cstdio>

namespace hgt::cli {

namespace {

// On Windows the backslash separates a path's folders and no name holds one or a control
// character: "C:\Daten\neu" is left as it is there.
#ifdef _WIN32
constexpr bool kEscapeBackslash = false;
#else
constexpr bool kEscapeBackslash = true;
#endif

} // namespace

std::size_t Utf8SequenceLength(std::string_view text)
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

bool IsUtf8(std::string_view text)
{
    while (!text.empty()) {
        const std::size_t length = Utf8SequenceLength(text);
        if (length == 0)
            return false;
        text.remove_prefix(length);
    }
    return true;
}

std::string Printable(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    const auto octal = [&out](unsigned char byte) {
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\%03o", byte);
        out += escaped;
    };
    while (!text.empty()) {
        const auto c = static_cast<unsigned char>(text[0]);
        const std::size_t length = Utf8SequenceLength(text);
        // C1 controls (U+0080 to U+009F) are terminal commands too.
        const bool c1 = length == 2 && c == 0xC2 && static_cast<unsigned char>(text[1]) < 0xA0;
        if (length == 0 || c1) {
            for (std::size_t k = 0; k < (c1 ? 2 : 1); ++k)
                octal(static_cast<unsigned char>(text[k]));
            text.remove_prefix(c1 ? 2 : 1);
            continue;
        }
        switch (c) {
        case '\\':
            out += kEscapeBackslash ? "\\\\" : "\\";
            break;
        case '\a':
            out += "\\a";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\v':
            out += "\\v";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            if (c < 0x20 || c == 0x7F)
                octal(c);
            else
                out.append(text.substr(0, length));
        }
        text.remove_prefix(length);
    }
    return out;
}

std::string HexBytes(std::string_view text)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() * 2);
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        out += kDigits[c >> 4];
        out += kDigits[c & 0x0F];
    }
    return out;
}

} // namespace hgt::cli
