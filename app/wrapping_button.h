#pragma once

#include <QPushButton>

class QLabel;

namespace hgt {

// A push button whose caption wraps at word boundaries inside the button's box.
class WrappingButton : public QPushButton {
public:
    explicit WrappingButton(const QString& caption, QWidget* parent = nullptr);

    QString caption() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QLabel* m_label;
};

} // namespace hgt
