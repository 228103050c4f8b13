// Writes the README's pictures from generated mountains, through the engine and the picture code of
// the program: a 1" tile with voids, the same tile filled from a coarser second source, and the
// difference of the two sources with its legend.
//   gallery [--keep] OUTPUT_FOLDER [SIZE]   pictures SIZE pixels square (default 400), the legend
//   beside; --keep leaves the tiles in OUTPUT_FOLDER/tiles (tile, Merged/, DIFFS/) for a look in the
//   viewer.

#include "bench/terrain.h"
#include "platform/file_system.h"
#include "platform/picture_file.h"
#include "tiles/engine.h"

#include <QGuiApplication>

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

    hgt::WindowState state;
    hgt::QuietHost host;
    const hgt::TileResult filled = hgt::MergeTile(state, host, primary, (work / "secondary").string());
    const hgt::TileResult difference = hgt::MakeDifferenceTile(state, host, primary, secondary);
    bool ok = filled.end == hgt::RunEnd::Complete && difference.end == hgt::RunEnd::Complete;
    if (!ok)
        std::fprintf(stderr, "%s%s\n", filled.message.c_str(), difference.message.c_str());
    ok = ok && picture(primary, hgt::PictureKind::Relief, size, (out / "gallery-voids.png").string())
         && picture(filled.output, hgt::PictureKind::Relief, size, (out / "gallery-filled.png").string())
         && picture(difference.output, hgt::PictureKind::Difference, size, (out / "gallery-difference.png").string());
    if (!keep) {
        std::error_code ec;
        std::filesystem::remove_all(work, ec);
    }
    return ok ? 0 : 1;
}
