#pragma once

#include "app/window_options.h"

#include <QLabel>
#include <QString>

namespace hgt {

// The status bar's note at its right end on the options that differ from the defaults, e.g.
// "Leerwerte: −9999, −32768 · 2 weitere Quellen · Übergänge angleichen · interpolieren bis 100 Werte
// · Herkunftskarte · Höhenbezug: Quelle 2 EGM2008 · Kacheln in Ellipsoid"; hidden while every option
// is at its default. It stands beside the run's line, during a run and after it, so the line that
// sums a run up is always read with the options it ran with. When the bar is too narrow for both,
// the note gives way: it is cut short with "…" and its tooltip holds the whole text.
class OptionsNote : public QLabel {
public:
    explicit OptionsNote(QWidget* parent = nullptr);

    void setOptions(const WindowOptions& options);
    const QString& fullText() const { return m_fullText; }

    // The note for `options`: only what differs from the defaults, empty when nothing does.
    static QString noteText(const WindowOptions& options);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void showElided();

    QString m_fullText;
};

} // namespace hgt
