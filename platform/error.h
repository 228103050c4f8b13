#pragma once

// One error style for every layer: a result carries either a value or an Error with a kind (for
// callers and tests to branch on) and a German message that names the file and the reason.

#include <cstdint>
#include <expected>
#include <string>
#include <utility>

namespace hgt {

// The kinds named here are what the system said. A layer above names kinds of its own with
// KindAbove (tiles/tile_error.h), so that this layer knows no word of the layers above it.
enum class ErrorKind : std::uint8_t {
    NotFound,   // a file or folder that should be there is not
    NotAFile,   // a folder, a pipe or a device where a regular file is wanted
    BadContent, // a file that ends before the bytes asked for, or an archive that is corrupt or lacks them
    Permission, // the system refused access
    NoSpace,    // the disk or a quota is full
    Io,         // any other failure of the system
    Internal,   // an exception inside the program
};

// The n-th kind of error named by a layer above this one.
constexpr ErrorKind KindAbove(std::uint8_t n)
{
    return static_cast<ErrorKind>(64 + n);
}

struct Error {
    ErrorKind kind = ErrorKind::Io;
    std::string message;
};

template <class T = void>
class [[nodiscard]] Result : public std::expected<T, Error> {
public:
    using std::expected<T, Error>::expected;
    Result(Error error) : std::expected<T, Error>(std::unexpect, std::move(error)) {}
};

// The error of the exception being handled, for the catch-all at a layer's boundary; call it only
// inside a catch block. "Interner Fehler bei <subject>: <what>", or without a subject
// "Interner Fehler: <what>".
Error CaughtError(const std::string& subject = {});

// The German words for the system's common reasons; the system's own text for the rest.
std::string SystemReason(int error);

// The kind that fits an errno value.
ErrorKind KindOf(int error);

// "<subject><what>: <reason>", with the kind taken from the errno value.
Error SystemError(const std::string& subject, const std::string& what, int error);

} // namespace hgt
