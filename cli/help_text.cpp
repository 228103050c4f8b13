#include "cli/help_text.h"

namespace hgt::cli {

namespace {

// Every help text of the command line in one place; the man page cli/hgtfill-cli.1 says the same.

constexpr std::string_view kOverview = R"(Aufruf: hgtfill-cli BEFEHL [OPTIONEN] ARGUMENTE…

Füllt die Löcher (-9999) von HGT-Kacheln zu 1 Bogensekunde (3601 × 3601 Werte) mit den Werten
gleichnamiger Kacheln aus einem zweiten Ordner, schreibt Differenzkacheln und zeigt, was eine Kachel
enthält. Eingabekacheln werden nur gelesen; eine Ausgabe erscheint erst, wenn sie vollständig auf der
Platte steht.

Befehle:
  fill   -s ORDNER KACHEL…    füllt jede Kachel nach Merged/<Name> neben ihr
  batch  -s ORDNER ORDNER     füllt alle Kacheln eines Ordners
  diff   PRIMÄR VERGLEICH     schreibt PRIMÄR minus VERGLEICH nach DIFFS/<Name von PRIMÄR>
  info   KACHEL…              Größe, Raster, Minimum, Maximum, Mittelwert und Löcher

Optionen:
  -h, --help     diese Hilfe; „hgtfill-cli BEFEHL --help“ zeigt die Hilfe eines Befehls
      --version  die Version

Rückgabewert: 0 alles gefüllt oder ohne Löcher, 1 eine Kachel fehlgeschlagen oder ohne
Sekundärkachel, 2 falscher Aufruf, 130 abgebrochen (Strg-C).
)";

constexpr std::string_view kFill = R"(Aufruf: hgtfill-cli fill [OPTIONEN] -s ORDNER KACHEL…

Füllt die Löcher jeder KACHEL mit den Werten der gleichnamigen Kachel im Sekundärordner und schreibt
das Ergebnis nach Merged/<Name> neben der Kachel. Eine Kachel ohne Löcher wird nicht geschrieben.
Die Sekundärkachel wird auch gefunden, wenn sich ihr Name nur in Groß- und Kleinschreibung
unterscheidet (solange es nur eine solche Datei gibt).

Optionen:
  -s, --secondary ORDNER  der Ordner mit den gleichnamigen Ersatzkacheln (Pflicht)
  -j, --jobs N            N Kacheln gleichzeitig (Vorgabe: Anzahl der Prozessoren); Ausgaben und
                          Bericht sind dieselben wie mit -j 1
      --json              je Kachel ein JSON-Objekt auf die Standardausgabe, am Ende eine Summe
  -q, --quiet             keine Zeilen je Kachel, keine Summe, kein Fortschrittsbalken;
                          Fehler stehen weiter auf der Fehlerausgabe
  -h, --help              diese Hilfe

Auf einem Terminal zeigt die Fehlerausgabe einen Fortschrittsbalken: fertige Kacheln von allen,
die laufende Kachel, Kacheln je Sekunde und die restliche Zeit.

JSON je Kachel: {"type":"tile","name":…,"path":…,"output":…,"end":…,"voids_found":…,"filled":…,
"left":…,"message":…,"seconds":…}; "end" ist filled, no_holes, missing_secondary, stopped oder
failed. Die Summe: {"type":"summary","tiles":…,"done":…,"filled":…,"no_holes":…,
"missing_secondary":…,"stopped":…,"failed":…,"not_started":…,"interrupted":…,"seconds":…,
"exit_status":…}.

Strg-C (SIGINT oder SIGTERM) hält an wie STOP: die laufenden Kacheln enden ohne Ausgabe, eine
frühere Ausgabe bleibt unverändert, die Summe nennt die fertigen Kacheln.

Rückgabewert: 0 alles gefüllt oder ohne Löcher, 1 eine Kachel fehlgeschlagen oder ohne
Sekundärkachel, 2 falscher Aufruf, 130 abgebrochen.

Beispiel:
  hgtfill-cli fill -s /data/srtm3 /data/srtm1/N47E011.hgt
)";

constexpr std::string_view kBatch = R"(Aufruf: hgtfill-cli batch [OPTIONEN] -s ORDNER ORDNER

Füllt jede Kachel des ORDNERs (jede Datei mit der Endung .hgt oder .hgt.zip, gleich in welcher
Schreibweise, nach Namen geordnet ohne Rücksicht auf Groß- und Kleinschreibung) wie
„hgtfill-cli fill“ nach ORDNER/Merged/<Name>; N47E011.SRTMGL1.hgt.zip wird zu Merged/N47E011.hgt.
Unterordner werden nicht durchsucht.

Optionen:
  -s, --secondary ORDNER  der Ordner mit den gleichnamigen Ersatzkacheln (Pflicht)
  -j, --jobs N            N Kacheln gleichzeitig (Vorgabe: Anzahl der Prozessoren); Ausgaben und
                          Bericht sind dieselben wie mit -j 1
      --json              je Kachel ein JSON-Objekt auf die Standardausgabe, am Ende eine Summe
                          (Felder wie bei „hgtfill-cli fill --help“)
  -q, --quiet             keine Zeilen je Kachel, keine Summe, kein Fortschrittsbalken;
                          Fehler stehen weiter auf der Fehlerausgabe
  -h, --help              diese Hilfe

Strg-C (SIGINT oder SIGTERM) hält an wie STOP: die laufenden Kacheln enden ohne Ausgabe, die
übrigen werden nicht begonnen, die Summe nennt die fertigen Kacheln.

Rückgabewert: 0 alles gefüllt oder ohne Löcher, 1 eine Kachel fehlgeschlagen oder ohne
Sekundärkachel (oder der Ordner ist nicht lesbar), 2 falscher Aufruf, 130 abgebrochen.

Beispiel:
  hgtfill-cli batch -j 2 --json -s /data/srtm3 /data/srtm1 > bericht.jsonl
)";

constexpr std::string_view kDiff = R"(Aufruf: hgtfill-cli diff [OPTIONEN] PRIMÄR VERGLEICH

Schreibt PRIMÄR minus VERGLEICH, Wert für Wert, nach DIFFS/<Name von PRIMÄR> neben PRIMÄR. Wo
einer der beiden Werte ein Loch (-9999) ist, ist die Differenz ein Loch; andere Differenzen werden
auf -32768 … 32767 begrenzt. Eine echte Differenz von genau -9999 ist von einem Loch nicht zu
unterscheiden.

Optionen:
      --json   ein JSON-Objekt zur Kachel und eine Summe wie bei fill; "end" ist written, stopped
               oder failed
  -q, --quiet  keine Meldung bei Erfolg
  -h, --help   diese Hilfe

Rückgabewert: 0 geschrieben, 1 fehlgeschlagen, 2 falscher Aufruf, 130 abgebrochen.

Beispiel:
  hgtfill-cli diff /data/srtm1/N47E011.hgt /data/alt/N47E011.hgt
)";

constexpr std::string_view kInfo = R"(Aufruf: hgtfill-cli info [--json] KACHEL…

Liest jede KACHEL einmal und nennt ihre Größe in Bytes und ihr Raster, Minimum, Maximum und
Mittelwert der Werte ohne Löcher, die Zahl der Löcher (-9999) und ob das Bytepaar D8 F1 der
Lochmarke nur an ungeraden Stellen vorkommt, also nie als ganzer Wert. Eine solche Kachel hat keine
Löcher, wird von fill aber wie eine Kachel mit Löchern behandelt.

Optionen:
      --json  je Kachel ein JSON-Objekt: {"type":"info","name":…,"path":…,"bytes":…,"side":…,
              "minimum":…,"maximum":…,"mean":…,"voids":…,"pair_at_odd_offset_only":…}, bei einem
              Fehler {"type":"info","name":…,"path":…,"error":…}; am Ende
              {"type":"summary","tiles":…,"failed":…,"exit_status":…}
  -h, --help  diese Hilfe

Rückgabewert: 0 alle Kacheln gelesen, 1 eine Kachel nicht lesbar, 2 falscher Aufruf.

Beispiel:
  hgtfill-cli info /data/srtm1/*.hgt
)";

} // namespace

std::string_view HelpText(Command command)
{
    switch (command) {
    case Command::Fill:
        return kFill;
    case Command::Batch:
        return kBatch;
    case Command::Diff:
        return kDiff;
    case Command::Info:
        return kInfo;
    case Command::None:
        break;
    }
    return kOverview;
}

} // namespace hgt::cli
