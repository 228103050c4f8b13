#pragma once

#include "app/dialogs.h"

#include <QString>
#include <QStringList>

class QWidget;

namespace hgt {

// A file-open dialog that remembers the file confirmed last: it offers it again next time, and a
// cancel leaves it unchanged.
class CommonDialog {
public:
    CommonDialog(Dialogs& dialogs, QWidget* parent, QStringList nameFilters)
        : m_dialogs(dialogs), m_parent(parent), m_nameFilters(std::move(nameFilters))
    {}

    void ShowOpen()
    {
        if (const auto chosen = m_dialogs.openFile(m_parent, m_fileName, m_nameFilters))
            m_fileName = *chosen;
    }
    const QString& FileName() const { return m_fileName; }

private:
    Dialogs& m_dialogs;
    QWidget* m_parent;
    QStringList m_nameFilters;
    QString m_fileName;
};

} // namespace hgt
