#pragma once

// Every text the window shows, exactly as the users know them.

#include <QString>
#include <QStringList>

namespace hgt::texts {

inline const QString windowCaption = QStringLiteral("1 Sec HGT -files Löcher füllen");

inline const QString label1 = QStringLiteral("Pfad zum primären HGT File click in das Feld");
inline const QString label2 = QStringLiteral("Pfad zum sekundären HGT");
inline const QString label3 = QStringLiteral("Batchverarbeitung aller HGT eines Ordners.           Ordner :");
inline const QString primaryInitial = QStringLiteral("Hier Pfad zum HGT-File");
inline const QString secondaryInitial = QStringLiteral("Pfad zum Ornder mit den sekundären 1 sec HGT Files");
inline const QString folderInitial = QStringLiteral("Pfad zum Ordner");
inline const QString command1 = QStringLiteral("fülle die Löcher im Primärfile mit Daten der Sekundärfiles");
inline const QString commandStop = QStringLiteral("STOP !");
inline const QString commandBatch = QStringLiteral("fülle die Löcher in allen Files des Ordners");
inline const QString commandDiff = QStringLiteral("Erzeuge Differenz - HGT zum primären HGT.vergkleichsfile waehlen");

inline const QString noTilesInFolder = QStringLiteral("keine HGT-Files im ausgewählten Ordner");
inline const QString choosePrimaryFirst = QStringLiteral("zuerst HGT-File auswählen");
inline const QString ready = QStringLiteral("ready");
inline const QString noSecondaryFolder = QStringLiteral("kein sekundärer Ordner ausgewählt");
inline const QString invalidBatchFolder = QStringLiteral("Bitte gültigen Ordner ausgewählen");
inline const QString pickBatchFolder = QStringLiteral("Ordner mit HGT-Files waehlen");
inline const QString pickSecondaryFolder = QStringLiteral("Primären Ordner waehlen");
inline const QString differenceDone = QStringLiteral("Vergleichs file fertig unter ");

// The failure summary at the end of a command: the first failed tiles, then how many more.
inline const QString moreFailures = QStringLiteral("… und %1 weitere (Ansicht → Bericht des letzten Laufs)");

// The tile file dialogs.
inline const QString tileFilter = QStringLiteral("HGT-Kacheln (*.hgt *.HGT *.hgt.zip)");
inline const QString allFilesFilter = QStringLiteral("Alle Dateien (*)");

// Menus around the controls.
inline const QString menuFile = QStringLiteral("&Datei");
inline const QString actionQuit = QStringLiteral("&Beenden");
inline const QString menuOptions = QStringLiteral("&Optionen");
inline const QString menuView = QStringLiteral("&Ansicht");
inline const QString actionReport = QStringLiteral("&Bericht des letzten Laufs …");
inline const QString actionViewTile = QStringLiteral("&Kachel ansehen …");
inline const QString actionViewLastOutput = QStringLiteral("&Letzte Ausgabe ansehen");
inline const QString menuHelp = QStringLiteral("&Hilfe");
inline const QString actionAbout = QStringLiteral("&Über hgtfill …");

// "Optionen": the void values, the further secondary folders and the fill method.
inline const QString menuVoidValues = QStringLiteral("&Leerwerte");
inline const QString voidValue9999 = QStringLiteral("−9999");
inline const QString voidValue32768 = QStringLiteral("−32768 (SRTM)");
inline const QString voidValue32767 = QStringLiteral("−32767");
inline const QString actionMoreSources = QStringLiteral("&Weitere Sekundärordner …");
inline const QString menuFillMethod = QStringLiteral("&Füllmethode");
inline const QString methodCopy = QStringLiteral("Werte &kopieren");
inline const QString methodDelta = QStringLiteral("Übergänge &angleichen");
inline const QString actionInterpolate = QStringLiteral("Löcher ohne Quelle &interpolieren");
inline const QString actionMaxDistance = QStringLiteral("&Höchstabstand für Interpolation …");
inline const QString actionProvenance = QStringLiteral("Herkunfts&karte schreiben");
inline const QString maxDistanceTitle = QStringLiteral("Höchstabstand für Interpolation");
inline const QString maxDistanceLabel =
    QStringLiteral("Ein Loch ohne Quelle wird nur interpoliert, wenn jeder seiner Werte\n"
                   "höchstens so viele Werte von gültigen Daten entfernt liegt (1 bis %1):");
inline const QString actionTileDatum = QStringLiteral("Höhen&bezug der Kacheln …");
inline const QString tileDatumTitle = QStringLiteral("Höhenbezug der Kacheln");
inline const QString tileDatumLabel =
    QStringLiteral("Quellen mit anderem Höhenbezug werden in diesen umgerechnet (HGT-Kacheln: EGM96).\n"
                   "EGM96, EGM2008, Ellipsoid (WGS 84) oder ein Code wie EPSG:7837:");
inline const QString optionsNotSaved =
    QStringLiteral("Die Optionen gelten bis zum Ende des Programms; sie konnten nicht in %1 gespeichert werden.");

// The dialog of the further secondary folders.
inline const QString moreSourcesTitle = QStringLiteral("Weitere Sekundärordner");
inline const QString moreSourcesHint =
    QStringLiteral("Was der Sekundärordner des Fensters offen lässt, wird der Reihe nach aus diesen Ordnern gefüllt:");
inline const QString moreSourcesAdd = QStringLiteral("&Hinzufügen …");
inline const QString moreSourcesRemove = QStringLiteral("&Entfernen");
inline const QString moreSourcesUp = QStringLiteral("Nach &oben");
inline const QString moreSourcesDown = QStringLiteral("Nach &unten");
inline const QString moreSourcesPick = QStringLiteral("Weiteren Sekundärordner wählen");
inline const QString moreSourcesRasterHint =
    QStringLiteral("Ein Eintrag kann auch eine Rasterdatei (GeoTIFF, VRT, IMG …) oder ein Ordner mit Rastern sein.");
inline const QString moreSourcesAddRaster = QStringLiteral("&Rasterdatei hinzufügen …");
inline const QStringList moreSourcesRasterFilters{
    QStringLiteral("Rasterdateien (*.tif *.tiff *.vrt *.img *.TIF *.TIFF *.VRT *.IMG)"),
    QStringLiteral("GeoTIFF (*.tif *.tiff *.TIF *.TIFF)"), QStringLiteral("VRT (*.vrt *.VRT)"),
    QStringLiteral("IMG (*.img *.IMG)"), allFilesFilter};
inline const QString moreSourcesNotRaster = QStringLiteral("%1 ist keine Rasterdatei, die hgtfill lesen kann.");
inline const QString moreSourcesPathColumn = QStringLiteral("Ordner oder Rasterdatei");
inline const QString moreSourcesDatumColumn = QStringLiteral("Höhenbezug");
inline const QString moreSourcesDatumHint =
    QStringLiteral("Höhenbezug: leer (—) heißt, wie die Quelle es angibt, sonst wie die Kacheln. Doppelklick "
                   "wählt EGM96, EGM2008, Ellipsoid (WGS 84) oder nimmt einen Code wie EPSG:7837.");
inline const QString notADatum =
    QStringLiteral("„%1“ ist kein Höhenbezug: EGM96, EGM2008, Ellipsoid (WGS 84) oder ein Code wie EPSG:7837.");
inline const QString buttonOk = QStringLiteral("OK");
inline const QString buttonCancel = QStringLiteral("Abbrechen");

// The status bar's note on the options that differ from the defaults, parts joined by " · ".
inline const QString noteVoidValues = QStringLiteral("Leerwerte: %1");
inline const QString noteOneMoreSource = QStringLiteral("1 weitere Quelle");
inline const QString noteMoreSources = QStringLiteral("%1 weitere Quellen");
inline const QString noteDelta = QStringLiteral("Übergänge angleichen");
inline const QString noteInterpolate = QStringLiteral("interpolieren bis %1 Werte");
inline const QString noteProvenance = QStringLiteral("Herkunftskarte");
inline const QString noteTileDatum = QStringLiteral("Kacheln in %1");
inline const QString noteSourceDatums = QStringLiteral("Höhenbezug: %1");
inline const QString noteSourceDatum = QStringLiteral("Quelle %1 %2");

// The vertical datums the window offers.
inline const QString datumNone = QStringLiteral("—");
inline const QString datumEgm96 = QStringLiteral("EGM96");
inline const QString datumEgm2008 = QStringLiteral("EGM2008");
inline const QString datumEllipsoid = QStringLiteral("Ellipsoid (WGS 84)");
inline const QString datumEllipsoidShort = QStringLiteral("Ellipsoid");

// The status bar. During a run: tile, name, percentage of the tile, time since the run started.
inline const QString statusRunning = QStringLiteral("Kachel %1 von %2 · %3 · %4 % · %5");
inline const QString statusDone = QStringLiteral("Fertig: %1 · %2");
inline const QString statusStopped = QStringLiteral("Gestoppt nach Kachel %1 von %2: %3 · %4");
inline const QString countFilled = QStringLiteral("%1 gefüllt");
inline const QString countNoHoles = QStringLiteral("%1 ohne Löcher");
inline const QString countMissingSecondary = QStringLiteral("%1 ohne Sekundärfile");
inline const QString countStopped = QStringLiteral("%1 gestoppt");
inline const QString countFailed = QStringLiteral("%1 Fehler");
inline const QString countDifference = QStringLiteral("Differenzkachel geschrieben");
inline const QString countInterpolated = QStringLiteral("%1 Löcher interpoliert");

// How a tile's run ended, in the run report.
inline const QString endFilled = QStringLiteral("gefüllt");
inline const QString endDifference = QStringLiteral("Differenz geschrieben");
inline const QString endNoHoles = QStringLiteral("ohne Löcher");
inline const QString endMissingSecondary = QStringLiteral("kein Sekundärfile");
inline const QString endStopped = QStringLiteral("gestoppt");
inline const QString endFailed = QStringLiteral("Fehler: %1");

// The run report window.
inline const QString reportTitle = QStringLiteral("Bericht des letzten Laufs");
inline const QString reportNoRun = QStringLiteral("Seit dem Start wurde noch nichts ausgeführt.");
inline const QString reportFill = QStringLiteral("Füllen einer Kachel");
inline const QString reportBatch = QStringLiteral("Füllen aller Kacheln eines Ordners");
inline const QString reportDifference = QStringLiteral("Differenzkachel");
inline const QString reportHeading = QStringLiteral("%1 · %2");
inline const QString reportColumnNumber = QStringLiteral("Nr.");
inline const QString reportColumnTile = QStringLiteral("Kachel");
inline const QString reportColumnEnd = QStringLiteral("Ergebnis");
inline const QString reportColumnVoidsFound = QStringLiteral("Löcher gefunden");
inline const QString reportColumnVoidsFilled = QStringLiteral("Löcher gefüllt");
inline const QString reportColumnVoidsLeft = QStringLiteral("Löcher verbleibend");
inline const QString reportColumnSeconds = QStringLiteral("Zeit (s)");
inline const QString reportColumnPath = QStringLiteral("Datei");
// Only in reports of runs with more than one source, or of runs that measured offsets.
inline const QString reportColumnFromSource = QStringLiteral("aus Quelle %1");
inline const QString reportColumnConversions = QStringLiteral("Höhenbezug");
inline const QString reportColumnOffsetMedian = QStringLiteral("Versatz Median (m)");
inline const QString reportColumnOffsetIqr = QStringLiteral("Versatz Quartilsabstand (m)");
inline const QString reportColumnRimSamples = QStringLiteral("Randwerte");
inline const QString reportColumnWarning = QStringLiteral("Hinweis");
// Only in reports of runs that interpolated, or left voids too far from valid data to interpolate.
inline const QString reportColumnInterpolated = QStringLiteral("interpoliert");
inline const QString reportColumnLeftTooFar = QStringLiteral("zu weit für Interpolation");
inline const QString reportCopy = QStringLiteral("&Kopieren");
inline const QString reportSave = QStringLiteral("&Speichern …");
inline const QString reportSaveTitle = QStringLiteral("Bericht speichern");
inline const QString reportFileName = QStringLiteral("hgtfill-bericht.csv");
inline const QString csvFilter = QStringLiteral("CSV-Dateien (*.csv)");
inline const QString reportSaveFailed = QStringLiteral("Der Bericht konnte nicht unter %1 gespeichert werden: %2");

// The about box.
inline const QString aboutTitle = QStringLiteral("Über hgtfill");
inline const QString aboutText =
    QStringLiteral("<h3>hgtfill %1</h3>"
                   "<p>Füllt die Löcher (Höhenwert −9999) von HGT-Kacheln mit 1 Bogensekunde Auflösung "
                   "(3601 × 3601 Höhenwerte) mit den Höhenwerten der gleichnamigen Kachel aus einem zweiten Ordner "
                   "und schreibt das Ergebnis in den Ordner <i>Merged</i> neben der Kachel, für eine Kachel oder für "
                   "alle Kacheln eines Ordners. Schreibt außerdem Differenzkacheln (Primärkachel minus "
                   "Vergleichskachel) in den Ordner <i>DIFFS</i>.</p>"
                   "<p>Die Eingabekacheln werden nur gelesen. Eine neue Kachel bekommt ihren Namen erst, wenn sie "
                   "vollständig geschrieben ist.</p>"
                   "<p>Lizenz: Für hgtfill selbst ist noch keine Lizenz festgelegt. hgtfill verwendet Qt %2 unter den "
                   "Bedingungen der GNU Lesser General Public License, Version 3.</p>");

} // namespace hgt::texts
