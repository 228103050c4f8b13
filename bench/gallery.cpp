// Writes the README's pictures from generated mountains, through the engine and the picture code of
// the program: a 1" tile with voids, the same tile filled from a coarser second source, and the
// difference of the two sources with its legend; and one void filled from a source that lies 9 m
// high, by the plain copy and by the offset-bridging fill, with a height profile across it.
//   gallery [--keep] OUTPUT_FOLDER [SIZE]   pictures SIZE pixels square (default 400), the legend
//   beside; --keep leaves the tiles in OUTPUT_FOLDER/tiles (tile, Merged/, DIFFS/) for a look in the
//   viewer.

#include "bench/terrain.h"
#include "platform/file_system.h"
#include "pictures/picture_file.h"
#include "tiles/run_host.h"
#include "tiles/run_options.h"
#include "tiles/run_result.h"
#include "tiles/run_state.h"
#include "tiles/tile_runs.h"
#include "tiles/tile_info.h"
#include "pictures/picture.h"

#include <QGuiApplication>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

bool writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return out.good();
}

bool picture(const std::string& tile, hgt::PictureKind kind, int size, const std::string& png)
{
    const hgt::Result<hgt::TileSamples> samples = hgt::ReadTileSamples(tile);
    if (!samples) {
        std::fprintf(stderr, "%s\n", samples.error().message.c_str());
        return false;
    }
    const hgt::TileSummary summary = hgt::SummarizeTile(*samples, kind);
    const hgt::TilePicture drawn = hgt::TileRenderer(*samples, summary, size).render();
    if (const hgt::Result<> written = hgt::WritePicturePng(drawn, summary, true, png); !written) {
        std::fprintf(stderr, "%s\n", written.error().message.c_str());
        return false;
    }
    std::printf("%s: %s, %.2f %% void, %d ... %d m\n", png.c_str(), summary.name.c_str(), summary.voidPercent,
                summary.minimum.value_or(0), summary.maximum.value_or(0));
    return true;
}

// A square of the full-size relief around one sample, enlarged to `size` pixels: seams show there.
bool reliefDetail(const std::string& tile, int row, int column, int span, int size, const std::string& png)
{
    const hgt::Result<hgt::TileSamples> samples = hgt::ReadTileSamples(tile);
    if (!samples)
        return false;
    const hgt::TileSummary summary = hgt::SummarizeTile(*samples, hgt::PictureKind::Relief);
    const QImage whole = hgt::PictureImage(hgt::TileRenderer(*samples, summary).render());
    const QImage detail = whole.copy(column - span / 2, row - span / 2, span, span).scaled(size, size);
    return static_cast<bool>(hgt::SavePng(detail, png));
}

// A smooth offset over the tile, 4 to 14 m, as between sources of different epochs or datums.
hgt::bench::Terrain raised(hgt::bench::Terrain terrain)
{
    for (int r = 0; r < terrain.side; ++r)
        for (int c = 0; c < terrain.side; ++c)
            terrain.heights[static_cast<std::size_t>(r) * terrain.side + c] += 9.0 + 5.0 * std::sin((c + r) / 1500.0);
    return terrain;
}

// The biggest void of the tile, by a plain count of void samples in squares of `span`.
std::pair<int, int> busiestVoidSquare(const std::vector<bool>& voids, int side, int span)
{
    int best = -1, bestRow = side / 2, bestColumn = side / 2;
    for (int r = span; r + span < side; r += span / 4)
        for (int c = span; c + span < side; c += span / 4) {
            int count = 0;
            for (int y = r - span / 4; y < r + span / 4; ++y)
                for (int x = c - span / 4; x < c + span / 4; ++x)
                    count += voids[static_cast<std::size_t>(y) * side + x];
            if (count > best) {
                best = count;
                bestRow = r;
                bestColumn = c;
            }
        }
    return {bestRow, bestColumn};
}

// Voids filled by both methods from a source that lies 4 to 14 m high and a third of a sample off:
// the two pictures and a profile in text.
bool offsetPair(const std::filesystem::path& work, const std::filesystem::path& out, int size)
{
    const hgt::bench::Terrain mountains = hgt::bench::MakeMountains(23);
    const std::vector<bool> voids = hgt::bench::SteepVoids(mountains, 0.05, 9);
    const std::string primary = (work / "offset/tiles/N47E011.hgt").string();
    const std::string high = (work / "offset/high").string();
    if (!writeFile(primary, hgt::bench::TileBytes(mountains, voids))
        || !writeFile(high + "/N47E011.hgt",
                      hgt::bench::TileBytes(raised(hgt::bench::SecondSource(mountains, 0.3, -0.2, 0.0)))))
        return false;
    const int span = 240;
    const auto [row, column] = busiestVoidSquare(voids, mountains.side, span);

    hgt::RunState state;
    hgt::QuietHost host;
    std::vector<std::vector<std::int16_t>> rows;
    for (const hgt::FillMethod method : {hgt::FillMethod::Copy, hgt::FillMethod::Delta}) {
        hgt::RunOptions options;
        options.method = method;
        const hgt::TileResult filled = hgt::MergeTile(state, host, primary, high, options);
        if (filled.end != hgt::RunEnd::Complete)
            return false;
        const bool copy = method == hgt::FillMethod::Copy;
        if (!reliefDetail(filled.output, row, column, span, size,
                          (out / (copy ? "offset-copy.png" : "offset-delta.png")).string()))
            return false;
        const hgt::Result<hgt::TileSamples> samples = hgt::ReadTileSamples(filled.output);
        if (!samples)
            return false;
        rows.emplace_back(samples->values.begin() + static_cast<std::ptrdiff_t>(row) * samples->side,
                          samples->values.begin() + static_cast<std::ptrdiff_t>(row + 1) * samples->side);
        if (!copy && filled.offsets)
            std::printf("offsets: median %+.1f m, IQR %.1f m, %lld rim samples; %s\n", filled.offsets->median,
                        filled.offsets->interquartileRange, static_cast<long long>(filled.offsets->rimSamples),
                        filled.warning.c_str());
    }
    // The profile along the middle row of the detail: truth, copy and bridged fill, every 8 samples.
    std::printf("profile of row %d, columns %d..%d (v: void in the tile)\ncolumn  truth  copy  delta\n", row,
                column - span / 2, column + span / 2);
    for (int c = column - span / 2; c <= column + span / 2; c += 8) {
        const double truth = mountains.at(row, c);
        std::printf("%6d %6.0f %5d %6d %s\n", c, truth, rows[0][static_cast<std::size_t>(c)],
                    rows[1][static_cast<std::size_t>(c)],
                    voids[static_cast<std::size_t>(row) * mountains.side + c] ? "v" : "");
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const bool keep = argc > 1 && std::string(argv[1]) == "--keep";
    const int first = keep ? 2 : 1;
    if (argc < first + 1 || argc > first + 2) {
        std::fprintf(stderr, "usage: gallery [--keep] OUTPUT_FOLDER [SIZE]\n");
        return 2;
    }
    // The legend's text needs fonts, not a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const std::filesystem::path out = argv[first];
    const int size = argc == first + 2 ? std::stoi(argv[first + 1]) : 400;
    std::filesystem::create_directories(out);

    const std::filesystem::path work =
        keep ? out : std::filesystem::temp_directory_path() / ("hgtfill-gallery-" + std::to_string(getpid()));
    const std::string primary = (work / "tiles/N47E011.hgt").string();
    const std::string secondary = (work / "secondary/N47E011.hgt").string();
    const hgt::bench::Terrain mountains = hgt::bench::MakeMountains();
    if (!writeFile(primary, hgt::bench::TileBytes(mountains, hgt::bench::SteepVoids(mountains, 0.05)))
        || !writeFile(secondary, hgt::bench::TileBytes(hgt::bench::SecondSource(mountains, 0.4, -0.3, 0.5)))) {
        std::fprintf(stderr, "cannot write into %s\n", work.c_str());
        return 1;
    }

    hgt::RunState state;
    hgt::QuietHost host;
    const hgt::TileResult filled = hgt::MergeTile(state, host, primary, (work / "secondary").string());
    const hgt::TileResult difference = hgt::MakeDifferenceTile(state, host, primary, secondary);
    bool ok = filled.end == hgt::RunEnd::Complete && difference.end == hgt::RunEnd::Complete;
    if (!ok)
        std::fprintf(stderr, "%s%s\n", filled.message().c_str(), difference.message().c_str());
    ok = ok && picture(primary, hgt::PictureKind::Relief, size, (out / "gallery-voids.png").string())
         && picture(filled.output, hgt::PictureKind::Relief, size, (out / "gallery-filled.png").string())
         && picture(difference.output, hgt::PictureKind::Difference, size, (out / "gallery-difference.png").string());
    ok = ok && offsetPair(work, out, size);
    if (!keep) {
        std::error_code ec;
        std::filesystem::remove_all(work, ec);
    }
    return ok ? 0 : 1;
}
