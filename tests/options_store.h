#pragma once

// The program's own settings store in the GUI tests: it lives below the test run's XDG_CONFIG_HOME
// (set in gui_test_main.cpp), and every test that may write it starts and ends with it gone.

#include "app/run_options_settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace hgt::test {

inline QString configHome()
{
    return qEnvironmentVariable("XDG_CONFIG_HOME");
}

// Also drops what a failed write may have left pending in Qt's cache of the file.
inline void removeOptionsStore()
{
    const QString folder = configHome() + QStringLiteral("/hgtfill");
    if (QFileInfo(folder).isFile())
        QFile::remove(folder);
    {
        QSettings store(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("hgtfill"),
                        QStringLiteral("hgtfill"));
        store.clear();
        store.sync();
    }
    QFile::remove(RunOptionsSettings::location());
    QDir(configHome()).rmdir(QStringLiteral("hgtfill"));
}

} // namespace hgt::test
