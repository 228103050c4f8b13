#include "app/form1.h"

#include "app/app_icon.h"
#include "app/caption_fit.h"
#include "app/failure_summary.h"
#include "app/run_observer.h"
#include "app/texts.h"
#include "app/wrapping_button.h"
#include "platform/file_system.h"
#include "app/module_browse_folder.h"
#include "platform/settings_store.h"
#include "rasters/raster_sources.h"
#include "tiles/tile_runs.h"
#include "tiles/tile_folder.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QTimer>

#include <algorithm>
#include <iterator>
#include <utility>

namespace hgt {

namespace {

// Positions are kept in twips, as the layout was drawn; 15 twips make one device-independent pixel.
int px(int twips)
{
    return qRound(twips / 15.0);
}

QRect twipsRect(int left, int top, int width, int height)
{
    return {px(left), px(top), px(width), px(height)};
}

std::string toStd(const QString& text)
{
    return text.toStdString();
}

} // namespace

// Marks a run in progress for its lifetime: the command buttons are shown disabled meanwhile and
// their click handlers refuse to start a second run, and the path fields open no picker.
class Form1::RunGuard {
public:
    explicit RunGuard(Form1& form) : m_form(form)
    {
        ++m_form.m_runDepth;
        m_form.applyButtonStates();
        m_form.m_sinceEvents.invalidate(); // the first yield of a run serves the queue
        m_form.m_sinceShown.invalidate();  // and shows the progress
    }
    ~RunGuard()
    {
        m_form.showListLines();
        --m_form.m_runDepth;
        if (!m_form.runInProgress() && m_form.m_nextRunOptions)
            m_form.m_runOptions = *std::exchange(m_form.m_nextRunOptions, std::nullopt);
        m_form.applyButtonStates();
    }
    RunGuard(const RunGuard&) = delete;
    RunGuard& operator=(const RunGuard&) = delete;

private:
    Form1& m_form;
};

Form1::Form1(Dialogs& dialogs, WindowOptions runOptions, QWidget* parent)
    : QWidget(parent), m_dialogs(dialogs), m_runOptions(std::move(runOptions)),
      CommonDialogPrim(dialogs, this, {texts::tileFilter, texts::allFilesFilter}),
      CommonDialogSek(dialogs, this, {texts::tileFilter, texts::allFilesFilter})
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(texts::windowCaption);
    setWindowIcon(appIcon());
    resize(px(10164), px(7212));
    createControls();
}

Form1::~Form1() = default;

void Form1::setRunOptions(WindowOptions options)
{
    // The engine reads the options of a run in progress by reference, between its yields.
    if (runInProgress())
        m_nextRunOptions = std::move(options);
    else
        m_runOptions = std::move(options);
}

QSize Form1::sizeHint() const
{
    return {px(10164), px(7212)};
}

void Form1::createControls()
{
    auto label = [this](const char* name, const QString& text, QRect geometry) {
        auto* widget = new QLabel(text, this);
        widget->setObjectName(QLatin1String(name));
        widget->setWordWrap(true);
        widget->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget->setGeometry(geometry);
        fitCaptionToBox(widget);
        return widget;
    };
    auto field = [this](const char* name, const QString& text, QRect geometry) {
        auto* widget = new QLineEdit(text, this);
        widget->setObjectName(QLatin1String(name));
        widget->setGeometry(geometry);
        widget->installEventFilter(this);
        return widget;
    };
    auto button = [this](const char* name, const QString& caption, QRect geometry, bool enabled) {
        auto* widget = new WrappingButton(caption, this);
        widget->setObjectName(QLatin1String(name));
        widget->setGeometry(geometry);
        widget->setAutoDefault(false);
        m_wantedEnabled[widget] = enabled;
        widget->setEnabled(enabled);
        return widget;
    };

    Label1 = label("Label1", texts::label1, twipsRect(144, 120, 2052, 588));
    Label2 = label("Label2", texts::label2, twipsRect(96, 960, 2256, 240));
    TextPrimaerPfad = field("TextPrimaerPfad", texts::primaryInitial, twipsRect(2592, 48, 6564, 372));
    TextSekundaerPfad = field("TextSekundaerPfad", texts::secondaryInitial, twipsRect(2592, 864, 6564, 372));
    Command1 = button("Command1", texts::command1, twipsRect(1332, 1416, 2556, 504), false);
    Commandstop = button("Commandstop", texts::commandStop, twipsRect(2436, 6000, 924, 540), true);
    Label3 = label("Label3", texts::label3, twipsRect(216, 2268, 2280, 420));
    TextOrdner = field("TextOrdner", texts::folderInitial, twipsRect(2592, 2268, 6564, 372));
    CommandBatch = button("CommandBatch", texts::commandBatch, twipsRect(1332, 2880, 2556, 504), false);
    List1 = new QListWidget(this);
    List1->setObjectName(QStringLiteral("List1"));
    // Every line is one line of text: the view need not measure each line after a change.
    List1->setUniformItemSizes(true);
    List1->setGeometry(twipsRect(4668, 2856, 3948, 3696));
    CommandDiff = button("CommandDiff", texts::commandDiff, twipsRect(348, 3636, 2352, 696), true);

    // Stop is never disabled, so it is not among the buttons a run guards.
    m_wantedEnabled.erase(Commandstop);

    QWidget::setTabOrder(TextPrimaerPfad, TextSekundaerPfad);
    QWidget::setTabOrder(TextSekundaerPfad, Command1);
    QWidget::setTabOrder(Command1, Commandstop);
    QWidget::setTabOrder(Commandstop, TextOrdner);
    QWidget::setTabOrder(TextOrdner, CommandBatch);
    QWidget::setTabOrder(CommandBatch, List1);
    QWidget::setTabOrder(List1, CommandDiff);
    TextPrimaerPfad->setFocus();

    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(CommandBatch, &QPushButton::clicked, this, [this] { CommandBatch_Click(); });
    connect(CommandDiff, &QPushButton::clicked, this, [this] { CommandDiff_Click(); });
    connect(Commandstop, &QPushButton::clicked, this, [this] { Commandstop_Click(); });
    connect(TextOrdner, &QLineEdit::textChanged, this, [this] { TextOrdner_Change(); });
    connect(TextSekundaerPfad, &QLineEdit::textChanged, this, [this] { TextSekundaerPfad_Change(); });
}

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    // A mouse click into a path field opens its picker; reaching the field with Tab does not. During
    // a run no picker opens: a run must not wait inside a dialog, and a cancelled folder pick would
    // empty the field.
    if (event->type() == QEvent::MouseButtonRelease && !runInProgress()) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        auto* edit = qobject_cast<QLineEdit*>(watched);
        if (edit && mouse->button() == Qt::LeftButton && edit->rect().contains(mouse->position().toPoint())) {
            // The picker opens once the release has been delivered: a modal dialog run from inside
            // a mouse event leaves the toolkit's idea of the pressed buttons behind.
            void (Form1::*handler)() = edit == TextPrimaerPfad     ? &Form1::TextPrimaerPfad_Click
                                       : edit == TextSekundaerPfad ? &Form1::TextSekundaerPfad_Click
                                                                   : &Form1::TextOrdner_Click;
            QMetaObject::invokeMethod(this, handler, Qt::QueuedConnection);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::setButtonEnabled(QPushButton* button, bool enabled)
{
    m_wantedEnabled[button] = enabled;
    applyButtonStates();
}

void Form1::applyButtonStates()
{
    for (const auto& [button, enabled] : m_wantedEnabled)
        button->setEnabled(enabled && !runInProgress());
}

std::optional<RunOptions> Form1::runOptionsFor(const std::string& secondaryFolder)
{
    // The window's own field is a folder of HGT tiles; only the further entries may be rasters.
    RunOptions options = m_runOptions;
    std::vector<FillSource> further;
    for (const FurtherSource& source : m_runOptions.moreSources)
        further.push_back({source.path, nullptr, source.datum});
    // Heights are converted only where the user named a datum; else the run takes them as they are.
    if (ConvertsHeights(further, options.tileDatum) && options.tileDatum.empty())
        options.tileDatum = "egm96";
    // Every conversion is checked before the run makes anything: a missing grid refuses it here.
    Result<std::vector<FillSource>> opened = OpenFillSources(further, options.tileDatum);
    if (!opened) {
        showMessage(QString::fromStdString(opened.error().message));
        return std::nullopt;
    }
    options.sources = {{secondaryFolder, nullptr, {}}};
    std::move(opened->begin(), opened->end(), std::back_inserter(options.sources));
    return options;
}

void Form1::showMessage(const QString& text)
{
    m_dialogs.message(this, text);
}

void Form1::showRunMessages(const std::vector<std::string>& messages)
{
    if (messages.empty() || m_closeRequested)
        return;
    showMessage(failureSummary(messages));
}

void Form1::closeIfRequested()
{
    // The top-level window: Form1 itself, or the main window around it.
    if (m_closeRequested && !runInProgress())
        QTimer::singleShot(0, this, [this] { window()->close(); });
}

bool Form1::requestClose()
{
    if (!runInProgress())
        return true;
    // Let the run stop and clean up its files first; the window closes when the command ends.
    m_closeRequested = true;
    m_state.stopRequested = true;
    return false;
}

void Form1::closeEvent(QCloseEvent* event)
{
    if (!requestClose()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void Form1::runStarted(RunKind kind, std::size_t tileCount)
{
    m_runLines.runStarted(kind, !SeveralInFlight(m_runOptions, tileCount));
    if (m_observer)
        m_observer->runStarted(kind, tileCount);
}

void Form1::runFinished(RunRecord record)
{
    if (m_observer)
        m_observer->runFinished(record);
}

void Form1::Command1_Click()
{
    if (runInProgress())
        return;
    m_state.stopRequested = false;
    setButtonEnabled(Command1, false);
    if (!FileExists(toStd(TextPrimaerPfad->text()))) {
        showMessage(texts::choosePrimaryFirst);
        return;
    }
    std::vector<std::string> messages;
    if (IsTilePath(toStd(TextPrimaerPfad->text()))) {
        const std::string secondaryFolder = toStd(TextSekundaerPfad->text());
        const std::optional<RunOptions> options = runOptionsFor(secondaryFolder);
        if (!options) {
            setButtonEnabled(Command1, true);
            return;
        }
        RunGuard guard(*this);
        const std::string primaryFile = toStd(TextPrimaerPfad->text());
        runStarted(RunKind::Fill, 1);
        const TileResult result = MergeTile(m_state, *this, primaryFile, secondaryFolder, *options);
        if (!result.message().empty())
            messages.push_back(result.message());
        runFinished({RunKind::Fill, 1, {result}, result.end == RunEnd::Stopped, result.seconds});
    }
    if (!m_closeRequested) {
        showRunMessages(messages);
        showMessage(texts::ready);
    }
    setButtonEnabled(Command1, true);
    closeIfRequested();
}

void Form1::CommandBatch_Click()
{
    if (runInProgress())
        return;
    m_state.stopRequested = false;
    setButtonEnabled(CommandBatch, false);
    setButtonEnabled(Command1, false);
    m_state.logIndex.set(-1);

    if (!m_state.secondaryHasTiles) {
        showMessage(texts::noSecondaryFolder);
    } else if (!FolderExists(toStd(TextOrdner->text()))) {
        showMessage(texts::invalidBatchFolder);
    } else if (const std::string secondaryFolder = toStd(TextSekundaerPfad->text());
               const std::optional<RunOptions> options = runOptionsFor(secondaryFolder)) {
        std::vector<std::string> messages;
        {
            RunGuard guard(*this);
            // The tiles and the secondary folder are taken once, as the fields read now: an edit of
            // a field during the batch must not mix the sources of one batch.
            // A folder that cannot be listed holds no tiles.
            const std::vector<std::string> tiles =
                ListTiles(toStd(TextOrdner->text())).value_or(std::vector<std::string>{});
            runStarted(RunKind::Batch, tiles.size());
            BatchResult batch = MergeTiles(m_state, *this, tiles, secondaryFolder, *options);
            for (const TileResult& result : batch.tiles)
                if (!result.message().empty())
                    messages.push_back(result.message());
            runFinished({RunKind::Batch, tiles.size(), std::move(batch.tiles), batch.stopped, batch.seconds});
        }
        showRunMessages(messages);
    }
    setButtonEnabled(CommandBatch, true);
    setButtonEnabled(Command1, true);
    closeIfRequested();
}

void Form1::CommandDiff_Click()
{
    if (runInProgress())
        return;
    m_state.stopRequested = false;
    setButtonEnabled(CommandDiff, false);

    // The primary tile is checked before anything is asked or opened.
    const std::string primaryPath = toStd(TextPrimaerPfad->text());
    if (!FileExists(primaryPath)) {
        showMessage(texts::choosePrimaryFirst);
        setButtonEnabled(CommandDiff, true);
        return;
    }
    if (const Result<> checked = CheckTilePath(primaryPath); !checked) {
        showMessage(QString::fromStdString(checked.error().message));
        setButtonEnabled(CommandDiff, true);
        return;
    }

    CommonDialogSek.ShowOpen();
    const QString comparisonPath = CommonDialogSek.FileName();
    if (comparisonPath.isEmpty()) { // cancelled before any comparison tile was ever chosen
        setButtonEnabled(CommandDiff, true);
        return;
    }

    TileResult result;
    {
        RunGuard guard(*this);
        runStarted(RunKind::Difference, 1);
        result = MakeDifferenceTile(m_state, *this, primaryPath, toStd(comparisonPath), m_runOptions);
        runFinished({RunKind::Difference, 1, {result}, result.end == RunEnd::Stopped, result.seconds});
    }
    if (result.end == RunEnd::Stopped) {
        m_state.stopRequested = false;
    } else if (!m_closeRequested) {
        // The completion message names the tile from the field as it reads now.
        showMessage(result.end == RunEnd::Complete
                        ? texts::differenceDone
                              + QString::fromStdString(DifferenceTilePath(toStd(TextPrimaerPfad->text())))
                        : QString::fromStdString(result.message()));
    }
    setButtonEnabled(CommandDiff, true);
    closeIfRequested();
}

void Form1::Commandstop_Click()
{
    m_state.stopRequested = true;
    if (FileExists(toStd(TextPrimaerPfad->text())))
        setButtonEnabled(Command1, true);
}

void Form1::TextOrdner_Change()
{
    bool found = false;
    if (FolderExists(toStd(TextOrdner->text())) && FolderHoldsTile(toStd(TextOrdner->text()))) {
        found = true;
        setButtonEnabled(CommandBatch, true);
    }
    if (!found) {
        showMessage(texts::noTilesInFolder);
        setButtonEnabled(CommandBatch, false);
    }
}

void Form1::TextSekundaerPfad_Change()
{
    m_state.secondaryHasTiles = false;
    if (FolderExists(toStd(TextSekundaerPfad->text())) && FolderHoldsTile(toStd(TextSekundaerPfad->text()))) {
        m_state.secondaryHasTiles = true;
        setButtonEnabled(CommandBatch, true);
    }
    if (m_state.secondaryHasTiles)
        setButtonEnabled(Command1, true);
}

void Form1::TextPrimaerPfad_Click()
{
    if (m_pickerOpen || runInProgress())
        return;
    m_pickerOpen = true;
    CommonDialogPrim.ShowOpen();
    m_pickerOpen = false;
    // No test for a cancel: the dialog's remembered file (empty before the first) replaces the text.
    TextPrimaerPfad->setText(CommonDialogPrim.FileName());
}

void Form1::TextSekundaerPfad_Click()
{
    if (m_pickerOpen || runInProgress())
        return;
    TextSekundaerPfad->setText(browseFolder(texts::pickSecondaryFolder));
}

void Form1::TextOrdner_Click()
{
    if (m_pickerOpen || runInProgress())
        return;
    TextOrdner->setText(browseFolder(texts::pickBatchFolder));
}

QString Form1::browseFolder(const QString& title)
{
    m_pickerOpen = true;
    // No owner window, as the folder picker always had; the remembered folder is read afresh.
    const QString folder = ModuleBrowseFolder::BrowseFolder(m_dialogs, nullptr, title, [this] {
        return fRegAbfrageWert(SettingsStore::kCurrentUser, QStringLiteral("Software\\Karvel"),
                               QStringLiteral("LastDirZiel"));
    });
    m_pickerOpen = false;
    return folder;
}

QString Form1::fRegAbfrageWert(std::uint32_t section, const QString& key_name, const QString& indent) const
{
    // A sub key that cannot be opened, or a missing value, leaves the buffer all spaces: empty result.
    // The value lands at the start of a buffer of 256 spaces, followed by a NUL; the buffer is then
    // trimmed of spaces at both ends and cut at its first NUL. So leading spaces go, trailing ones stay.
    constexpr int kBufferLength = 256;
    QString buffer(kBufferLength, QLatin1Char(' '));
    if (const std::optional<QString> value = SettingsStore::read(section, key_name, indent)) {
        const QString text = value->left(kBufferLength - 1);
        buffer.replace(0, text.size(), text);
        buffer[text.size()] = QChar(u'\0');
    }
    qsizetype begin = 0;
    qsizetype end = buffer.size();
    while (begin < end && buffer[begin] == QLatin1Char(' '))
        ++begin;
    while (end > begin && buffer[end - 1] == QLatin1Char(' '))
        --end;
    QString result = buffer.mid(begin, end - begin);
    if (const qsizetype nul = result.indexOf(QChar(u'\0')); nul >= 0)
        result.truncate(nul);
    return result;
}

// A fill rewrites its line with a removal and an insertion at the same index, 129 times a
// tile. Done to List1 as they come, each would make the view lay out and repaint its rows; the
// lines are kept here and List1 takes them at most every kShowInterval, giving the same lines.
int Form1::listCount() const
{
    return static_cast<int>(m_lines.size());
}

void Form1::listInsert(int index, const std::string& text)
{
    const auto at = static_cast<std::size_t>(index);
    m_lines.insert(m_lines.begin() + index, text);
    m_firstChangedLine = std::min(m_firstChangedLine, at);
}

void Form1::listRemove(int index)
{
    const auto at = static_cast<std::size_t>(index);
    m_lines.erase(m_lines.begin() + index);
    m_firstChangedLine = std::min(m_firstChangedLine, at);
}

void Form1::showListLines()
{
    const auto shown = static_cast<std::size_t>(List1->count());
    const std::size_t common = std::min(shown, m_lines.size());
    for (std::size_t i = m_firstChangedLine; i < common; ++i) {
        QListWidgetItem* item = List1->item(static_cast<int>(i));
        const QString text = QString::fromStdString(m_lines[i]);
        if (item->text() != text)
            item->setText(text);
    }
    for (std::size_t i = shown; i > m_lines.size(); --i)
        delete List1->takeItem(static_cast<int>(i - 1));
    if (m_lines.size() > shown) {
        QStringList added;
        added.reserve(static_cast<qsizetype>(m_lines.size() - shown));
        for (std::size_t i = shown; i < m_lines.size(); ++i)
            added << QString::fromStdString(m_lines[i]);
        List1->addItems(added);
    }
    // New or removed rows would be laid out on a timer, and so repainted one serve after the
    // status: laid out now, the list and the status make one repaint.
    if (shown != m_lines.size())
        List1->doItemsLayout();
    m_firstChangedLine = m_lines.size();
}

void Form1::yieldToEvents()
{
    // The engine yields a few hundred times a tile. Serving the queue that often costs more than
    // the tile's work; every kEventInterval keeps STOP prompt.
    if (m_sinceEvents.isValid() && m_sinceEvents.elapsed() < m_eventInterval.count())
        return;
    // Each repaint in an X server waits for the server to take the last picture; progress shown
    // once per kShowInterval leaves the other serves nothing to repaint.
    if (!m_sinceShown.isValid() || m_sinceShown.elapsed() >= m_showInterval.count()) {
        showListLines();
        if (m_observer)
            m_observer->runProgress(m_state.posHigh);
        m_sinceShown.start(); // after the status's own clock, so that the status is due with the list
    }
    QCoreApplication::processEvents();
    m_sinceEvents.start();
}

void Form1::tileStarted(std::size_t index, std::size_t count, const std::string& tile)
{
    m_runLines.tileStarted();
    if (m_observer)
        m_observer->tileStarted(index, count, tile);
}

void Form1::progress(const RunProgress& progress)
{
    m_runLines.progress(progress.text);
}

void Form1::tileFinished(std::size_t, std::size_t, const TileResult& result)
{
    m_runLines.tileFinished(result);
    // A tile without its secondary makes the single fill usable again (it takes effect once no run
    // is in progress).
    if (result.end == RunEnd::MissingSecondary)
        setButtonEnabled(Command1, true);
}

} // namespace hgt
