// End to end: the real program in a real X server (run under xvfb-run, no window manager), driven
// with real input events through xdotool. Checks a single fill, a batch with its status line and
// run report, STOP during a batch and a difference tile against what this test computes itself,
// then closes the window. With HGTFILL_E2E_WINE naming hgtfill.exe, the same run drives the Windows
// program under Wine: paths are typed as Windows shows them (Z:\...), texts are read through the
// clipboard (Windows has no selection buffer), and the folder picker must open on the folder the
// registry value LastDirZiel names (shown in its parent, where its bare name picks it).

#include "tests/support/reference_fill.h"
#include "tests/support/tiles.h"

#include <QClipboard>
#include <QDir>
#include <QColor>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QThread>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <functional>
#include <iostream>

// Readable failure messages for texts.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace hgt::test {
namespace e2e_test {

const QString kCaption = QStringLiteral("1 Sec HGT -files Löcher füllen");
const QString kReportCaption = QStringLiteral("Bericht des letzten Laufs");

// Control centres in the area that holds the controls, in pixels (the layout's twips / 15). The
// area lies below the menu bar: see findControls().
const QPoint kPrimaryField(392, 15);
const QPoint kSecondaryField(392, 70);
const QPoint kBatchField(392, 163);
const QPoint kCommand1(174, 111);
const QPoint kCommandBatch(174, 209);
const QPoint kCommandDiff(101, 265);
const QPoint kCommandStop(193, 418);

QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

// The Windows program to drive under Wine instead of the Linux one, or empty.
QString wineProgram()
{
    return qEnvironmentVariable("HGTFILL_E2E_WINE");
}

// A path as the user types it into the program's dialogs: under Wine on drive Z:, which is the root.
QString typed(const std::string& path)
{
    if (wineProgram().isEmpty())
        return q(path);
    return QStringLiteral("Z:") + q(path).replace(QLatin1Char('/'), QLatin1Char('\\'));
}

// A text the program shows, with Windows paths written as the Linux program writes them.
QString asLinux(QString text)
{
    if (wineProgram().isEmpty())
        return text;
    text.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return text.replace(QStringLiteral("Z:/"), QStringLiteral("/"), Qt::CaseInsensitive);
}

QString xdotool(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    if (!process.waitForFinished(10000)) {
        ADD_FAILURE() << "xdotool did not answer: " << arguments.join(QLatin1Char(' ')).toStdString();
        process.kill();
        process.waitForFinished(1000);
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

Bytes tileWithVoids(std::uint32_t seed)
{
    Bytes tile = plainTile(seed);
    for (std::int64_t k : {std::int64_t{0}, std::int64_t{5000}, std::int64_t{3000000}, kTileSamples - 1})
        setVoid(tile, k);
    return tile;
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs an X server: run it under xvfb-run";
        QDir().mkpath(QStringLiteral(E2E_OUTPUT_DIR));
    }

    void TearDown() override
    {
        if (app.state() != QProcess::NotRunning) {
            app.kill();
            app.waitForFinished(5000);
        }
    }

    // Polls until the condition holds; past the deadline the test fails, saying what it waited for.
    bool waitFor(const QString& what, const std::function<bool()>& condition, int milliseconds = 20000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!condition()) {
            if (timer.elapsed() > milliseconds || app.state() == QProcess::NotRunning) {
                const QString shot = QStringLiteral(E2E_OUTPUT_DIR "/failure.png");
                screenshot(shot, false);
                if (app.state() != QProcess::NotRunning) {
                    for (const QString& id : visibleWindows())
                        std::cout << "  window " << id.toStdString() << " \""
                                  << xdotool({QStringLiteral("getwindowname"), id}).toStdString() << "\"\n";
                }
                ADD_FAILURE() << "timed out waiting for: " << what.toStdString() << " (screenshot "
                              << shot.toStdString() << ", program "
                              << (app.state() == QProcess::NotRunning ? "ended" : "running") << ")";
                return false;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(30);
        }
        return true;
    }

    QStringList visibleWindows()
    {
        const QString ids = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                                     QString::number(app.processId())});
        return ids.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // A window of the program other than the main window: a dialog or message box.
    QString dialogWindow()
    {
        for (const QString& id : visibleWindows())
            if (id != mainWindow)
                return id;
        return {};
    }

    QString waitForDialog(const QString& what)
    {
        QString id;
        waitFor(what, [&] { return !(id = dialogWindow()).isEmpty(); });
        return id;
    }

    QRect windowGeometry(const QString& window)
    {
        QRect result;
        const QString geometry = xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window});
        for (const QString& line : geometry.split(QLatin1Char('\n'))) {
            const QString value = line.section(QLatin1Char('='), 1);
            if (line.startsWith(QStringLiteral("X=")))
                result.moveLeft(value.toInt());
            else if (line.startsWith(QStringLiteral("Y=")))
                result.moveTop(value.toInt());
            else if (line.startsWith(QStringLiteral("WIDTH=")))
                result.setWidth(value.toInt());
            else if (line.startsWith(QStringLiteral("HEIGHT=")))
                result.setHeight(value.toInt());
        }
        return result;
    }

    void clickAt(QPoint point)
    {
        // No --sync: this xdotool waits forever for a move when the pointer is already in place.
        xdotool({QStringLiteral("mousemove"), QString::number(origin.x() + point.x()),
                 QString::number(origin.y() + point.y()), QStringLiteral("click"), QStringLiteral("1")});
    }

    void focus(const QString& window) { xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window}); }
    void typeText(const QString& text)
    {
        xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("2"), text});
    }
    void key(const QString& keys) { xdotool({QStringLiteral("key"), keys}); }

    // Chooses a path in the file or folder dialog that a click into a path field opens.
    // Gives the keyboard focus to the window and lets the program take it: without a window
    // manager, keys that arrive while it is still coming back from a dialog's own event loop can go
    // astray. Every step after it is still checked by polling.
    void activate(const QString& window)
    {
        focus(window);
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 300) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(20);
        }
    }

    // Does `action` now and again every `period` ms until `done` holds.
    bool repeatUntil(const QString& what, int period, const std::function<void()>& action,
                     const std::function<bool()>& done)
    {
        QElapsedTimer since;
        return waitFor(what, [&] {
            if (!since.isValid() || since.elapsed() > period) {
                action();
                since.start();
            }
            return done();
        });
    }

    // Chooses a path in the file or folder dialog that a click into a path field opens.
    void choosePath(const QString& dialog, const QString& path, const QString& what)
    {
        repeatUntil(
            what + QStringLiteral(" to take the path and close"), 3000,
            [&] {
                activate(dialog);
                key(QStringLiteral("ctrl+a"));
                typeText(path);
                key(QStringLiteral("Return"));
            },
            [&] { return !visibleWindows().contains(dialog); });
        activate(mainWindow);
    }

    // Returns the dialog's title.
    QString pickThroughDialog(QPoint field, const QString& path, const QString& what)
    {
        clickAt(field);
        const QString dialog = waitForDialog(what);
        const QString title = xdotool({QStringLiteral("getwindowname"), dialog});
        choosePath(dialog, path, what);
        return title;
    }

    // The text of the field that has the keyboard focus, copied through the clipboard.
    QString focusedFieldText()
    {
        QGuiApplication::clipboard()->setText(QStringLiteral("<nothing copied>"));
        key(QStringLiteral("ctrl+a"));
        key(QStringLiteral("ctrl+c"));
        QString text;
        waitFor(
            QStringLiteral("the field's text on the clipboard"),
            [&] {
                text = QGuiApplication::clipboard()->text();
                return text != QStringLiteral("<nothing copied>") && !text.isEmpty();
            },
            5000);
        return text;
    }

    // Clicks the button until one of the program's dialogs opens: a click that comes while the button
    // is still disabled (the end of a run, a change handler still to run) is ignored by the program.
    QString clickUntilDialog(QPoint button, const QString& what)
    {
        QString id;
        QElapsedTimer sinceClick;
        waitFor(what, [&] {
            if (!sinceClick.isValid() || sinceClick.elapsed() > 1500) {
                clickAt(button);
                sinceClick.start();
            }
            return !(id = dialogWindow()).isEmpty();
        });
        return id;
    }

    // Reads the text of the open message box by selecting it with a triple click (which puts it
    // into the X selection), then closes the box with Escape.
    QString readAndCloseMessage(const QString& what, QString box = {})
    {
        if (box.isEmpty())
            box = waitForDialog(what);
        const QRect boxGeometry = windowGeometry(box);
        const QString text = selectedTextAt(QPoint(boxGeometry.center().x(), boxGeometry.top() + 16), what);
        repeatUntil(
            what + QStringLiteral(" to close"), 1000,
            [&] {
                activate(box);
                key(QStringLiteral("Escape"));
            },
            [&] { return !visibleWindows().contains(box); });
        return text;
    }

    void screenshot(const QString& path, bool windowOnly = true)
    {
        QScreen* screen = QGuiApplication::primaryScreen();
        const QRect window = windowOnly ? windowGeometry(mainWindow) : QRect();
        const QPixmap shot = windowOnly ? screen->grabWindow(0, window.x(), window.y(), window.width(), window.height())
                                        : screen->grabWindow(0, 0, 0, -1, -1);
        shot.save(path);
    }

    // Where the controls' area begins: below the menu bar, whose height depends on the font. The
    // inside of the primary field is the first white below the window's top in the field's column;
    // it begins 2 px below the field's top edge at y = 3.
    bool findControls()
    {
        const QRect window = windowGeometry(mainWindow);
        int top = -1;
        waitFor(QStringLiteral("the primary field drawn in the window"), [&] {
            const QImage shot = QGuiApplication::primaryScreen()
                                    ->grabWindow(0, window.x() + kPrimaryField.x(), window.y(), 1, window.height())
                                    .toImage();
            // A white menu bar (the Windows style's) at the top is not the field.
            int y = 0;
            while (y < shot.height() && shot.pixelColor(0, y) == QColor(Qt::white))
                ++y;
            for (; y < shot.height(); ++y)
                if (shot.pixelColor(0, y) == QColor(Qt::white)) {
                    top = y - 5;
                    return true;
                }
            return false;
        });
        origin = window.topLeft() + QPoint(0, top);
        // The menu bar above, the status bar below: the 481 px of the controls fit between.
        return top > 0 && top + 481 < window.height();
    }

    // The text of a selectable label or box at `point` (screen coordinates), selected with a triple
    // click into the X selection.
    // Under Wine the selection is copied with Ctrl+C onto the clipboard, which Wine shares with X.
    QString selectedTextAt(QPoint point, const QString& what)
    {
        const bool wine = !wineProgram().isEmpty();
        const QClipboard::Mode mode = wine ? QClipboard::Clipboard : QClipboard::Selection;
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->setText(QStringLiteral("<nothing selected>"), mode);
        QString text;
        repeatUntil(
            QStringLiteral("the text of ") + what, 1000,
            [&] {
                xdotool({QStringLiteral("mousemove"), QString::number(point.x()), QString::number(point.y()),
                         QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("3"),
                         QStringLiteral("--delay"), QStringLiteral("40"), QStringLiteral("1")});
                if (wine)
                    key(QStringLiteral("ctrl+c"));
            },
            [&] {
                text = clipboard->text(mode);
                return text != QStringLiteral("<nothing selected>") && !text.isEmpty();
            });
        return asLinux(text);
    }

    // The status bar's line, at the window's bottom left.
    QString statusLine()
    {
        const QRect window = windowGeometry(mainWindow);
        return selectedTextAt(window.bottomLeft() + QPoint(40, -9), QStringLiteral("the status bar"));
    }

    void closeMainWindow()
    {
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        ASSERT_NE(x11, nullptr);
        xcb_connection_t* connection = x11->connection();
        auto atom = [connection](const char* name) {
            const auto cookie = xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
            xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
            const xcb_atom_t result = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
            std::free(reply);
            return result;
        };
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = mainWindow.toUInt();
        event.type = atom("WM_PROTOCOLS");
        event.data.data32[0] = atom("WM_DELETE_WINDOW");
        event.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(connection, 0, event.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
        xcb_flush(connection);
    }

    QProcess app;
    QString mainWindow;
    QPoint origin;
};

TEST_F(EndToEnd, FillBatchStopDifferenceAndClose)
{
    TempFolder temp;
    const std::string tiles = temp / "tiles", secondary = temp / "secondary", batch = temp / "batch",
                      stopBatch = temp / "stopbatch", compare = temp / "compare";
    const Bytes primary = tileWithVoids(1);
    writeBytes(tiles + "/N47E011.hgt", primary);
    std::vector<Bytes> secondaries;
    for (int i = 0; i < 2; ++i) {
        secondaries.push_back(plainTile(10 + i));
        writeBytes(secondary + "/N47E01" + std::to_string(1 + i) + ".hgt", secondaries.back());
        writeBytes(batch + "/N47E01" + std::to_string(1 + i) + ".hgt", tileWithVoids(20 + i));
    }
    writeBytes(batch + "/notes.txt", {1, 2});
    const auto stopTile = [](int i) { return "N50E" + std::string(i < 10 ? "00" : "0") + std::to_string(i) + ".hgt"; };
    for (int i = 1; i <= 12; ++i) {
        const std::string name = stopTile(i);
        std::filesystem::create_directories(stopBatch);
        std::filesystem::create_hard_link(batch + "/N47E011.hgt", stopBatch + "/" + name);
        std::filesystem::create_hard_link(secondary + "/N47E011.hgt", secondary + "/" + name);
    }
    const Bytes comparison = plainTile(30);
    writeBytes(compare + "/N47E011.hgt", comparison);
    std::filesystem::create_directories(temp / "config");
    std::filesystem::create_directories(temp / "elsewhere");

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), q(temp / "config"));
    app.setProcessEnvironment(environment);
    app.setWorkingDirectory(q(temp / "elsewhere")); // the program works from any folder
    const bool wine = !wineProgram().isEmpty();
    if (wine) {
        // The remembered folder, as another program of the user's left it in the registry.
        QProcess reg;
        reg.start(QStringLiteral("wine"),
                  {QStringLiteral("reg"), QStringLiteral("add"), QStringLiteral("HKCU\\Software\\Karvel"),
                   QStringLiteral("/v"), QStringLiteral("LastDirZiel"), QStringLiteral("/d"), typed(batch),
                   QStringLiteral("/f")});
        ASSERT_TRUE(reg.waitForFinished(60000));
        ASSERT_EQ(reg.exitCode(), 0);
        app.start(QStringLiteral("wine"), {wineProgram()});
    } else {
        app.start(QStringLiteral(HGTFILL_BINARY), {});
    }
    ASSERT_TRUE(app.waitForStarted(10000));

    ASSERT_TRUE(waitFor(QStringLiteral("the main window \"") + kCaption + QLatin1Char('"'), [&] {
        mainWindow = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                              QStringLiteral("^1 Sec HGT -files")});
        return !mainWindow.isEmpty() && !mainWindow.contains(QLatin1Char('\n'));
    }));
    ASSERT_TRUE(findControls()) << "the controls' area was not found below the menu bar";

    {
        SCOPED_TRACE("single fill");
        // Qt's own dialogs speak German, whatever the locale the program was started in; the native
        // dialogs on Windows speak the system's language.
        const QString title =
            pickThroughDialog(kPrimaryField, typed(tiles + "/N47E011.hgt"), QStringLiteral("the primary file dialog"));
        if (!wine) {
            EXPECT_EQ(title, QStringLiteral("Öffnen"));
        }
        key(QStringLiteral("Tab")); // from the primary field into the secondary folder field
        typeText(typed(secondary));
        ASSERT_EQ(focusedFieldText(), typed(secondary)) << "the path typed after Tab went elsewhere";
        const QString what = QStringLiteral("the \"ready\" message");
        EXPECT_EQ(readAndCloseMessage(what, clickUntilDialog(kCommand1, what)), QStringLiteral("ready"));
        EXPECT_TRUE(sameTile(readBytes(tiles + "/Merged/N47E011.hgt"), FilledTile(primary, secondaries[0])));
    }
    {
        SCOPED_TRACE("batch");
        // Under Wine the picker opens with the remembered folder selected: its bare name is enough.
        pickThroughDialog(kBatchField, wine ? QStringLiteral("batch") : q(batch),
                          QStringLiteral("the batch folder picker"));
        // The folder's change handling enables the button once the picker has returned; a click that
        // comes before it is ignored, so click again until the batch has run.
        QElapsedTimer sinceClick;
        waitFor(QStringLiteral("both tiles of the batch in Merged"), [&] {
            if (!sinceClick.isValid() || sinceClick.elapsed() > 1500) {
                clickAt(kCommandBatch);
                sinceClick.start();
            }
            return std::filesystem::exists(batch + "/Merged/N47E012.hgt");
        });
        for (int i = 0; i < 2; ++i)
            EXPECT_TRUE(readBytes(batch + "/Merged/N47E01" + std::to_string(1 + i) + ".hgt")
                        == FilledTile(tileWithVoids(20 + i), secondaries[i]))
                << i;
        EXPECT_TRUE(dialogWindow().isEmpty()) << "a batch that went well shows no message";
        QString status;
        waitFor(QStringLiteral("the status line of the finished batch"), [&] {
            status = statusLine();
            return status.startsWith(QStringLiteral("Fertig: "));
        });
        EXPECT_TRUE(status.startsWith(QStringLiteral("Fertig: 2 gefüllt · "))) << status.toStdString();
        // One click into the line ends its selection, so that the picture shows the window as it is.
        // (Past the double-click interval, and beside the text, so that it selects nothing itself.)
        const QRect window = windowGeometry(mainWindow);
        QThread::msleep(800);
        xdotool({QStringLiteral("mousemove"), QString::number(window.right() - 20),
                 QString::number(window.bottom() - 9), QStringLiteral("click"), QStringLiteral("1")});
        QThread::msleep(300);
        screenshot(QStringLiteral(E2E_OUTPUT_DIR "/hgtfill-window.png"));
    }
    {
        SCOPED_TRACE("run report");
        // Ansicht → Bericht des letzten Laufs …, by its access keys.
        QString report;
        repeatUntil(
            QStringLiteral("the report window"), 3000,
            [&] {
                activate(mainWindow);
                key(QStringLiteral("alt+a"));
                key(QStringLiteral("b"));
            },
            [&] {
                report = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                                  QLatin1Char('^') + kReportCaption + QLatin1Char('$')});
                return !report.isEmpty();
            });
        // All rows copied from the table, tab-separated, as a spreadsheet takes them.
        QGuiApplication::clipboard()->setText(QStringLiteral("<nothing copied>"));
        QString copied;
        repeatUntil(
            QStringLiteral("the report's rows on the clipboard"), 2000,
            [&] {
                activate(report);
                key(QStringLiteral("ctrl+a"));
                key(QStringLiteral("ctrl+c"));
            },
            [&] {
                copied = QGuiApplication::clipboard()->text();
                return copied != QStringLiteral("<nothing copied>") && !copied.isEmpty();
            });
        const QStringList rows = copied.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        ASSERT_EQ(rows.size(), 2) << copied.toStdString();
        for (int i = 0; i < 2; ++i) {
            const QStringList cells = rows[i].split(QLatin1Char('\t'));
            ASSERT_EQ(cells.size(), 8) << rows[i].toStdString();
            EXPECT_EQ(cells[1], QStringLiteral("N47E01%1.hgt").arg(1 + i));
            EXPECT_EQ(cells[2], QStringLiteral("gefüllt"));
            EXPECT_EQ(cells[3], QStringLiteral("4")); // the four voids of tileWithVoids
            EXPECT_EQ(cells[5], QStringLiteral("0"));
        }
        const QRect reportGeometry = windowGeometry(report);
        QGuiApplication::primaryScreen()
            ->grabWindow(0, reportGeometry.x(), reportGeometry.y(), reportGeometry.width(), reportGeometry.height())
            .save(QStringLiteral(E2E_OUTPUT_DIR "/report-window.png"));
        repeatUntil(
            QStringLiteral("the report window to close"), 1000,
            [&] {
                activate(report);
                key(QStringLiteral("Escape"));
            },
            [&] { return !visibleWindows().contains(report); });
        activate(mainWindow);
    }
    {
        SCOPED_TRACE("STOP during a batch");
        pickThroughDialog(kBatchField, typed(stopBatch), QStringLiteral("the batch folder picker"));
        // Batch and STOP in one go, as fast as xdotool can: STOP lands in one of the first tiles.
        xdotool({QStringLiteral("mousemove"), QString::number(origin.x() + kCommandBatch.x()),
                 QString::number(origin.y() + kCommandBatch.y()), QStringLiteral("mousedown"), QStringLiteral("1"),
                 QStringLiteral("mouseup"), QStringLiteral("1"), QStringLiteral("mousemove"),
                 QString::number(origin.x() + kCommandStop.x()), QString::number(origin.y() + kCommandStop.y()),
                 QStringLiteral("mousedown"), QStringLiteral("1"), QStringLiteral("mouseup"), QStringLiteral("1")});
        // The batch is over once a single fill can start again: it answers "ready".
        const QString what = QStringLiteral("the \"ready\" message after the stopped batch");
        EXPECT_EQ(readAndCloseMessage(what, clickUntilDialog(kCommand1, what)), QStringLiteral("ready"));
        int written = 0;
        for (int i = 1; i <= 12; ++i)
            written += std::filesystem::exists(stopBatch + "/Merged/" + stopTile(i));
        EXPECT_LE(written, 6) << "STOP must end the batch";
        EXPECT_FALSE(std::filesystem::exists(stopBatch + "/Merged/" + stopTile(12)));
        // Only whole tiles: nothing half-written is left behind.
        if (std::filesystem::exists(stopBatch + "/Merged")) {
            for (const auto& entry : std::filesystem::directory_iterator(stopBatch + "/Merged"))
                EXPECT_EQ(std::filesystem::file_size(entry.path()), static_cast<std::uintmax_t>(kTileBytes));
        }
        std::cout << "tiles written before STOP ended the batch: " << written << " of 12\n";
    }
    {
        SCOPED_TRACE("difference tile");
        const QString dialog = clickUntilDialog(kCommandDiff, QStringLiteral("the comparison file dialog"));
        choosePath(dialog, typed(compare + "/N47E011.hgt"), QStringLiteral("the comparison file dialog"));
        EXPECT_EQ(readAndCloseMessage(QStringLiteral("the completion message")),
                  QStringLiteral("Vergleichs file fertig unter ") + q(tiles + "/DIFFS/N47E011.hgt"));
        EXPECT_TRUE(sameTile(readBytes(tiles + "/DIFFS/N47E011.hgt"), DifferenceTile(primary, comparison)));
    }
    {
        SCOPED_TRACE("close");
        closeMainWindow();
        EXPECT_TRUE(waitFor(QStringLiteral("the program to end after its window was closed"),
                            [&] { return app.state() == QProcess::NotRunning || app.waitForFinished(50); }));
        EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(app.exitCode(), 0);
    }
}

} // namespace e2e_test
} // namespace hgt::test

int main(int argc, char** argv)
{
    // A real X connection: the xcb platform, never offscreen.
    if (!qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    else
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
