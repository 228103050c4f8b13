#pragma once

// One error style for every layer: a result carries either a value or an Error with a kind (for
// callers and tests to branch on) and a German message that names the file and the reason.

#include <expected>
#include <string>
#include <utility>

namespace hgt {

enum class ErrorKind {
    NotFound,      // a file or folder that should be there is not
    NotATile,      // a file of the wrong size, or not a regular file
    SameFile,      // a secondary or comparison tile that is the primary itself
    Ambiguous,     // several files match a tile's name ignoring letter case
    Permission,    // the system refused access
    NoSpace,       // the disk or a quota is full
    Io,            // any other failure of the system
    Internal,      // an exception inside the engine
    OutputIsInput, // an output would replace an input file, or go into a source folder
    OutputClash,   // two tiles of one batch would write the same output
};

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
