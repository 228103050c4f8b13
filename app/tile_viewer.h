#pragma once

#include "app/tile_picture_view.h"
#include "app/tile_render_task.h"

#include <QFutureWatcher>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;

namespace hgt {

class ProvenanceLegend;
class TileFiguresPanel;

// A window that shows one tile: the picture (shaded relief, or the difference colours with their
// legend) beside its figures, zoom and pan, and the sample under the pointer. It reads and draws
// the tile on a thread of lowered priority and takes the finished picture on the window's thread,
// so neither the main window nor a run in progress waits for it. Several may be open.
class TileViewer : public QWidget {
    Q_OBJECT
public:
    // A tile in a folder DIFFS is shown as a difference; an elevation tile's voids are `voidValues`.
    TileViewer(const QString& path, std::vector<std::int16_t> voidValues, QWidget* parent = nullptr);
    ~TileViewer() override;

    const QString& path() const { return m_path; }
    // The picture, or the reason why there is none, is shown.
    bool isReady() const { return m_ready; }
    bool showsDifference() const;
    // "als Differenz anzeigen": draws the tile again the other way.
    void setShowDifference(bool difference);

    // The provenance companion beside the tile (<name>.src, as a fill writes it), if there is one:
    // only then "Herkunft anzeigen" is offered.
    const QString& provenancePath() const { return m_provenancePath; }
    bool offersProvenance() const { return !m_provenancePath.isEmpty(); }
    bool showsProvenance() const;
    // "Herkunft anzeigen": the companion over the picture with its legend; read once, on first show.
    void setShowProvenance(bool shown);
    // The companion has been read and drawn, or could not be.
    bool provenanceReady() const { return m_provenanceReady; }
    // Why the companion is not offered although it is there (it is not of the tile's grid); empty if it is.
    const QString& provenanceRefusal() const { return m_provenanceRefusal; }

    TilePictureView* pictureView() const { return m_view; }
    ProvenanceLegend* provenanceLegend() const { return m_provenanceLegend; }
    TileFiguresPanel* figures() const { return m_figures; }
    // "Zeile r, Spalte c: v m" for the sample under the pointer.
    QString statusText() const;

signals:
    // The tile has been drawn, or could not be.
    void ready();
    // The same for the provenance companion.
    void provenanceLoaded();

private:
    void startRender();
    void renderFinished(QFutureWatcher<RenderedTile>* watcher);
    void showSample(std::optional<SampleIndex> sample);
    void showScale(double scale);
    void startProvenance();
    void provenanceFinished(QFutureWatcher<RenderedProvenance>* watcher);
    void showOverlay();
    void checkProvenanceGrid();

    QString m_path;
    std::vector<std::int16_t> m_voidValues;
    TilePictureView* m_view;
    TileFiguresPanel* m_figures;
    QPushButton* m_fit;
    QPushButton* m_actualSize;
    QLabel* m_scale;
    QCheckBox* m_difference;
    QLabel* m_status;
    QCheckBox* m_provenance;
    ProvenanceLegend* m_provenanceLegend;
    QLabel* m_provenanceError;
    QString m_provenancePath;
    QString m_provenanceRefusal;
    QFutureWatcher<RenderedProvenance>* m_provenanceWatcher = nullptr;
    std::optional<RenderedProvenance> m_overlay;
    bool m_provenanceReady = false;

    QFutureWatcher<RenderedTile>* m_watcher = nullptr;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    std::shared_ptr<const TileSamples> m_samples;
    PictureKind m_shownKind = PictureKind::Relief;
    bool m_ready = false;
};

} // namespace hgt
