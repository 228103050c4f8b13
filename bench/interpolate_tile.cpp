// Interpolates the uncovered voids of one holed 1" tile, for interpolation_bench, which runs it as
// a child: a program of its own, so that its peak memory is the interpolation's and not GDAL's.
//   interpolate_tile HOLED OUT [--neighbours]
//       reads big-endian samples, writes the filled ones in host order, prints: microseconds, peak
//       resident KiB, interpolated, left. With --neighbours, the holed tile's file stands for all
//       eight neighbours, their bands read from it row by row as a fill run would.

#include "tiles/internal/void_interpolation.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    const bool withNeighbours = argc == 4 && std::string(argv[3]) == "--neighbours";
    if (argc != 3 && !withNeighbours) {
        std::fprintf(stderr, "usage: interpolate_tile HOLED OUT [--neighbours]\n");
        return 2;
    }
    constexpr int kSide = static_cast<int>(hgt::kTileSide);
    // Read straight into the samples and swapped in place: the tile is held once.
    std::vector<std::int16_t> values(static_cast<std::size_t>(kSide) * kSide);
    std::ifstream in(argv[1], std::ios::binary);
    in.read(reinterpret_cast<char*>(values.data()), static_cast<std::streamsize>(values.size() * 2));
    if (in.gcount() != static_cast<std::streamsize>(values.size() * 2))
        return 2;
    for (std::int16_t& value : values)
        value = static_cast<std::int16_t>(__builtin_bswap16(static_cast<std::uint16_t>(value)));

    const hgt::VoidSet voids({hgt::kVoidValue});
    const auto t0 = std::chrono::steady_clock::now();
    hgt::Neighbours neighbours;
    std::ifstream neighbourFile;
    if (withNeighbours) {
        neighbourFile.open(argv[1], std::ios::binary);
        neighbours.window = [&](int, int, const hgt::SampleWindow& window) -> std::optional<std::vector<std::int16_t>> {
            std::vector<std::int16_t> samples(static_cast<std::size_t>(window.rows)
                                              * static_cast<std::size_t>(window.columns));
            for (int r = 0; r < window.rows; ++r) {
                neighbourFile.seekg((static_cast<std::streamoff>(window.row + r) * kSide + window.column) * 2);
                neighbourFile.read(
                    reinterpret_cast<char*>(samples.data() + static_cast<std::size_t>(r) * window.columns),
                    static_cast<std::streamsize>(window.columns) * 2);
            }
            if (!neighbourFile)
                return std::nullopt;
            for (std::int16_t& value : samples)
                value = static_cast<std::int16_t>(__builtin_bswap16(static_cast<std::uint16_t>(value)));
            return samples;
        };
    }
    const hgt::InterpolationResult result = hgt::InterpolateVoids(values, kSide, voids, {}, neighbours);
    const auto t1 = std::chrono::steady_clock::now();

    std::ofstream out(argv[2], std::ios::binary);
    out.write(reinterpret_cast<const char*>(values.data()), static_cast<std::streamsize>(values.size() * 2));
    // The kernel's peak for a child keeps its parent's from before the exec; this one is our own.
    long peakKiB = 0;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            peakKiB = std::atol(line.c_str() + 6);
    std::printf("%.0f %ld %lld %lld\n", std::chrono::duration<double, std::micro>(t1 - t0).count(), peakKiB,
                static_cast<long long>(result.interpolated), static_cast<long long>(result.left));
    return out.good() ? 0 : 1;
}
