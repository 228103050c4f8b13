#include "app/qt_dialogs.h"

#include "app/texts.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

namespace hgt {

void QtDialogs::message(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, QString(), text, QMessageBox::Ok, parent);
    // Messages name files; let the user select and copy them.
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box.exec();
}

std::optional<QString> QtDialogs::openFile(QWidget* parent, const QString& initialSelection,
                                           const QStringList& nameFilters)
{
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(nameFilters);
    if (!initialSelection.isEmpty())
        dialog.selectFile(initialSelection);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

std::optional<QString> QtDialogs::saveFile(QWidget* parent, const QString& title, const QString& suggestedPath,
                                           const QStringList& nameFilters)
{
    QFileDialog dialog(parent, title);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters(nameFilters);
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    dialog.selectFile(suggestedPath);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

std::optional<int> QtDialogs::wholeNumber(QWidget* parent, const QString& title, const QString& label, int value,
                                          int minimum, int maximum)
{
    QInputDialog dialog(parent);
    dialog.setWindowTitle(title);
    dialog.setLabelText(label);
    dialog.setInputMode(QInputDialog::IntInput);
    dialog.setIntRange(minimum, maximum);
    dialog.setIntValue(value);
    dialog.setOkButtonText(texts::buttonOk);
    dialog.setCancelButtonText(texts::buttonCancel);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.intValue();
}

std::optional<QString> QtDialogs::editableChoice(QWidget* parent, const QString& title, const QString& label,
                                                 const QStringList& choices, const QString& value)
{
    QInputDialog dialog(parent);
    dialog.setWindowTitle(title);
    dialog.setLabelText(label);
    dialog.setComboBoxItems(choices);
    dialog.setComboBoxEditable(true);
    dialog.setTextValue(value);
    dialog.setOkButtonText(texts::buttonOk);
    dialog.setCancelButtonText(texts::buttonCancel);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}

void QtDialogs::about(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::about(parent, title, text);
}

std::optional<QString> QtDialogs::chooseFolder(QWidget* owner, const QString& title, const QString& initialSelection)
{
    return QtFolderDialog().chooseFolder(owner, title, initialSelection);
}

} // namespace hgt
