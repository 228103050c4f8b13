#pragma once

// The window under test: created and shown for each test, with scripted dialogs, and helpers that
// drive its real widgets.

#include "tests/fake_dialogs.h"
#include "app/form1.h"
#include "tests/test_support.h"
#include "app/wrapping_button.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace hgt::test {

inline QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

class Form1Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        form = std::make_unique<Form1>(dialogs);
        form->show();
    }

    void TearDown() override
    {
        form.reset();
        for (QWidget* widget : QApplication::topLevelWidgets())
            EXPECT_FALSE(widget->isVisible()) << widget->metaObject()->className() << " left open";
    }

    QLineEdit* field(const char* name) { return form->findChild<QLineEdit*>(QLatin1String(name)); }
    WrappingButton* button(const char* name) { return form->findChild<WrappingButton*>(QLatin1String(name)); }
    QLineEdit* primary() { return field("TextPrimaerPfad"); }
    QLineEdit* secondary() { return field("TextSekundaerPfad"); }
    QLineEdit* batchFolder() { return field("TextOrdner"); }
    WrappingButton* command1() { return button("Command1"); }
    WrappingButton* batch() { return button("CommandBatch"); }
    WrappingButton* diff() { return button("CommandDiff"); }
    WrappingButton* stop() { return button("Commandstop"); }

    QStringList lines()
    {
        QStringList result;
        auto* list = form->findChild<QListWidget*>(QStringLiteral("List1"));
        for (int i = 0; i < list->count(); ++i)
            result << list->item(i)->text();
        return result;
    }

    // Replaces the field's text by typing, one change per keystroke.
    void type(QLineEdit* edit, const QString& text)
    {
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }

    void click(QPushButton* target) { QTest::mouseClick(target, Qt::LeftButton); }

    // Runs `action` at every yield of the window's runs until it returns true.
    void duringRun(std::function<bool()> action)
    {
        auto* timer = new QTimer(form.get());
        timer->setInterval(0);
        QObject::connect(timer, &QTimer::timeout, timer, [timer, action] {
            if (action())
                timer->stop();
        });
        timer->start();
    }

    // A secondary folder with a tile for every name, and a batch folder of primary tiles with voids.
    void makeTiles(const std::vector<std::string>& names, bool withVoids)
    {
        for (std::size_t i = 0; i < names.size(); ++i) {
            Bytes tile = plainTile(static_cast<std::uint32_t>(i));
            if (withVoids)
                setVoid(tile, 1000);
            writeBytes(temp / ("tiles/" + names[i]), tile);
            writeBytes(temp / ("secondary/" + names[i]), plainTile(99));
        }
    }

    TempFolder temp;
    FakeDialogs dialogs;
    std::unique_ptr<Form1> form;
};

} // namespace hgt::test
