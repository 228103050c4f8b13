#include "cli/help_text.h"

namespace hgt::cli {

namespace {

// Every help text of the command line in one place; the man page cli/hgtfill-cli.1 says the same.

constexpr std::string_view kOverview = R"(Aufruf: hgtfill-cli BEFEHL [OPTIONEN] ARGUMENTE…

Füllt die Löcher (-9999) von HGT-Kacheln zu 1 Bogensekunde (3601 × 3601 Werte) oder 3 Bogensekunden
(1201 × 1201 Werte), auch in .hgt.zip-Archiven, mit den Werten gleichnamiger Kacheln aus weiteren
Ordnern, schreibt Differenzkacheln, zeigt, was eine Kachel enthält, und zeichnet sie als PNG-Bild.
Eingabekacheln werden nur gelesen; eine Ausgabe erscheint erst, wenn sie vollständig auf der Platte
steht.

Befehle:
  fill    -s ORDNER KACHEL…        füllt jede Kachel nach Merged/<Name> neben ihr
  batch   -s ORDNER ORDNER         füllt alle Kacheln eines Ordners
  diff    PRIMÄR VERGLEICH         schreibt PRIMÄR minus VERGLEICH nach DIFFS/<Name von PRIMÄR>
  info    KACHEL…                  Größe, Raster, Minimum, Maximum, Mittelwert und Löcher
  render  KACHEL -o BILD.png       zeichnet die Kachel: Relief oder Differenzfarben

Optionen:
  -h, --help     diese Hilfe; „hgtfill-cli BEFEHL --help“ zeigt die Hilfe eines Befehls
      --version  die Version

Rückgabewert: 0 alles gefüllt oder ohne Löcher, 1 eine Kachel fehlgeschlagen oder ohne
Sekundärkachel, 2 falscher Aufruf, 130 abgebrochen (Strg-C).
)";

constexpr std::string_view kFill = R"(Aufruf: hgtfill-cli fill [OPTIONEN] -s ORDNER [-s ORDNER…] KACHEL…

Füllt die Löcher jeder KACHEL mit den Werten der gleichnamigen Kachel im Sekundärordner und schreibt
das Ergebnis nach Merged/<Name> neben der Kachel. Eine Kachel ohne Löcher wird nicht geschrieben.
Die Sekundärkachel wird auch gefunden, wenn sich ihr Name nur in Groß- und Kleinschreibung
unterscheidet (solange es nur eine solche Datei gibt), oder als Archiv N47E011….hgt.zip.
Kacheln zu 1″ und 3″ dürfen sich mischen: eine 3″-Quelle wird für eine 1″-Kachel interpoliert.

Optionen:
  -s, --secondary ORDNER  der Ordner mit den gleichnamigen Ersatzkacheln (Pflicht); mehrmals
                          angegeben: weitere Quellen in dieser Reihenfolge, gefragt für die Löcher,
                          die die Quellen davor offen lassen. Eine Kachel ist ohne Sekundärkachel
                          erst, wenn keine Quelle sie hat. Statt eines Ordners mit HGT-Kacheln
                          auch ein Ordner mit Rastern (GeoTIFF …) oder eine Raster- oder
                          .vrt-Datei: die Werte werden auf das Raster der Kachel umgerechnet.
                          Rasterquellen im Netz nur mit HGTFILL_NETWORK=1 in der Umgebung.
      --datum BEZUG       der Höhenbezug der Quelle des -s davor: egm96, egm2008, ellipsoid
                          (ellipsoidische Höhen über WGS 84) oder ein Code wie EPSG:7837
                          (DHHN2016); ihre Höhen werden vor dem Füllen in den der Kacheln
                          umgerechnet. Ohne --datum gilt, was die Raster nennen, sonst der der
                          Kacheln. Fehlt eine Gitterdatei, die die Umrechnung braucht, beginnt
                          der Lauf nicht; die Meldung nennt die Datei und den PROJ-Ordner.
      --tile-datum BEZUG  der Höhenbezug der Kacheln (Vorgabe: egm96). Ohne --datum und
                          --tile-datum wird nichts umgerechnet.
      --void WERT         ein Wert, der ein Loch markiert: -9999, -32768 oder -32767; mehrmals
                          für mehrere. Angegeben ersetzt er die Vorgabe -9999.
      --method VERFAHREN  copy (Vorgabe): ein Loch bekommt den Wert der Quelle, wie er ist;
                          delta: dazu den Höhenversatz der Quellen am Rand des Lochs, glatt
                          über das Loch geführt. Der Bericht nennt dann Median und
                          Quartilsabstand des Versatzes und die Zahl der Randwerte; weicht der
                          Median um mehr als 5 m von 0 ab, steht eine Warnung auf der
                          Fehlerausgabe.
      --interpolate       die Löcher, die keine Quelle füllt, aus den gültigen Werten ringsum
                          interpolieren (glatte Fläche, an den Kachelrändern mit den
                          Nachbarkacheln im Ordner der Kachel); dann darf -s fehlen
      --max-distance N    interpoliert wird ein Loch nur, wenn jeder seiner Werte höchstens N
                          Werte von einem gültigen entfernt liegt; 1 bis 10000 (Vorgabe: 100),
                          nur mit --interpolate
      --provenance        neben jede Ausgabe Merged/<Name>.src schreiben: je Wert ein Byte, woher
                          er kommt: 0 die Kachel selbst, k Quelle k, 254 interpoliert, 255 Loch
  -j, --jobs N            N Kacheln gleichzeitig (Vorgabe: Anzahl der Prozessoren); Ausgaben und
                          Bericht sind dieselben wie mit -j 1
      --json              je Kachel ein JSON-Objekt auf die Standardausgabe, am Ende eine Summe
  -q, --quiet             keine Zeilen je Kachel, keine Summe, kein Fortschrittsbalken;
                          Fehler und Warnungen stehen weiter auf der Fehlerausgabe
  -h, --help              diese Hilfe

Mit mehreren Quellen nennt die Zeile einer Kachel die Löcher je Quelle, etwa „120 aus Quelle 1,
30 aus Quelle 2“; Quelle 1 ist das erste -s. Mit --interpolate nennt sie auch die interpolierten
Löcher und die, die zu weit von gültigen Werten liegen. Ohne Quelle und ohne ein Loch, das sich
interpolieren lässt, ist die Kachel ohne Sekundärkachel. Haben Raster Löcher gefüllt, nennt sie die
Dateien („aus …/N47E011_dem.tif“). Rechnet der Lauf Höhen um, nennt sie jede umgerechnete Quelle
(„Quelle 2: EGM2008 → EGM96“); --method delta misst den Versatz dann nach der Umrechnung.

Auf einem Terminal zeigt die Fehlerausgabe einen Fortschrittsbalken: fertige Kacheln von allen,
die laufende Kachel, Kacheln je Sekunde und die restliche Zeit.

JSON je Kachel: {"type":"tile","name":…,"path":…,"output":…,"end":…,"voids_found":…,"filled":…,
"left":…,"filled_by_source":[…],"interpolated":…,"left_too_far":…,"offsets":…,
"source_files":[…],"message":…,"warning":…,"seconds":…}; "end" ist filled, no_holes,
missing_secondary, stopped oder failed; "filled_by_source" die gefüllten Löcher je Quelle;
"interpolated" die interpolierten Löcher, "left_too_far" die übrigen, die zu weit von gültigen Werten
liegen (ohne --interpolate 0); "source_files" die Rasterdateien, aus denen Löcher gefüllt wurden
(ohne Rasterquellen leer); "offsets" bei delta {"median":…,"iqr":…,"rim_samples":…}, sonst null; "warning" leer
oder die Warnung. Rechnet der Lauf Höhen um (--datum oder --tile-datum), steht vor "message"
"datums":[…]: je Quelle {"datum":…,"conversion":…} oder null, wo nichts umgerechnet wird.
Die Summe: {"type":"summary","tiles":…,"done":…,"filled":…,"no_holes":…,"missing_secondary":…,
"stopped":…,"failed":…,"not_started":…,"interrupted":…,"seconds":…,"exit_status":…}.

Strg-C (SIGINT oder SIGTERM) hält an wie STOP: die laufenden Kacheln enden ohne Ausgabe, eine
frühere Ausgabe bleibt unverändert, die Summe nennt die fertigen Kacheln. Endet der Lauf nicht
binnen einer Sekunde, oder beim zweiten Signal, endet das Programm sofort (130, bei SIGTERM 143).

Rückgabewert: 0 alles gefüllt oder ohne Löcher, 1 eine Kachel fehlgeschlagen oder ohne
Sekundärkachel, 2 falscher Aufruf, 130 abgebrochen.

Beispiele:
  hgtfill-cli fill -s /data/srtm3 /data/srtm1/N47E011.hgt
  hgtfill-cli fill --method delta -s /data/srtm1-alt -s /data/srtm3 /data/srtm1/N47E011.hgt
  hgtfill-cli fill --interpolate --provenance -s /data/srtm3 /data/srtm1/N47E011.hgt
  hgtfill-cli fill --method delta -s /data/copernicus /data/srtm1/N47E011.hgt
  hgtfill-cli fill -s /data/lidar --datum ellipsoid -s /data/srtm3 /data/srtm1/N47E011.hgt
)";

constexpr std::string_view kBatch = R"(Aufruf: hgtfill-cli batch [OPTIONEN] -s ORDNER [-s ORDNER…] ORDNER

Füllt jede Kachel des ORDNERs (jede Datei mit der Endung .hgt oder .hgt.zip, gleich in welcher
Schreibweise, nach Namen geordnet ohne Rücksicht auf Groß- und Kleinschreibung) wie
„hgtfill-cli fill“ nach ORDNER/Merged/<Name>; N47E011.SRTMGL1.hgt.zip wird zu Merged/N47E011.hgt.
Unterordner werden nicht durchsucht. Der Lauf beginnt, wenn einer der Quellordner eine Kachel
enthält.

Optionen:
  -s, --secondary ORDNER  der Ordner mit den gleichnamigen Ersatzkacheln (Pflicht); mehrmals
                          angegeben: weitere Quellen in dieser Reihenfolge
      --void WERT         ein Wert, der ein Loch markiert: -9999, -32768 oder -32767; mehrmals
                          für mehrere. Angegeben ersetzt er die Vorgabe -9999.
      --datum BEZUG       der Höhenbezug der Quelle des -s davor (egm96, egm2008, ellipsoid,
                          EPSG:…), wie bei „hgtfill-cli fill --help“
      --tile-datum BEZUG  der Höhenbezug der Kacheln (Vorgabe: egm96)
      --method VERFAHREN  copy (Vorgabe) oder delta, wie bei „hgtfill-cli fill --help“
      --interpolate       Löcher ohne Quelle interpolieren; dann darf -s fehlen
      --max-distance N    höchstens N Werte weit interpolieren (Vorgabe: 100)
      --provenance        neben jede Ausgabe Merged/<Name>.src mit der Herkunft jedes Werts
                          (wie bei „hgtfill-cli fill --help“)
  -j, --jobs N            N Kacheln gleichzeitig (Vorgabe: Anzahl der Prozessoren); Ausgaben und
                          Bericht sind dieselben wie mit -j 1
      --json              je Kachel ein JSON-Objekt auf die Standardausgabe, am Ende eine Summe
                          (Felder wie bei „hgtfill-cli fill --help“)
  -q, --quiet             keine Zeilen je Kachel, keine Summe, kein Fortschrittsbalken;
                          Fehler und Warnungen stehen weiter auf der Fehlerausgabe
  -h, --help              diese Hilfe

Strg-C (SIGINT oder SIGTERM) hält an wie STOP: die laufenden Kacheln enden ohne Ausgabe, die
übrigen werden nicht begonnen, die Summe nennt die fertigen Kacheln. Endet der Lauf nicht binnen
einer Sekunde, oder beim zweiten Signal, endet das Programm sofort (130, bei SIGTERM 143).

Rückgabewert: 0 alles gefüllt oder ohne Löcher, 1 eine Kachel fehlgeschlagen oder ohne
Sekundärkachel (oder der Ordner ist nicht lesbar), 2 falscher Aufruf, 130 abgebrochen.

Beispiele:
  hgtfill-cli batch -j 2 --json -s /data/srtm3 /data/srtm1 > bericht.jsonl
  hgtfill-cli batch --void -32768 --void -32767 -s /data/aster /data/dem
  hgtfill-cli batch --interpolate --max-distance 50 /data/srtm1
  hgtfill-cli batch -s /data/copernicus --datum egm2008 /data/srtm1
)";

constexpr std::string_view kDiff = R"(Aufruf: hgtfill-cli diff [OPTIONEN] PRIMÄR VERGLEICH

Schreibt PRIMÄR minus VERGLEICH, Wert für Wert, nach DIFFS/<Name von PRIMÄR> neben PRIMÄR. Wo
einer der beiden Werte ein Loch ist, ist die Differenz ein Loch (-9999); andere Differenzen werden
auf -32768 … 32767 begrenzt. Eine echte Differenz von genau -9999 ist von einem Loch nicht zu
unterscheiden. Hat VERGLEICH das andere Raster (1″ oder 3″), wird es auf das von PRIMÄR gebracht.

Optionen:
      --void WERT  ein Wert, der in den beiden Kacheln ein Loch markiert: -9999, -32768 oder
                   -32767; mehrmals für mehrere. Angegeben ersetzt er die Vorgabe -9999.
      --json       ein JSON-Objekt zur Kachel und eine Summe wie bei fill; "end" ist written,
                   stopped oder failed
  -q, --quiet      keine Meldung bei Erfolg
  -h, --help       diese Hilfe

Rückgabewert: 0 geschrieben, 1 fehlgeschlagen, 2 falscher Aufruf, 130 abgebrochen.

Beispiel:
  hgtfill-cli diff /data/srtm1/N47E011.hgt /data/alt/N47E011.hgt
)";

constexpr std::string_view kInfo = R"(Aufruf: hgtfill-cli info [OPTIONEN] KACHEL…

Liest jede KACHEL einmal und nennt ihre Größe in Bytes und ihr Raster (1″ oder 3″), Minimum,
Maximum und Mittelwert der Werte ohne Löcher, die Zahl der Löcher und ob das Bytepaar D8 F1 der
Lochmarke -9999 nur außerhalb ganzer Werte vorkommt (an ungerader Stelle oder hinter der Kachel).
Eine solche Kachel hat keine Löcher -9999, wird von fill aber wie eine Kachel mit Löchern behandelt.
Ein Archiv .hgt.zip zeigt die Kachel, die es enthält, mit ihrer Größe entpackt. Eine Datei, die
keine Kachel ist, wird als Folge von Werten gelesen.

Optionen:
      --void WERT  ein Wert, der als Loch zählt: -9999, -32768 oder -32767; mehrmals für mehrere.
                   Angegeben ersetzt er die Vorgabe -9999.
      --json       je Kachel ein JSON-Objekt: {"type":"info","name":…,"path":…,"bytes":…,
                   "side":…,"arc_seconds":…,"minimum":…,"maximum":…,"mean":…,"voids":…,
                   "void_values":[…],"pair_at_odd_offset_only":…}, bei einem Fehler
                   {"type":"info","name":…,"path":…,"error":…}; am Ende
                   {"type":"summary","tiles":…,"failed":…,"exit_status":…}
  -h, --help       diese Hilfe

Rückgabewert: 0 alle Kacheln gelesen, 1 eine Kachel nicht lesbar, 2 falscher Aufruf.

Beispiele:
  hgtfill-cli info /data/srtm1/*.hgt
  hgtfill-cli info --void -32768 /data/dem/N47E011.SRTMGL3.hgt.zip
)";

constexpr std::string_view kRender = R"(Aufruf: hgtfill-cli render [OPTIONEN] KACHEL -o BILD.png

Zeichnet die KACHEL als PNG-Bild: Höhen als schattiertes Relief in Höhenfarben (Löcher magenta),
eine Differenzkachel in Blau-Weiß-Rot um 0 (Löcher grau). Eine Kachel in einem Ordner DIFFS gilt als
Differenzkachel. Zeile 0 des Bildes ist der Nordrand, Spalte 0 der Westrand; in voller Größe zeigt
Pixel (x, y) den Wert in Zeile y, Spalte x. Das Bild erscheint erst, wenn es vollständig ist.
Danach nennt render Name, Raster, Minimum, Maximum, Mittelwert und Löcher (Zahl und Anteil), bei
Differenzen auch Median, Mittelwert, RMS und das 2. und 98. Perzentil.
Eine Herkunftsdatei <Name>.src (fill --provenance) wird als Herkunftskarte gezeichnet: die Kachel
selbst hellgrau, Quelle 1 blau, Quelle 2 grün, weitere Quellen in weiteren Farben, interpoliert
orange, Loch magenta; mit --legend rechts die Farben mit ihrer Bedeutung.

Optionen:
  -o, --output BILD.png  die Bilddatei (Pflicht)
      --diff             als Differenzkachel zeichnen, gleich in welchem Ordner sie liegt
      --size PX          PX × PX Pixel, 1 bis 8192 (Vorgabe: ein Pixel je Wert); jedes Pixel zeigt
                         den nächsten Wert, eine 1″-Kachel auf 1201 Pixeln jeden dritten
      --legend           bei einer Differenzkachel rechts einen Rand mit Farbskala und Histogramm,
                         bei einer Herkunftskarte die Farben; bei Höhen ohne Wirkung
      --void WERT        ein Wert, der in einer Höhenkachel ein Loch markiert: -9999, -32768 oder
                         -32767; mehrmals für mehrere (in einer Differenzkachel ist es stets -9999)
      --json             die Zahlen als ein JSON-Objekt: {"type":"picture","name":…,"path":…,
                         "output":…,"kind":"relief"|"difference","side":…,"arc_seconds":…,
                         "width":…,"height":…,"legend":…,"minimum":…,"maximum":…,"mean":…,
                         "voids":…,"void_percent":…,"difference":…}; "difference" ist
                         {"samples":…,"median":…,"mean":…,"rms":…,"p2":…,"p98":…,"clip":…}
                         oder null; bei einem Fehler {"type":"picture",…,"error":…}
  -q, --quiet            keine Zahlen; Fehler stehen weiter auf der Fehlerausgabe
  -h, --help             diese Hilfe

Rückgabewert: 0 geschrieben, 1 Kachel nicht lesbar oder Bild nicht schreibbar, 2 falscher Aufruf.

Beispiele:
  hgtfill-cli render /data/srtm1/N47E011.hgt -o N47E011.png
  hgtfill-cli render --size 1024 --legend /data/srtm1/DIFFS/N47E011.hgt -o differenz.png
  hgtfill-cli render --legend /data/srtm1/Merged/N47E011.src -o herkunft.png
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
    case Command::Render:
        return kRender;
    case Command::None:
        break;
    }
    return kOverview;
}

} // namespace hgt::cli
