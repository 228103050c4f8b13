// Runs the real engines headless on tiles on disk, for timing against cp:
//   tile_bench [--no-sync] [--block BYTES] [--delta] fill PRIMARY SECONDARY_FOLDER
//   tile_bench [--no-sync] diff PRIMARY COMPARISON
//   tile_bench [--no-sync] [-j N] batch FOLDER SECONDARY_FOLDER
//   tile_bench start                     does nothing (the process start alone)
//   tile_bench generate FOLDER [COUNT]   writes realistic tiles for the commands above: COUNT tiles
//                                        with voids into FOLDER/primary (default 1), their secondary
//                                        tiles, and one tile without voids into FOLDER/noholes
// --no-sync leaves the outputs to the page cache (not durable), to time the engine alone.
// Prints the peak resident memory on stderr.

#include "tiles/tile_format.h"
#include "tiles/run_host.h"
#include "tiles/run_options.h"
#include "tiles/run_result.h"
#include "tiles/run_state.h"
#include "tiles/tile_runs.h"
#include "tiles/tile_folder.h"

#include "platform/archive.h"

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

// A headless window: the status text is kept, yields are counted.
class BenchHost : public hgt::RunHost {
public:
    void progress(const hgt::RunProgress& progress) override { m_text = progress.text; }
    void yieldToEvents() override { ++yields; }

    long yields = 0;

private:
    std::string m_text;
};

void printPeakMemory()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            std::cerr << "peak resident memory:" << line.substr(6) << '\n';
}

// Terrain-like heights with `voidPercent` of the samples void, in round blobs.
std::vector<std::uint8_t> makeTile(std::uint32_t seed, bool withVoids, int voidPercent = 7)
{
    std::vector<std::uint8_t> tile(hgt::kTileBytes);
    std::mt19937 random(seed);
    std::vector<bool> isVoid(hgt::kTileSamples, false);
    if (withVoids) {
        std::uniform_int_distribution<int> where(0, hgt::kTileSide - 1);
        std::uniform_int_distribution<int> radius(5, 40);
        long voids = 0;
        while (voids < hgt::kTileSamples * voidPercent / 100) {
            const int cx = where(random), cy = where(random), r = radius(random);
            for (int y = std::max(0, cy - r); y <= std::min<int>(hgt::kTileSide - 1, cy + r); ++y)
                for (int x = std::max(0, cx - r); x <= std::min<int>(hgt::kTileSide - 1, cx + r); ++x)
                    if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r && !isVoid[y * hgt::kTileSide + x]) {
                        isVoid[y * hgt::kTileSide + x] = true;
                        ++voids;
                    }
        }
    }
    for (std::int64_t k = 0; k < hgt::kTileSamples; ++k) {
        const double x = static_cast<double>(k % hgt::kTileSide), y = static_cast<double>(k / hgt::kTileSide);
        auto h = static_cast<std::int16_t>(800 + 600 * std::sin(x / 300.0 + seed) * std::cos(y / 250.0));
        if (isVoid[k])
            h = hgt::kVoidValue;
        tile[2 * k] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(h) >> 8);
        tile[2 * k + 1] = static_cast<std::uint8_t>(h & 0xFF);
    }
    return tile;
}

bool writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::string tileName(int i)
{
    char name[32];
    std::snprintf(name, sizeof name, "N%02dE%03d.hgt", 40 + i / 20, 5 + i % 20);
    return name;
}

// The 3" tile on the nodes of a 1" tile: every third sample of every third row.
std::vector<std::uint8_t> coarseTile(const std::vector<std::uint8_t>& fine)
{
    std::vector<std::uint8_t> coarse(static_cast<std::size_t>(hgt::kTileBytes3));
    for (std::int64_t r = 0; r < hgt::kTileSide3; ++r)
        for (std::int64_t c = 0; c < hgt::kTileSide3; ++c) {
            const auto from = static_cast<std::size_t>(2 * (3 * r * hgt::kTileSide + 3 * c));
            const auto to = static_cast<std::size_t>(2 * (r * hgt::kTileSide3 + c));
            coarse[to] = fine[from];
            coarse[to + 1] = fine[from + 1];
        }
    return coarse;
}

bool writeZip(const std::filesystem::path& path, const std::string& member, const std::vector<std::uint8_t>& bytes)
{
    const hgt::Result<> written = hgt::WriteZippedTile(path.string(), member, bytes);
    if (!written)
        std::fprintf(stderr, "%s\n", written.error().message.c_str());
    return written.has_value();
}

int generate(const std::filesystem::path& folder, int count)
{
    namespace fs = std::filesystem;
    for (const char* sub : {"primary", "secondary", "noholes", "primary9", "secondary3", "zipped"})
        fs::create_directories(folder / sub);
    bool ok = writeFile(folder / "noholes" / "N47E011.hgt", makeTile(3, false));
    // A tile with more voids for the offset-bridging fill, a 3" secondary and a zipped primary.
    const std::vector<std::uint8_t> secondary = makeTile(2, false);
    ok = ok && writeFile(folder / "primary9" / "N47E011.hgt", makeTile(1, true, 9))
         && writeFile(folder / "secondary3" / "N47E011.hgt", coarseTile(secondary))
         && writeZip(folder / "zipped" / "N47E011.SRTMGL1.hgt.zip", "N47E011.hgt", makeTile(1, true));
    // The first tile keeps the name the single-tile benchmarks use.
    for (int i = 0; ok && i < count; ++i) {
        const std::string name = i == 0 ? "N47E011.hgt" : tileName(i);
        ok = writeFile(folder / "primary" / name, makeTile(static_cast<std::uint32_t>(1 + 2 * i), true))
             && writeFile(folder / "secondary" / name, makeTile(static_cast<std::uint32_t>(2 + 2 * i), false));
    }
    if (!ok)
        std::cerr << "cannot write the tiles into " << folder << '\n';
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    hgt::RunOptions options;
    while (!args.empty() && args.front().starts_with("-")) {
        if (args.front() == "--no-sync") {
            options.durable = false;
            args.erase(args.begin());
        } else if (args.front() == "--delta") {
            options.method = hgt::FillMethod::Delta;
            args.erase(args.begin());
        } else if (args.front() == "--block" && args.size() > 1) {
            options.blockBytes = std::stoul(args[1]);
            args.erase(args.begin(), args.begin() + 2);
        } else if (args.front() == "-j" && args.size() > 1) {
            options.jobs = static_cast<unsigned>(std::stoul(args[1]));
            args.erase(args.begin(), args.begin() + 2);
        } else {
            break;
        }
    }
    const std::string command = args.empty() ? "" : args[0];
    if (command == "start") // does nothing: the cost of starting the process alone
        return 0;
    if (command == "generate" && (args.size() == 2 || args.size() == 3))
        return generate(args[1], args.size() == 3 ? std::stoi(args[2]) : 1);

    hgt::RunState state;
    BenchHost host;
    if (command == "fill" && args.size() == 3) {
        const hgt::TileResult result = hgt::MergeTile(state, host, args[1], args[2], options);
        printPeakMemory();
        std::cerr << "yields: " << host.yields << '\n';
        if (result.end == hgt::RunEnd::Complete || result.end == hgt::RunEnd::NoHoles)
            return 0;
        std::cerr << (result.message().empty() ? "run did not complete" : result.message()) << '\n';
        return 1;
    }
    if (command == "diff" && args.size() == 3) {
        const hgt::TileResult result = hgt::MakeDifferenceTile(state, host, args[1], args[2], options);
        printPeakMemory();
        if (result.end == hgt::RunEnd::Complete)
            return 0;
        std::cerr << (result.message().empty() ? "run did not complete" : result.message()) << '\n';
        return 1;
    }
    if (command == "batch" && args.size() == 3) {
        const auto tiles = hgt::ListTiles(args[1]);
        if (!tiles) {
            std::cerr << tiles.error().message << '\n';
            return 1;
        }
        const hgt::BatchResult batch = hgt::MergeTiles(state, host, *tiles, args[2], options);
        printPeakMemory();
        const std::size_t good = batch.count(hgt::RunEnd::Complete) + batch.count(hgt::RunEnd::NoHoles);
        std::cerr << good << " of " << tiles->size() << " tiles filled or without holes\n";
        return good == tiles->size() ? 0 : 1;
    }
    std::cerr << "usage: tile_bench [--no-sync] [-j N] fill PRIMARY SECONDARY_FOLDER | diff PRIMARY COMPARISON"
                 " | batch FOLDER SECONDARY_FOLDER | generate FOLDER [COUNT]\n";
    return 2;
}
