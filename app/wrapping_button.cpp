#include "app/wrapping_button.h"

#include "app/caption_fit.h"

#include <QLabel>
#include <QResizeEvent>

namespace hgt {

WrappingButton::WrappingButton(const QString& caption, QWidget* parent)
    : QPushButton(parent), m_label(new QLabel(caption, this))
{
    m_label->setWordWrap(true);
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setTextFormat(Qt::PlainText);
    // Clicks go through to the button; the label only draws the caption.
    m_label->setAttribute(Qt::WA_TransparentForMouseEvents);
    setAccessibleName(caption);
}

QString WrappingButton::caption() const
{
    return m_label->text();
}

void WrappingButton::resizeEvent(QResizeEvent* event)
{
    QPushButton::resizeEvent(event);
    m_label->setGeometry(rect().adjusted(2, 1, -2, -1));
    fitCaptionToBox(m_label);
}

} // namespace hgt
