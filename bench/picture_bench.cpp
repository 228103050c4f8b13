// Times the pictures of a full 1" tile: reading, the figures, and rendering whole, in two bands on
// two threads, and reduced to 1201 pixels.
//   picture_bench [--repeat N] [TILE]   without TILE: a generated terrain tile with voids (N47E011)
//   picture_bench --diff [--repeat N] [TILE]   the same for a difference tile
// Prints the best and the median of N runs (default 7) of each step in milliseconds.

#include "tiles/tile_format.h"
#include "tiles/tile_info.h"
#include "pictures/picture.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Ridges and valleys from a few waves plus fine noise, about 7 % void in round blobs; for a
// difference tile, small differences with a few large ones.
hgt::TileSamples makeTile(bool difference)
{
    hgt::TileSamples tile;
    tile.name = "N47E011.hgt";
    tile.side = static_cast<int>(hgt::kTileSide);
    tile.values.resize(static_cast<std::size_t>(hgt::kTileSamples));
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, difference ? 3.0 : 4.0);
    for (int r = 0; r < tile.side; ++r)
        for (int c = 0; c < tile.side; ++c) {
            const double x = c / 3600.0, y = r / 3600.0;
            double v = difference ? 0.0
                                  : 1400 + 900 * std::sin(6.1 * x + 1.3) * std::cos(4.7 * y)
                                        + 300 * std::sin(23 * x * y + 9 * y) + 120 * std::sin(61 * x + 37 * y);
            v += noise(random);
            if (difference && random() % 500 == 0)
                v += noise(random) * 40;
            tile.values[static_cast<std::size_t>(r) * tile.side + c] = static_cast<std::int16_t>(std::lround(v));
        }
    std::uniform_int_distribution<int> where(0, tile.side - 1);
    std::uniform_int_distribution<int> radius(5, 40);
    long voids = 0;
    while (voids < hgt::kTileSamples * 7 / 100) {
        const int cx = where(random), cy = where(random), rad = radius(random);
        for (int y = std::max(0, cy - rad); y <= std::min(tile.side - 1, cy + rad); ++y)
            for (int x = std::max(0, cx - rad); x <= std::min(tile.side - 1, cx + rad); ++x)
                if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= rad * rad) {
                    std::int16_t& v = tile.values[static_cast<std::size_t>(y) * tile.side + x];
                    voids += v != hgt::kVoidValue;
                    v = hgt::kVoidValue;
                }
    }
    return tile;
}

double cpuMilliseconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// The wall time, and the processor time of all threads: on a machine shared with other work the
// wall time grows with the load, the processor time hardly.
void time(const char* what, int repeat, const std::function<void()>& step)
{
    std::vector<double> wall, cpu;
    for (int i = 0; i < repeat; ++i) {
        const auto start = Clock::now();
        const double cpuStart = cpuMilliseconds();
        step();
        cpu.push_back(cpuMilliseconds() - cpuStart);
        wall.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    std::printf("%-34s wall best %7.1f ms  median %7.1f ms   cpu median %7.1f ms\n", what, wall.front(),
                wall[wall.size() / 2], cpu[cpu.size() / 2]);
}

} // namespace

int main(int argc, char** argv)
{
    bool difference = false;
    int repeat = 7;
    std::string path;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--diff") == 0)
            difference = true;
        else if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc)
            repeat = std::max(1, std::atoi(argv[++i]));
        else
            path = argv[i];
    }
    const hgt::PictureKind kind = difference ? hgt::PictureKind::Difference : hgt::PictureKind::Relief;

    hgt::TileSamples tile;
    if (path.empty()) {
        tile = makeTile(difference);
    } else {
        time("read", repeat, [&] {
            hgt::Result<hgt::TileSamples> read = hgt::ReadTileSamples(path);
            if (!read) {
                std::fprintf(stderr, "%s\n", read.error().message.c_str());
                std::exit(1);
            }
            tile = std::move(*read);
        });
    }

    hgt::TileSummary summary;
    time("summary", repeat, [&] { summary = hgt::SummarizeTile(tile, kind); });

    hgt::TilePicture picture;
    time("render, one thread", repeat, [&] { picture = hgt::TileRenderer(tile, summary).render(); });
    time("render, two bands on two threads", repeat, [&] {
        const hgt::TileRenderer renderer(tile, summary);
        picture = renderer.blankPicture();
        const int half = renderer.height() / 2;
        std::thread other([&] { renderer.renderRows(half, renderer.height(), picture); });
        renderer.renderRows(0, half, picture);
        other.join();
    });
    time("render at 1201 pixels", repeat, [&] { picture = hgt::TileRenderer(tile, summary, 1201).render(); });
    time("summary + render, one thread", repeat, [&] {
        summary = hgt::SummarizeTile(tile, kind);
        picture = hgt::TileRenderer(tile, summary).render();
    });

    // Keep the pictures from being optimised away.
    std::uint32_t checksum = 0;
    for (std::uint32_t p : picture.pixels)
        checksum ^= p;
    std::printf("%d x %d samples, %.2f %% void, checksum %08x\n", tile.side, tile.side, summary.voidPercent, checksum);
    return 0;
}
