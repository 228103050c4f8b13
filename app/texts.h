#pragma once

// Every text the window shows, exactly as the users know them.

#include <QString>

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
inline const QString commandDiff =
    QStringLiteral("Erzeuge Differenz - HGT zum primären HGT.vergkleichsfile waehlen");

inline const QString noTilesInFolder = QStringLiteral("keine HGT-Files im ausgewählten Ordner");
inline const QString choosePrimaryFirst = QStringLiteral("zuerst HGT-File auswählen");
inline const QString ready = QStringLiteral("ready");
inline const QString noSecondaryFolder = QStringLiteral("kein sekundärer Ordner ausgewählt");
inline const QString invalidBatchFolder = QStringLiteral("Bitte gültigen Ordner ausgewählen");
inline const QString pickBatchFolder = QStringLiteral("Ordner mit HGT-Files waehlen");
inline const QString pickSecondaryFolder = QStringLiteral("Primären Ordner waehlen");
inline const QString differenceDone = QStringLiteral("Vergleichs file fertig unter ");

} // namespace hgt::texts
