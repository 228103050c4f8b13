#pragma once

// The window under test, Form1 alone or inside the main window: created and shown for each test,
// with scripted dialogs, and helpers that drive its real widgets.

#include "tests/fake_dialogs.h"
#include "tests/options_store.h"
#include "app/form1.h"
#include "app/main_window.h"
#include "tests/support/tiles.h"
#include "app/wrapping_button.h"

#include <QAction>
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

// The helpers shared by the tests of Form1 alone and of the main window around it.
class WindowFixture : public ::testing::Test {
protected:
    // The controls under test.
    virtual Form1& controls() = 0;

    static void expectNoWindowLeftOpen()
    {
        for (QWidget* widget : QApplication::topLevelWidgets())
            EXPECT_FALSE(widget->isVisible()) << widget->metaObject()->className() << " left open";
    }

    QLineEdit* field(const char* name) { return controls().findChild<QLineEdit*>(QLatin1String(name)); }
    WrappingButton* button(const char* name) { return controls().findChild<WrappingButton*>(QLatin1String(name)); }
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
        auto* list = controls().findChild<QListWidget*>(QStringLiteral("List1"));
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

    // Runs `action` whenever a run serves the event queue, until it returns true.
    void duringRun(std::function<bool()> action)
    {
        auto* timer = new QTimer(&controls());
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

    // Outputs need not reach the disk in these tests; the engine's durability tests see to that.
    void skipSync()
    {
        WindowOptions options = controls().runOptions();
        options.durable = false;
        controls().setRunOptions(options);
    }

    TempFolder temp;
    FakeDialogs dialogs;
};

class Form1Test : public WindowFixture {
protected:
    void SetUp() override
    {
        form = std::make_unique<Form1>(dialogs);
        // These tests act at given points of a run (duringRun): the queue is served at every yield.
        form->setEventInterval(std::chrono::milliseconds{0});
        skipSync();
        form->show();
    }

    void TearDown() override
    {
        form.reset();
        expectNoWindowLeftOpen();
    }

    Form1& controls() override { return *form; }

    std::unique_ptr<Form1> form;
};

// The main window as the program shows it, serving the event queue at its own pace.
class MainWindowTest : public WindowFixture {
protected:
    void SetUp() override
    {
        window = std::make_unique<MainWindow>(dialogs);
        skipSync();
        window->show();
    }

    void TearDown() override
    {
        window.reset();
        expectNoWindowLeftOpen();
    }

    Form1& controls() override { return window->form(); }

    std::unique_ptr<MainWindow> window;
};

// The main window started and closed with the program's options store gone, and its menu entries
// found by object name.
class MainWindowOptionsTest : public MainWindowTest {
protected:
    void SetUp() override
    {
        removeOptionsStore();
        MainWindowTest::SetUp();
    }
    void TearDown() override
    {
        MainWindowTest::TearDown();
        removeOptionsStore();
    }

    QAction* entry(const char* name)
    {
        auto* action = window->findChild<QAction*>(QLatin1String(name));
        EXPECT_NE(action, nullptr) << name;
        return action;
    }
};

} // namespace hgt::test
