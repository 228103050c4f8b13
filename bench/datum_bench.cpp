// The conversion of a tile's heights between vertical datums, timed and measured against PROJ:
//   datum_bench [SOURCE-DATUM [LAT LON [TILE.hgt]]]   (default: ellipsoid 49 8)
// prints the time to check the conversion, to compute the coarse shift grid of the tile and to add it
// to a 1" tile (best and median of 7 runs), and how far the interpolated shift lies from PROJ's own at
// every sample of a 1" tile. With a raw big-endian HGT tile (1" or 3"), also how many of its samples
// differ from the heights PROJ's shift gives each sample directly.

#include "rasters/vertical_datum.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <ctime>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRuns = 7;
constexpr int kSide = 3601;
constexpr std::int16_t kVoids[] = {-32768, -9999};

double Milliseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

// The thread's processor time: on a machine shared with other work, wall time says more about the others.
double ThreadMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

template <class Work>
void Time(const char* what, Work&& work)
{
    std::vector<double> runs, processor;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = Clock::now();
        const double startProcessor = ThreadMilliseconds();
        work();
        processor.push_back(ThreadMilliseconds() - startProcessor);
        runs.push_back(Milliseconds(Clock::now() - start));
    }
    std::ranges::sort(runs);
    std::ranges::sort(processor);
    std::printf("%-36s best %7.2f ms, median %7.2f ms (processor: best %7.2f, median %7.2f)\n", what, runs.front(),
                runs[kRuns / 2], processor.front(), processor[kRuns / 2]);
}

// PROJ's shift at every sample of a tile of `side`, row 0 on the northern edge.
std::vector<double> ProjShifts(const hgt::VerticalConversion& conversion, int latitude, int longitude, int side)
{
    std::vector<double> shifts;
    shifts.reserve(static_cast<std::size_t>(side) * side);
    constexpr int kRowsAtOnce = 200;
    for (int first = 0; first < side; first += kRowsAtOnce) {
        std::vector<double> latitudes, longitudes;
        for (int row = first; row < std::min(side, first + kRowsAtOnce); ++row) {
            for (int column = 0; column < side; ++column) {
                latitudes.push_back(latitude + 1.0 - static_cast<double>(row) / (side - 1));
                longitudes.push_back(longitude + static_cast<double>(column) / (side - 1));
            }
        }
        auto part = conversion.shiftAt(latitudes, longitudes);
        if (!part) {
            std::fprintf(stderr, "%s\n", part.error().message.c_str());
            std::exit(1);
        }
        shifts.insert(shifts.end(), part->begin(), part->end());
    }
    return shifts;
}

std::vector<std::int16_t> ReadTile(const char* path, int& side)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    side = static_cast<int>(std::lround(std::sqrt(bytes.size() / 2.0)));
    if (side < 2 || static_cast<std::size_t>(side) * side * 2 != bytes.size()) {
        std::fprintf(stderr, "%s: keine HGT-Kachel\n", path);
        std::exit(1);
    }
    std::vector<std::int16_t> heights(static_cast<std::size_t>(side) * side);
    for (std::size_t i = 0; i < heights.size(); ++i)
        heights[i] = static_cast<std::int16_t>((static_cast<unsigned char>(bytes[2 * i]) << 8)
                                               | static_cast<unsigned char>(bytes[2 * i + 1]));
    return heights;
}

} // namespace

int main(int argc, char** argv)
{
    const char* name = argc > 1 ? argv[1] : "ellipsoid";
    const int latitude = argc > 3 ? std::atoi(argv[2]) : 49;
    const int longitude = argc > 3 ? std::atoi(argv[3]) : 8;
    auto datum = hgt::ParseVerticalDatum(name);
    if (!datum) {
        std::fprintf(stderr, "%s\n", datum.error().message.c_str());
        return 1;
    }
    const auto start = Clock::now();
    auto conversion = hgt::VerticalConversion::create(*datum);
    if (!conversion) {
        std::fprintf(stderr, "%s\n", conversion.error().message.c_str());
        return 1;
    }
    std::printf("%s -> EGM96 at N%d E%d\n", datum->label.c_str(), latitude, longitude);
    std::printf("%-40s %8.2f ms\n", "check (first, cold)", Milliseconds(Clock::now() - start));

    hgt::TileShift shift;
    Time("coarse shift grid (nodes of a tile)", [&] { shift = *conversion->tileShift(latitude, longitude); });

    // Terrain-like heights with a few voids: the cost does not hang on the values.
    std::vector<std::int16_t> heights(static_cast<std::size_t>(kSide) * kSide);
    for (std::size_t i = 0; i < heights.size(); ++i)
        heights[i] = i % 997 == 0 ? -32768 : static_cast<std::int16_t>(200 + (i * 7919) % 1800);
    std::vector<std::int16_t> work;
    Time("add to a 1\" tile (copy included)", [&] {
        work = heights;
        hgt::ApplyShift(shift, work, kSide, kVoids);
    });
    Time("copy of a 1\" tile alone", [&] { work = heights; });

    if (std::getenv("DATUM_BENCH_NO_PROJ"))
        return 0;
    const auto projStart = Clock::now();
    const auto exact = ProjShifts(*conversion, latitude, longitude, kSide);
    std::printf("%-40s %8.2f ms\n", "PROJ at all 3601x3601 samples", Milliseconds(Clock::now() - projStart));
    double worst = 0, sum = 0;
    for (int row = 0; row < kSide; ++row) {
        for (int column = 0; column < kSide; ++column) {
            const double error = std::abs(hgt::ShiftAtSample(shift, row, column, kSide)
                                          - exact[static_cast<std::size_t>(row) * kSide + column]);
            worst = std::max(worst, error);
            sum += error;
        }
    }
    std::printf("interpolated vs PROJ: max %.2e m, mean %.2e m; shift %.3f .. %.3f m\n", worst,
                sum / (double(kSide) * kSide), *std::ranges::min_element(exact), *std::ranges::max_element(exact));

    if (argc > 4) {
        int side = 0;
        auto tile = ReadTile(argv[4], side);
        const auto direct = side == kSide ? exact : ProjShifts(*conversion, latitude, longitude, side);
        auto converted = tile;
        hgt::ApplyShift(shift, converted, side, kVoids);
        std::size_t differ = 0;
        for (std::size_t i = 0; i < tile.size(); ++i) {
            if (tile[i] == -32768 || tile[i] == -9999)
                continue;
            const double height = tile[i] + direct[i];
            differ += converted[i] != static_cast<std::int16_t>(std::trunc(height + std::copysign(0.5, height)));
        }
        std::printf("%s: %zu of %zu samples differ by rounding from PROJ per sample\n", argv[4], differ, tile.size());
    }
    return 0;
}
