// Times the tile viewer on a full 1" tile:
//   viewer_bench [--repeat N] [TILE]   without TILE: generated mountains with 5 % voids
// - the render thread's work (read, figures, picture in bands, the smaller copies), called directly;
// - a viewer opened offscreen until its ready signal, with the longest stretch the window's thread
//   went without serving its event queue meanwhile (the viewer's share of it: taking the picture),
//   and one repaint of the fitted picture.
// Prints the best and the median of N runs (default 7) in milliseconds.
//   viewer_bench --during-batch [--repeat N]   a batch of 24 generated tiles through the main window
//   (offscreen, unsynced), alone and with 4 viewers opened as it starts, alternating: the medians
//   and their ratio, how much the viewers slow a run.
//   viewer_bench --show [--seconds S] TILE...   opens viewers in the window system for S seconds
//   (default 30), to look at them or take a screenshot.

#include "app/form1.h"
#include "app/main_window.h"
#include "app/tile_render_task.h"
#include "app/tile_viewer.h"
#include "bench/silent_dialogs.h"
#include "bench/terrain.h"
#include "tiles/tile_folder.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Series {
    const char* what;
    std::vector<double> ms;

    void print()
    {
        std::sort(ms.begin(), ms.end());
        std::printf("%-40s best %7.1f ms   median %7.1f ms\n", what, ms.front(), ms[ms.size() / 2]);
    }
};

double since(const QElapsedTimer& timer)
{
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

std::string generatedTile(const std::filesystem::path& folder)
{
    const hgt::bench::Terrain mountains = hgt::bench::MakeMountains();
    const std::vector<std::uint8_t> bytes = hgt::bench::TileBytes(mountains, hgt::bench::SteepVoids(mountains, 0.05));
    std::filesystem::create_directories(folder);
    const std::filesystem::path path = folder / "N47E011.hgt";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path.string();
}

using bench::SilentDialogs;

constexpr int kBatchTiles = 24;

int duringBatch(const std::filesystem::path& work, int repeat)
{
    const std::string tile = generatedTile(work / "tiles");
    const hgt::bench::Terrain mountains = hgt::bench::MakeMountains();
    const std::vector<std::uint8_t> whole = hgt::bench::TileBytes(mountains);
    for (int i = 1; i <= kBatchTiles; ++i) {
        const std::string name =
            "N47E" + std::to_string(100 + i).substr(1) + "1.hgt"; // N47E011.hgt is the generated one
        if (i > 1)
            std::filesystem::copy_file(tile, work / "tiles" / name, std::filesystem::copy_options::overwrite_existing);
        std::filesystem::create_directories(work / "secondary");
        std::ofstream out(work / "secondary" / name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(whole.data()), static_cast<std::streamsize>(whole.size()));
    }
    SilentDialogs dialogs;
    hgt::WindowOptions options;
    options.durable = false;
    hgt::MainWindow window(dialogs, options);
    window.show();
    hgt::Form1& form = window.form();
    form.findChild<QLineEdit*>(QStringLiteral("TextOrdner"))
        ->setText(QString::fromStdString((work / "tiles").string()));
    form.findChild<QLineEdit*>(QStringLiteral("TextSekundaerPfad"))
        ->setText(QString::fromStdString((work / "secondary").string()));
    auto* batch = form.findChild<QPushButton*>(QStringLiteral("CommandBatch"));

    Series alone{"batch alone", {}};
    Series watched{"batch with 4 viewers opened at its start", {}};
    for (int i = 0; i < repeat; ++i)
        for (Series* series : {&alone, &watched}) {
            std::filesystem::remove_all(work / "tiles/Merged");
            std::vector<hgt::TileViewer*> viewers;
            if (series == &watched)
                QTimer::singleShot(0, &window, [&] {
                    for (int v = 0; v < 4; ++v)
                        viewers.push_back(window.viewTile(QString::fromStdString(tile)));
                });
            QElapsedTimer timer;
            timer.start();
            batch->click();
            series->ms.push_back(since(timer));
            // The viewers finish before the next round starts.
            for (hgt::TileViewer* viewer : viewers) {
                while (!viewer->isReady())
                    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
                delete viewer;
            }
            if (!window.lastRun() || window.lastRun()->count(hgt::RunEnd::Complete) != kBatchTiles) {
                std::fprintf(stderr, "the batch did not fill its tiles\n");
                return 1;
            }
        }
    const double ratio = [&] {
        std::sort(alone.ms.begin(), alone.ms.end());
        std::sort(watched.ms.begin(), watched.ms.end());
        return watched.ms[watched.ms.size() / 2] / alone.ms[alone.ms.size() / 2];
    }();
    alone.print();
    watched.print();
    std::printf("ratio with viewers / alone: %.2f\n", ratio);
    return 0;
}

int show(QApplication& app, const std::vector<std::string>& tiles, int seconds)
{
    std::vector<std::unique_ptr<hgt::TileViewer>> viewers;
    for (const std::string& tile : tiles) {
        viewers.push_back(std::make_unique<hgt::TileViewer>(QString::fromStdString(tile),
                                                            std::vector<std::int16_t>{hgt::kVoidValue}));
        viewers.back()->show();
    }
    QTimer::singleShot(seconds * 1000, &app, [&app] { app.quit(); });
    return app.exec();
}

} // namespace

int main(int argc, char** argv)
{
    int repeat = 7;
    int seconds = 30;
    bool showing = false;
    bool withBatch = false;
    std::vector<std::string> tiles;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc)
            repeat = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--show") == 0)
            showing = true;
        else if (std::strcmp(argv[i], "--during-batch") == 0)
            withBatch = true;
        else
            tiles.emplace_back(argv[i]);
    }
    if (!showing && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (showing)
        return show(app, tiles, seconds);

    const std::filesystem::path work =
        std::filesystem::temp_directory_path() / ("hgtfill-viewer-bench-" + std::to_string(getpid()));
    if (withBatch) {
        const int status = duringBatch(work, repeat);
        std::error_code ec;
        std::filesystem::remove_all(work, ec);
        return status;
    }
    const std::string tile = tiles.empty() ? generatedTile(work) : tiles.front();
    const hgt::PictureKind kind =
        hgt::LiesInDifferenceFolder(tile) ? hgt::PictureKind::Difference : hgt::PictureKind::Relief;

    Series task{"render task (read, figures, picture, copies)", {}};
    const std::atomic<bool> go{false};
    for (int i = 0; i < repeat; ++i) {
        QElapsedTimer timer;
        timer.start();
        const hgt::RenderedTile rendered = hgt::RenderTileTask({tile, kind, {hgt::kVoidValue}}, go);
        task.ms.push_back(since(timer));
        if (rendered.levels.empty()) {
            std::fprintf(stderr, "%s\n", rendered.error.toStdString().c_str());
            return 1;
        }
    }

    Series open{"viewer opened until ready", {}};
    Series busy{"longest gap in the event queue meanwhile", {}};
    Series paint{"repaint of the fitted picture", {}};
    for (int i = 0; i < repeat; ++i) {
        QElapsedTimer timer;
        timer.start();
        auto viewer =
            std::make_unique<hgt::TileViewer>(QString::fromStdString(tile), std::vector<std::int16_t>{hgt::kVoidValue});
        viewer->show();
        double longest = 0;
        QElapsedTimer gap;
        gap.start();
        QTimer tick;
        tick.setInterval(0);
        QObject::connect(&tick, &QTimer::timeout, &tick, [&] {
            longest = std::max(longest, since(gap));
            gap.restart();
        });
        tick.start();
        bool ready = false;
        QObject::connect(viewer.get(), &hgt::TileViewer::ready, viewer.get(), [&] { ready = true; });
        while (!ready)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        open.ms.push_back(since(timer));
        QCoreApplication::processEvents(); // the tick after the picture was taken
        busy.ms.push_back(longest);
        QElapsedTimer painting;
        painting.start();
        viewer->pictureView()->repaint();
        paint.ms.push_back(since(painting));
    }
    task.print();
    open.print();
    busy.print();
    paint.print();
    std::error_code ec;
    std::filesystem::remove_all(work, ec);
    return 0;
}
