#include "platform/error.h"

#include <cerrno>
#include <cstring>
#include <exception>

namespace hgt {

std::string SystemReason(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return "keine Berechtigung";
    case ENOSPC:
        return "kein Platz mehr auf dem Datenträger";
#ifdef EDQUOT // not among Windows' errno values
    case EDQUOT:
        return "Speicherkontingent erschöpft";
#endif
    case EEXIST:
        return "Datei existiert bereits";
    case EISDIR:
        return "ist ein Ordner";
    case ENOTDIR:
        return "ein Teil des Pfads ist kein Ordner";
    case ENOENT:
        return "Datei oder Ordner nicht gefunden";
    case ENAMETOOLONG:
        return "Name zu lang";
    case EROFS:
        return "Datenträger ist schreibgeschützt";
    case EIO:
        return "Ein-/Ausgabefehler";
    case EFBIG:
        return "Datei zu groß";
    case EMFILE:
    case ENFILE:
        return "zu viele offene Dateien";
    case ENOTEMPTY:
        return "Ordner ist nicht leer";
    case EBUSY:
        return "Datei oder Ordner wird benutzt";
    case ELOOP:
        return "Symlink-Schleife";
    case ENOMEM:
        return "zu wenig Arbeitsspeicher";
    case EINVAL:
        return "ungültiger Aufruf";
    case ENXIO:
    case ENODEV:
        return "Gerät nicht vorhanden";
    case ETXTBSY:
        return "Datei wird gerade ausgeführt";
    case EXDEV:
        return "über Dateisystemgrenzen hinweg nicht möglich";
    case EMLINK:
        return "zu viele Verweise";
    case ESPIPE:
        return "keine Datei mit Positionen (Pipe oder Gerät)";
    case EPIPE:
        return "Empfänger beendet (Pipe geschlossen)";
    case EAGAIN:
        return "Ressource vorübergehend nicht verfügbar";
    case EINTR:
        return "unterbrochen";
    case EOVERFLOW:
        return "Wert zu groß für den Datentyp";
    case ETIMEDOUT:
        return "Zeitüberschreitung";
#ifdef ESTALE
    case ESTALE:
        return "veralteter Netzwerk-Dateiverweis";
#endif
    case EOPNOTSUPP:
        return "Vorgang nicht unterstützt";
    case ENOSYS:
        return "Funktion nicht verfügbar";
    case EBADF:
        return "ungültiger Dateideskriptor";
    case ENOLINK:
    case ENETDOWN:
    case ENETUNREACH:
    case EHOSTUNREACH:
        return "Netzwerk nicht erreichbar";
    default:
        return std::strerror(error);
    }
}

Error CaughtError(const std::string& subject)
{
    std::string text = subject.empty() ? std::string("Interner Fehler") : "Interner Fehler bei " + subject;
    try {
        throw;
    } catch (const std::exception& error) {
        text += std::string(": ") + error.what();
    } catch (...) {
    }
    return {ErrorKind::Internal, std::move(text)};
}

ErrorKind KindOf(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        return ErrorKind::Permission;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
    case EFBIG:
        return ErrorKind::NoSpace;
    case ENOENT:
        return ErrorKind::NotFound;
    default:
        return ErrorKind::Io;
    }
}

Error SystemError(const std::string& subject, const std::string& what, int error)
{
    std::string text = subject + what;
    if (error != 0)
        text += ": " + SystemReason(error);
    return {error != 0 ? KindOf(error) : ErrorKind::Io, std::move(text)};
}

} // namespace hgt
