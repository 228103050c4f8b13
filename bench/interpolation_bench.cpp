// The interpolation of voids that no source covers, against GDAL's FillNodata (max distance 100,
// no smoothing) on the same holed 1" tiles, in one run:
//   interpolation_bench FOLDER [ROUNDS]   three generated terrains with 1 % voids cut like real ones,
//                                         the mountains with 7 % and with 200,000 regions of 1 to 4
//                                         samples; the holed tiles are left in FOLDER
// Per terrain: the median time of each (and of the rounds' ratios, paired by round), the RMS error
// over the voids against the terrain before they were cut, and the peak resident memory of the
// child that interpolates (interpolate_tile, the decoded tile included).

#include "bench/terrain.h"
#include "tiles/tile_format.h"

#include <gdal.h>
#include <gdal_alg.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace hgt;
using Clock = std::chrono::steady_clock;
constexpr int kSide = static_cast<int>(kTileSide);

double Micros(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::micro>(to - from).count();
}

// Gentle hills of 200 to 700 m: a few octaves of smooth noise, no crests.
bench::Terrain MakeHills(std::uint32_t seed)
{
    bench::Terrain terrain;
    terrain.heights.resize(static_cast<std::size_t>(kSide) * kSide);
    for (int r = 0; r < kSide; ++r)
        for (int c = 0; c < kSide; ++c) {
            double height = 200;
            double amplitude = 300;
            for (double cell = 700; cell >= 40; cell /= 2, amplitude *= 0.45)
                height += amplitude * bench::detail::valueNoise(c, r, cell, seed + static_cast<std::uint32_t>(cell));
            terrain.heights[static_cast<std::size_t>(r) * kSide + c] = height;
        }
    return terrain;
}

// Alpine ground: the ridged mountains stretched to 400 ... 4800 m, so every slope is steeper.
bench::Terrain MakeAlpine(std::uint32_t seed)
{
    bench::Terrain terrain = bench::MakeMountains(seed);
    for (double& height : terrain.heights)
        height = 400 + (height - 400) * 4400 / 2600;
    return terrain;
}

// Voids as radar leaves them: clusters of a few blobs of 3 to 1400 samples each, grown at random
// from a seed sample, on the steeper of a few candidate places, until `share` of the tile is void.
std::vector<bool> CutVoids(const bench::Terrain& terrain, double share, std::uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<bool> voids(terrain.heights.size());
    std::uniform_int_distribution<int> anywhere(8, kSide - 9);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto slope = [&](int r, int c) {
        return std::hypot(terrain.at(r, c + 1) - terrain.at(r, c - 1), terrain.at(r + 1, c) - terrain.at(r - 1, c));
    };
    std::int64_t count = 0;
    const auto target = static_cast<std::int64_t>(share * static_cast<double>(voids.size()));
    std::vector<std::pair<int, int>> frontier;
    while (count < target) {
        int cr = anywhere(random), cc = anywhere(random);
        for (int candidate = 0; candidate < 3; ++candidate) {
            const int r = anywhere(random), c = anywhere(random);
            if (slope(r, c) > slope(cr, cc))
                cr = r, cc = c;
        }
        const int blobs = 2 + static_cast<int>(unit(random) * 6);
        for (int b = 0; b < blobs && count < target; ++b) {
            const int r0 = std::clamp(cr + static_cast<int>((unit(random) - 0.5) * 120), 2, kSide - 3);
            const int c0 = std::clamp(cc + static_cast<int>((unit(random) - 0.5) * 120), 2, kSide - 3);
            const auto size =
                static_cast<int>(std::exp(std::log(3.0) + unit(random) * (std::log(1400.0) - std::log(3.0))));
            frontier.assign(1, {r0, c0});
            for (int grown = 0; grown < size && !frontier.empty();) {
                const std::size_t pick = static_cast<std::size_t>(unit(random) * static_cast<double>(frontier.size()));
                const auto [r, c] = frontier[std::min(pick, frontier.size() - 1)];
                frontier[std::min(pick, frontier.size() - 1)] = frontier.back();
                frontier.pop_back();
                const std::size_t k = static_cast<std::size_t>(r) * kSide + c;
                if (voids[k])
                    continue;
                voids[k] = true;
                ++grown;
                ++count;
                for (const auto& [dr, dc] : {std::pair{-1, 0}, std::pair{1, 0}, std::pair{0, -1}, std::pair{0, 1}})
                    if (r + dr >= 0 && r + dr < kSide && c + dc >= 0 && c + dc < kSide)
                        frontier.push_back({r + dr, c + dc});
            }
        }
    }
    return voids;
}

// `regions` voids of 1 to 4 samples each, scattered: no two touch, not even at a corner, so that
// each is a region of its own, as speckles of radar shadow are.
std::vector<bool> ScatterVoids(int regions, std::uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<bool> voids(static_cast<std::size_t>(kSide) * kSide);
    std::uniform_int_distribution<int> anywhere(3, kSide - 4);
    std::uniform_int_distribution<int> samples(1, 4), direction(0, 3);
    const auto free = [&](int r, int c) {
        for (int dr = -1; dr <= 1; ++dr)
            for (int dc = -1; dc <= 1; ++dc)
                if (voids[static_cast<std::size_t>(r + dr) * kSide + c + dc])
                    return false;
        return true;
    };
    std::vector<std::pair<int, int>> blob;
    for (int placed = 0; placed < regions;) {
        blob.assign(1, {anywhere(random), anywhere(random)});
        const int size = samples(random);
        while (static_cast<int>(blob.size()) < size) {
            const auto [r, c] = blob.back();
            const int d = direction(random);
            blob.push_back({r + (d == 0) - (d == 1), c + (d == 2) - (d == 3)});
        }
        if (!std::all_of(blob.begin(), blob.end(), [&](const auto& at) { return free(at.first, at.second); }))
            continue;
        for (const auto& [r, c] : blob)
            voids[static_cast<std::size_t>(r) * kSide + c] = true;
        ++placed;
    }
    return voids;
}

std::vector<std::int16_t> Decode(const std::vector<std::uint8_t>& bytes)
{
    std::vector<std::int16_t> values(bytes.size() / 2);
    for (std::size_t k = 0; k < values.size(); ++k)
        values[k] = static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[2 * k] << 8 | bytes[2 * k + 1]));
    return values;
}

struct ChildRun {
    double micros = 0;
    long peakKiB = 0;
};

// Runs this program as a child on the holed tile: its time and peak memory, as it reports them.
ChildRun RunOurs(const std::string& holed, const std::string& out, bool withNeighbours = false)
{
    // interpolate_tile is built beside this program.
    const std::string program =
        (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "interpolate_tile").string();
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        throw std::runtime_error("pipe");
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        execl(program.c_str(), "interpolate_tile", holed.c_str(), out.c_str(),
              withNeighbours ? "--neighbours" : nullptr, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeEnds[1]);
    char text[128] = {};
    const ssize_t n = read(pipeEnds[0], text, sizeof text - 1);
    close(pipeEnds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (n <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("the interpolating child failed");
    char* rest = nullptr;
    const double micros = std::strtod(text, &rest);
    return {micros, std::strtol(rest, nullptr, 10)};
}

// GDAL's FillNodata on the holed tile in memory; only the fill is timed.
double RunGdal(const std::vector<std::int16_t>& holed, std::vector<std::int16_t>& filled)
{
    GDALDatasetH dataset = GDALCreate(GDALGetDriverByName("MEM"), "", kSide, kSide, 1, GDT_Int16, nullptr);
    GDALRasterBandH band = GDALGetRasterBand(dataset, 1);
    GDALSetRasterNoDataValue(band, kVoidValue);
    filled = holed;
    if (GDALRasterIO(band, GF_Write, 0, 0, kSide, kSide, filled.data(), kSide, kSide, GDT_Int16, 0, 0) != CE_None)
        throw std::runtime_error("GDAL write");
    const auto t0 = Clock::now();
    if (GDALFillNodata(band, nullptr, 100, 0, 0, nullptr, nullptr, nullptr) != CE_None)
        throw std::runtime_error("GDALFillNodata");
    const auto t1 = Clock::now();
    if (GDALRasterIO(band, GF_Read, 0, 0, kSide, kSide, filled.data(), kSide, kSide, GDT_Int16, 0, 0) != CE_None)
        throw std::runtime_error("GDAL read");
    GDALClose(dataset);
    return Micros(t0, t1);
}

// The RMS error over the voids, and how many of them stayed void.
std::pair<double, long> Rms(const bench::Terrain& truth, const std::vector<bool>& voids,
                            const std::vector<std::int16_t>& filled)
{
    double sum = 0;
    long count = 0, left = 0;
    for (std::size_t k = 0; k < voids.size(); ++k) {
        if (!voids[k])
            continue;
        if (filled[k] == kVoidValue) {
            ++left;
            continue;
        }
        const double error = filled[k] - truth.heights[k];
        sum += error * error;
        ++count;
    }
    return {count ? std::sqrt(sum / static_cast<double>(count)) : 0.0, left};
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int RunBench(const std::string& folder, int rounds)
{
    GDALAllRegister();
    std::filesystem::create_directories(folder);
    struct Kind {
        const char* name;
        bench::Terrain (*make)(std::uint32_t);
        std::uint32_t seed;
        double share;  // of the tile cut in blobs
        int scattered; // or this many regions of 1 to 4 samples
    };
    const Kind kinds[] = {{"steep mountains", bench::MakeMountains, 11, 0.01, 0},
                          {"rolling hills", MakeHills, 3, 0.01, 0},
                          {"alpine", MakeAlpine, 23, 0.01, 0},
                          {"steep mountains", bench::MakeMountains, 11, 0.07, 0},
                          {"speckled", bench::MakeMountains, 11, 0.0, 200000}};
    std::printf("interpolation against GDAL FillNodata (max distance 100, no smoothing), median of %d rounds\n",
                rounds);
    bool allMet = true;
    for (const Kind& kind : kinds) {
        const bench::Terrain terrain = kind.make(kind.seed);
        const std::vector<bool> voids =
            kind.scattered ? ScatterVoids(kind.scattered, kind.seed + 2) : CutVoids(terrain, kind.share, kind.seed + 1);
        // Left in the folder, so that the child can be run (and profiled) on its own afterwards.
        std::string id = std::to_string(kind.seed);
        if (kind.scattered)
            id += "-speckled";
        else if (kind.share > 0.01)
            id += "-" + std::to_string(std::lround(100 * kind.share));
        const std::string holedPath = folder + "/holed-" + id + ".hgt";
        const std::string outPath = folder + "/interpolated-" + id + ".raw";
        const std::vector<std::uint8_t> bytes = bench::TileBytes(terrain, voids);
        {
            std::ofstream out(holedPath, std::ios::binary);
            out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        }
        const std::vector<std::int16_t> holed = Decode(bytes);
        std::vector<double> ours, gdal, ratios;
        std::vector<std::int16_t> gdalFilled;
        long peak = 0;
        for (int round = 0; round < rounds; ++round) {
            gdal.push_back(RunGdal(holed, gdalFilled));
            const ChildRun run = RunOurs(holedPath, outPath);
            ours.push_back(run.micros);
            ratios.push_back(run.micros / gdal.back());
            peak = std::max(peak, run.peakKiB);
        }
        // Once more with all eight neighbours given (the holed tile's file stands for each), for the
        // peak memory of a run that reads their bands.
        const ChildRun full = RunOurs(holedPath, folder + "/with-neighbours.raw", true);
        std::vector<std::int16_t> ourFilled(holed.size());
        {
            std::ifstream in(outPath, std::ios::binary);
            in.read(reinterpret_cast<char*>(ourFilled.data()), static_cast<std::streamsize>(ourFilled.size() * 2));
        }
        const auto [ourRms, ourLeft] = Rms(terrain, voids, ourFilled);
        const auto [gdalRms, gdalLeft] = Rms(terrain, voids, gdalFilled);
        const double timeRatio = Median(ratios), rmsRatio = ourRms / gdalRms;
        allMet = allMet && timeRatio <= 1.0 && rmsRatio <= 0.6 && std::max(peak, full.peakKiB) <= 64 * 1024;
        std::printf("%-16s %4.1f %% voids  time %7.1f ms vs GDAL %7.1f ms = %4.2f x (target <= 1.0)  "
                    "RMS %6.3f m vs %6.3f m = %4.2f x (target <= 0.6)  left %ld / %ld  "
                    "peak %.1f MiB, with neighbours %.1f MiB in %.1f ms (target <= 64)\n",
                    kind.name,
                    100.0 * static_cast<double>(std::count(voids.begin(), voids.end(), true))
                        / static_cast<double>(voids.size()),
                    Median(ours) / 1000, Median(gdal) / 1000, timeRatio, ourRms, gdalRms, rmsRatio, ourLeft, gdalLeft,
                    static_cast<double>(peak) / 1024, static_cast<double>(full.peakKiB) / 1024, full.micros / 1000);
        std::fflush(stdout);
    }
    return allMet ? 0 : 3;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        if (argc == 2 || argc == 3)
            return RunBench(argv[1], argc == 3 ? std::max(1, std::atoi(argv[2])) : 3);
    } catch (const std::exception& error) {
        std::cerr << error.what() << '\n';
        return 1;
    }
    std::cerr << "usage: interpolation_bench FOLDER [ROUNDS]\n";
    return 2;
}
