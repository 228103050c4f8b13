#include "app/tile_viewer.h"

#include "app/app_icon.h"
#include "app/provenance_legend.h"
#include "app/tile_figures_panel.h"
#include "platform/thread_priority.h"
#include "tiles/tile_folder.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QShortcut>
#include <QThread>
#include <QThreadPool>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <cmath>

namespace hgt {

namespace {

// The viewer's texts, in one place.
const QString kTitle = QStringLiteral("%1 – Kachelansicht");
const QString kFit = QStringLiteral("Einpassen");
const QString kActualSize = QStringLiteral("1:1");
const QString kAsDifference = QStringLiteral("als Differenz anzeigen");
const QString kReading = QStringLiteral("Kachel wird gelesen und gezeichnet …");
const QString kScale = QStringLiteral("%1 %");
const QString kSample = QStringLiteral("Zeile %1, Spalte %2: %3");
const QString kMetres = QStringLiteral("%1 m");
const QString kVoid = QStringLiteral("Leerstelle");
const QString kWithShortcut = QStringLiteral("%1 (%2)");
const QString kShowProvenance = QStringLiteral("Herkunft anzeigen");
const QString kProvenanceTip = QStringLiteral("Woher jeder Wert kommt, aus %1");
const QString kReadingProvenance = QStringLiteral("Herkunft wird gelesen …");
const QString kSampleProvenance = QStringLiteral("%1 · %2");
const QString kProvenanceMismatch =
    QStringLiteral("Die Herkunftsdatei %1 passt nicht zu dieser Kachel: %2 Bytes statt %3 für %4 × %4 Werte");

// Pictures are drawn on threads of their own, one per viewer at most, never on the window's. A run in
// the main window must not wait for a picture: each drawing lowers its thread's priority (on Linux,
// where the pool's priority has no effect, the thread's nice value), and the thread keeps it.
QThreadPool& renderPool()
{
    static QThreadPool pool;
    static const bool configured = [] {
        pool.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
        pool.setThreadPriority(QThread::LowestPriority);
        return true;
    }();
    (void)configured;
    return pool;
}

QString numberText(int value, bool sign)
{
    QLocale locale(QLocale::German, QLocale::Germany);
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    QString text = locale.toString(value);
    if (sign && value > 0)
        text.prepend(QLatin1Char('+'));
    return text;
}

} // namespace

TileViewer::TileViewer(const QString& path, std::vector<std::int16_t> voidValues, QWidget* parent)
    : QWidget(parent, Qt::Window), m_path(path), m_voidValues(std::move(voidValues)), m_view(new TilePictureView(this)),
      m_figures(new TileFiguresPanel(this)), m_fit(new QPushButton(kFit, this)),
      m_actualSize(new QPushButton(kActualSize, this)), m_scale(new QLabel(this)),
      m_difference(new QCheckBox(kAsDifference, this)), m_status(new QLabel(this)),
      m_provenance(new QCheckBox(kShowProvenance, this)), m_provenanceLegend(new ProvenanceLegend(this)),
      m_provenanceError(new QLabel(this))
{
    setObjectName(QStringLiteral("TileViewer"));
    setAttribute(Qt::WA_DeleteOnClose);
    const QString name = QString::fromStdString(TileName(path.toStdString()));
    setWindowTitle(kTitle.arg(name));
    setWindowIcon(appIcon());

    m_fit->setObjectName(QStringLiteral("viewerFit"));
    m_actualSize->setObjectName(QStringLiteral("viewerActualSize"));
    m_scale->setObjectName(QStringLiteral("viewerScale"));
    m_difference->setObjectName(QStringLiteral("viewerAsDifference"));
    m_status->setObjectName(QStringLiteral("viewerStatus"));
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    for (QPushButton* button : {m_fit, m_actualSize})
        button->setAutoDefault(false);
    m_fit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    m_actualSize->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_1));
    m_fit->setToolTip(kWithShortcut.arg(kFit, m_fit->shortcut().toString(QKeySequence::NativeText)));
    m_actualSize->setToolTip(
        kWithShortcut.arg(kActualSize, m_actualSize->shortcut().toString(QKeySequence::NativeText)));
    m_difference->setChecked(LiesInDifferenceFolder(path.toStdString()));
    m_provenance->setObjectName(QStringLiteral("viewerProvenance"));
    m_provenanceError->setObjectName(QStringLiteral("viewerProvenanceError"));
    m_provenanceError->setWordWrap(true);
    m_provenanceError->hide();
    if (const QString companion = QString::fromStdString(ProvenancePath(path.toStdString()));
        companion != path && QFileInfo(companion).isFile()) {
        m_provenancePath = companion;
        m_provenance->setToolTip(kProvenanceTip.arg(QFileInfo(companion).fileName()));
    } else {
        m_provenance->hide();
    }

    auto* tools = new QHBoxLayout;
    tools->addWidget(m_fit);
    tools->addWidget(m_actualSize);
    tools->addWidget(m_scale);
    tools->addStretch(1);
    tools->addWidget(m_provenance);
    tools->addWidget(m_difference);

    auto* side = new QVBoxLayout;
    side->addWidget(m_figures);
    side->addWidget(m_provenanceLegend);
    side->addWidget(m_provenanceError);

    auto* body = new QHBoxLayout;
    body->addWidget(m_view, 1);
    body->addLayout(side);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(tools);
    layout->addLayout(body, 1);
    layout->addWidget(m_status);

    connect(m_fit, &QPushButton::clicked, m_view, &TilePictureView::fitToWindow);
    connect(m_actualSize, &QPushButton::clicked, m_view, &TilePictureView::showActualSize);
    auto zoomKeys = [this](QKeySequence::StandardKey key, double factor) {
        auto* shortcut = new QShortcut(key, this);
        connect(shortcut, &QShortcut::activated, m_view,
                [this, factor] { m_view->zoomBy(factor, QPointF(m_view->width() / 2.0, m_view->height() / 2.0)); });
    };
    zoomKeys(QKeySequence::ZoomIn, 1.25);
    zoomKeys(QKeySequence::ZoomOut, 0.8);
    connect(m_difference, &QCheckBox::toggled, this, [this](bool checked) { setShowDifference(checked); });
    connect(m_provenance, &QCheckBox::toggled, this, [this](bool checked) { setShowProvenance(checked); });
    connect(m_view, &TilePictureView::sampleHovered, this,
            [this](std::optional<SampleIndex> sample) { showSample(sample); });
    connect(m_view, &TilePictureView::scaleChanged, this, [this](double scale) { showScale(scale); });

    resize(1040, 800);
    startRender();
}

TileViewer::~TileViewer()
{
    // A picture still being drawn is abandoned; its thread holds nothing of this window.
    if (m_cancel)
        m_cancel->store(true);
}

bool TileViewer::showsProvenance() const
{
    return m_provenance->isChecked();
}

void TileViewer::setShowProvenance(bool shown)
{
    if (!offersProvenance() || (shown && !m_provenanceRefusal.isEmpty()))
        return;
    if (m_provenance->isChecked() != shown) {
        m_provenance->setChecked(shown); // comes back here through toggled
        return;
    }
    if (shown && !m_overlay && !m_provenanceWatcher)
        startProvenance();
    showOverlay();
}

void TileViewer::startProvenance()
{
    m_provenanceError->setText(kReadingProvenance);
    m_provenanceError->show();
    m_provenanceWatcher = new QFutureWatcher<RenderedProvenance>(this);
    QFutureWatcher<RenderedProvenance>* watcher = m_provenanceWatcher;
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] { provenanceFinished(watcher); });
    watcher->setFuture(QtConcurrent::run(&renderPool(), [path = m_provenancePath.toStdString()] {
        LowerThreadPriority();
        return RenderProvenanceTask(path);
    }));
}

void TileViewer::provenanceFinished(QFutureWatcher<RenderedProvenance>* watcher)
{
    m_overlay = watcher->result();
    m_provenanceWatcher = nullptr;
    watcher->deleteLater();
    m_provenanceReady = true;
    checkProvenanceGrid();
    showOverlay();
    emit provenanceLoaded();
}

// A companion of the other grid would be drawn at the wrong scale and counted wrong: once both
// sizes are known, it is refused and the check box says why.
void TileViewer::checkProvenanceGrid()
{
    if (!offersProvenance() || !m_samples || !m_provenanceRefusal.isEmpty())
        return;
    const qint64 side = m_samples->side;
    const qint64 size = m_overlay && m_overlay->map ? static_cast<qint64>(m_overlay->map->codes.size())
                                                    : QFileInfo(m_provenancePath).size();
    // A size of no grid at all is left to the reading, which names it when the overlay is asked for.
    if (size == side * side || (size != kTileSide * kTileSide && size != kTileSide3 * kTileSide3))
        return;
    const QLocale grouped(QLocale::German, QLocale::Germany);
    m_provenanceRefusal = kProvenanceMismatch.arg(QFileInfo(m_provenancePath).fileName(), grouped.toString(size),
                                                  grouped.toString(side * side), QString::number(side));
    m_provenance->setChecked(false);
    m_provenance->setEnabled(false);
    m_provenance->setToolTip(m_provenanceRefusal);
    showOverlay();
}

void TileViewer::showOverlay()
{
    const bool shown = showsProvenance() && m_overlay;
    const bool drawn = shown && m_overlay->map && m_provenanceRefusal.isEmpty();
    m_view->setOverlay(drawn ? m_overlay->levels : std::vector<QImage>{});
    m_provenanceLegend->setMap(drawn ? m_overlay->map : nullptr);
    m_provenanceLegend->setVisible(drawn);
    if (!m_provenanceRefusal.isEmpty()) {
        m_provenanceError->setText(m_provenanceRefusal);
        m_provenanceError->show();
        return;
    }
    if (shown)
        m_provenanceError->setText(m_overlay->error);
    m_provenanceError->setVisible(showsProvenance() && !m_provenanceError->text().isEmpty() && !drawn);
}

bool TileViewer::showsDifference() const
{
    return m_difference->isChecked();
}

void TileViewer::setShowDifference(bool difference)
{
    if (m_difference->isChecked() != difference) {
        m_difference->setChecked(difference); // comes back here through toggled
        return;
    }
    const PictureKind kind = difference ? PictureKind::Difference : PictureKind::Relief;
    if (kind != m_shownKind || !m_ready)
        startRender();
}

QString TileViewer::statusText() const
{
    return m_status->text();
}

void TileViewer::startRender()
{
    if (m_cancel)
        m_cancel->store(true);
    if (m_watcher) {
        m_watcher->disconnect(this);
        m_watcher->deleteLater();
    }
    m_ready = false;
    m_samples.reset();
    m_shownKind = showsDifference() ? PictureKind::Difference : PictureKind::Relief;
    m_view->setMessage(kReading);
    m_figures->clear(QString::fromStdString(TileName(m_path.toStdString())));
    m_scale->clear();
    m_status->clear();

    m_cancel = std::make_shared<std::atomic<bool>>(false);
    TileRenderRequest request{m_path.toStdString(), m_shownKind, m_voidValues};
    m_watcher = new QFutureWatcher<RenderedTile>(this);
    QFutureWatcher<RenderedTile>* watcher = m_watcher;
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] { renderFinished(watcher); });
    watcher->setFuture(QtConcurrent::run(&renderPool(), [request = std::move(request), cancel = m_cancel] {
        LowerThreadPriority();
        return RenderTileTask(request, *cancel);
    }));
}

void TileViewer::renderFinished(QFutureWatcher<RenderedTile>* watcher)
{
    if (watcher != m_watcher)
        return;
    const RenderedTile rendered = watcher->result();
    m_watcher = nullptr;
    watcher->deleteLater();
    if (rendered.cancelled)
        return;
    if (rendered.levels.empty()) {
        m_view->setMessage(rendered.error);
    } else {
        m_samples = rendered.samples;
        m_figures->setSummary(rendered.summary);
        m_view->setPicture(rendered.levels, rendered.samples->side);
        showScale(m_view->scale());
        checkProvenanceGrid();
    }
    m_ready = true;
    emit ready();
}

void TileViewer::showSample(std::optional<SampleIndex> sample)
{
    if (!sample || !m_samples) {
        m_status->clear();
        return;
    }
    const std::int16_t value = m_samples->at(sample->row, sample->column);
    const QString shown =
        m_samples->isVoid(value) ? kVoid : kMetres.arg(numberText(value, m_shownKind == PictureKind::Difference));
    QString text = kSample.arg(numberText(sample->row, false), numberText(sample->column, false), shown);
    if (showsProvenance() && m_overlay && m_overlay->map && m_overlay->map->side == m_samples->side) {
        const std::size_t at = static_cast<std::size_t>(sample->row) * static_cast<std::size_t>(m_overlay->map->side)
                               + static_cast<std::size_t>(sample->column);
        text = kSampleProvenance.arg(text, QString::fromStdString(ProvenanceLabel(m_overlay->map->codes[at])));
    }
    m_status->setText(text);
}

void TileViewer::showScale(double scale)
{
    const double percent = scale * 100;
    m_scale->setText(
        kScale.arg(QLocale(QLocale::German, QLocale::Germany).toString(percent, 'f', percent < 10 ? 1 : 0)));
}

} // namespace hgt
