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

    TilePictureView* pictureView() const { return m_view; }
    TileFiguresPanel* figures() const { return m_figures; }
    // "Zeile r, Spalte c: v m" for the sample under the pointer.
    QString statusText() const;

signals:
    // The tile has been drawn, or could not be.
    void ready();

private:
    void startRender();
    void renderFinished(QFutureWatcher<RenderedTile>* watcher);
    void showSample(std::optional<SampleIndex> sample);
    void showScale(double scale);

    QString m_path;
    std::vector<std::int16_t> m_voidValues;
    TilePictureView* m_view;
    TileFiguresPanel* m_figures;
    QPushButton* m_fit;
    QPushButton* m_actualSize;
    QLabel* m_scale;
    QCheckBox* m_difference;
    QLabel* m_status;

    QFutureWatcher<RenderedTile>* m_watcher = nullptr;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    std::shared_ptr<const TileSamples> m_samples;
    PictureKind m_shownKind = PictureKind::Relief;
    bool m_ready = false;
};

} // namespace hgt
