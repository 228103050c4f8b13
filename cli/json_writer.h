#pragma once

// One JSON object on one line, built field by field in the order given.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace hgt::cli {

class JsonWriter {
public:
    JsonWriter& add(std::string_view key, std::string_view value);
    JsonWriter& add(std::string_view key, const char* value) { return add(key, std::string_view(value)); }
    JsonWriter& add(std::string_view key, std::int64_t value);
    JsonWriter& add(std::string_view key, int value) { return add(key, static_cast<std::int64_t>(value)); }
    JsonWriter& add(std::string_view key, std::size_t value) { return add(key, static_cast<std::int64_t>(value)); }
    JsonWriter& add(std::string_view key, bool value);
    // Written with `decimals` places after the point; null when not finite.
    JsonWriter& add(std::string_view key, double value, int decimals);
    JsonWriter& add(std::string_view key, std::optional<std::int64_t> value);
    JsonWriter& add(std::string_view key, std::optional<std::int16_t> value)
    {
        return add(key, value ? std::optional<std::int64_t>(*value) : std::nullopt);
    }
    JsonWriter& addNull(std::string_view key);
    // A file's path; one that is not UTF-8 also as its bytes in hex under "<key>_bytes", so that a
    // script can still find the file.
    JsonWriter& addPath(std::string_view key, std::string_view path);
    JsonWriter& add(std::string_view key, std::span<const std::int64_t> values); // an array of numbers
    JsonWriter& add(std::string_view key, std::span<const std::string> values);  // an array of strings
    JsonWriter& add(std::string_view key, const JsonWriter& object);             // a nested object
    // An array of objects, null where one is nullopt.
    JsonWriter& add(std::string_view key, std::span<const std::optional<JsonWriter>> objects);

    // The object so far, closed: {"key":value,…}
    std::string str() const { return m_body + "}"; }

private:
    void key(std::string_view name);

    std::string m_body = "{";
};

// A JSON string literal with its quotes. Bytes that are not valid UTF-8 (file names may hold any
// byte) become U+FFFD, so the output is always valid JSON.
std::string JsonString(std::string_view text);

} // namespace hgt::cli
