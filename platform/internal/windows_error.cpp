#include "platform/internal/windows_error.h"

#include "platform/internal/windows_text.h"

#include <windows.h>

#include <array>
#include <cctype>
#include <string_view>

namespace hgt::windows {

namespace {

constexpr char kReadOnlyAttribute[] = "Datei ist schreibgeschützt (Dateiattribut)";
constexpr DWORD kDiskQuotaExceeded = 1295; // ERROR_DISK_QUOTA_EXCEEDED, missing from mingw-w64's headers

// The system's text in the user's language, without its closing period and line break.
std::string systemText(unsigned long code)
{
    wchar_t* text = nullptr;
    const DWORD n =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = n > 0 && text ? std::wstring(text, n) : std::wstring();
    LocalFree(text);
    while (!message.empty()
           && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L'.' || message.back() == L' '))
        message.pop_back();
    return message.empty() ? "Systemfehler " + std::to_string(code) : Narrow(message);
}

} // namespace

std::string Reason(unsigned long code)
{
    switch (code) {
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
        return "keine Berechtigung";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return "kein Platz mehr auf dem Datenträger";
    case kDiskQuotaExceeded:
        return "Speicherkontingent erschöpft";
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return "Datei existiert bereits";
    case ERROR_DIRECTORY:
        return "ein Teil des Pfads ist kein Ordner";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
        return "Datei oder Ordner nicht gefunden";
    case ERROR_FILENAME_EXCED_RANGE:
        return "Pfad zu lang";
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
        return "ungültiger Name (unter Windows nicht erlaubt)";
    case ERROR_WRITE_PROTECT:
        return "Datenträger ist schreibgeschützt";
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_IO_DEVICE:
        return "Ein-/Ausgabefehler";
    case ERROR_FILE_TOO_LARGE:
        return "Datei zu groß";
    case ERROR_TOO_MANY_OPEN_FILES:
        return "zu viele offene Dateien";
    case ERROR_DIR_NOT_EMPTY:
        return "Ordner ist nicht leer";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
        return "Datei wird von einem anderen Programm benutzt";
    case ERROR_BUSY:
        return "Datei oder Ordner wird benutzt";
    case ERROR_DELETE_PENDING:
        return "Datei wird gerade gelöscht";
    case ERROR_CANT_RESOLVE_FILENAME:
        return "Symlink-Schleife";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return "zu wenig Arbeitsspeicher";
    case ERROR_INVALID_PARAMETER:
        return "ungültiger Aufruf";
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
        return "Gerät nicht vorhanden";
    case ERROR_NOT_SAME_DEVICE:
        return "über Dateisystemgrenzen hinweg nicht möglich";
    case ERROR_TOO_MANY_LINKS:
        return "zu viele Verweise";
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
        return "Empfänger beendet (Pipe geschlossen)";
    case ERROR_OPERATION_ABORTED:
        return "unterbrochen";
    case ERROR_ARITHMETIC_OVERFLOW:
        return "Wert zu groß für den Datentyp";
    case ERROR_SEM_TIMEOUT:
    case WAIT_TIMEOUT:
        return "Zeitüberschreitung";
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
        return "Vorgang nicht unterstützt";
    case ERROR_CALL_NOT_IMPLEMENTED:
        return "Funktion nicht verfügbar";
    case ERROR_INVALID_HANDLE:
        return "ungültiger Dateideskriptor";
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_UNEXP_NET_ERR:
    case ERROR_NETWORK_UNREACHABLE:
    case ERROR_NETNAME_DELETED:
        return "Netzwerk nicht erreichbar";
    default:
        return systemText(code);
    }
}

ErrorKind KindOf(unsigned long code)
{
    switch (code) {
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
    case ERROR_WRITE_PROTECT:
        return ErrorKind::Permission;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case kDiskQuotaExceeded:
    case ERROR_FILE_TOO_LARGE:
        return ErrorKind::NoSpace;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
        return ErrorKind::NotFound;
    default:
        return ErrorKind::Io;
    }
}

Error SystemError(const std::string& subject, const std::string& what, unsigned long code)
{
    std::string text = subject + what;
    if (code != 0)
        text += ": " + Reason(code);
    return {code != 0 ? KindOf(code) : ErrorKind::Io, std::move(text)};
}

Error PathError(const std::string& subject, const std::string& what, unsigned long code, const std::string& path)
{
    if (code == ERROR_ACCESS_DENIED) {
        const std::wstring name = SystemPath(path);
        const DWORD attributes = GetFileAttributesW(name.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return {ErrorKind::Io, subject + what + ": ist ein Ordner"}; // as EISDIR says it
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
            return {ErrorKind::Permission, subject + what + ": " + kReadOnlyAttribute};
        // Replacing or deleting a file that another program holds open without sharing deletion
        // is refused as access denied too; asking for deletion alone tells the two apart.
        HANDLE probe = CreateFileW(name.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (probe != INVALID_HANDLE_VALUE)
            CloseHandle(probe);
        else if (GetLastError() == ERROR_SHARING_VIOLATION)
            code = ERROR_SHARING_VIOLATION;
    }
    return SystemError(subject, what, code);
}

std::string UnusableNameReason(const std::string& name)
{
    if (Widen(name).size() > 255)
        return "Name zu lang"; // as ENAMETOOLONG says it
    if (!name.empty() && (name.back() == '.' || name.back() == ' ') && name != "." && name != "..")
        return "Windows würde den Namen ohne den Punkt oder das Leerzeichen am Ende anlegen";
    // A device name is reserved with any extension too ("NUL.hgt"), and before blanks ("CON .txt").
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    for (char& c : stem)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    static constexpr std::array<std::string_view, 4> kDevices{"CON", "PRN", "AUX", "NUL"};
    bool reserved = false;
    for (std::string_view device : kDevices)
        reserved = reserved || stem == device;
    if (stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) && stem[3] >= '1' && stem[3] <= '9')
        reserved = true;
    if (stem == "CONIN$" || stem == "CONOUT$")
        reserved = true;
    return reserved ? "unter Windows reservierter Gerätename" : std::string();
}

} // namespace hgt::windows
