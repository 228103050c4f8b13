// Runs the real engines headless on tiles on disk, for timing against cp:
//   tile_bench fill PRIMARY SECONDARY_FOLDER
//   tile_bench diff PRIMARY COMPARISON
//   tile_bench generate FOLDER      writes a realistic tile pair for the two commands above
// Prints the peak resident memory on stderr.

#include "difference_tile.h"
#include "merge_tile.h"
#include "run_host.h"
#include "tile_format.h"
#include "window_state.h"

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

// A headless window: the list is kept, yields and the button do nothing.
class BenchHost : public hgt::RunHost {
public:
    int listCount() const override { return static_cast<int>(m_lines.size()); }
    void listInsert(int index, const std::string& text) override { m_lines.insert(m_lines.begin() + index, text); }
    void listRemove(int index) override { m_lines.erase(m_lines.begin() + index); }
    void yieldToEvents() override { ++yields; }
    void enableCommand1() override {}

    long yields = 0;

private:
    std::vector<std::string> m_lines;
};

void printPeakMemory()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            std::cerr << "peak resident memory:" << line.substr(6) << '\n';
}

// Terrain-like heights with about 7 % of the samples void, in round blobs.
std::vector<std::uint8_t> makeTile(std::uint32_t seed, bool withVoids)
{
    std::vector<std::uint8_t> tile(hgt::kTileBytes);
    std::mt19937 random(seed);
    std::vector<bool> isVoid(hgt::kTileSamples, false);
    if (withVoids) {
        std::uniform_int_distribution<int> where(0, hgt::kTileSide - 1);
        std::uniform_int_distribution<int> radius(5, 40);
        long voids = 0;
        while (voids < hgt::kTileSamples * 7 / 100) {
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

int generate(const std::filesystem::path& folder)
{
    namespace fs = std::filesystem;
    fs::create_directories(folder / "primary");
    fs::create_directories(folder / "secondary");
    fs::create_directories(folder / "noholes");
    const bool ok = writeFile(folder / "primary" / "N47E011.hgt", makeTile(1, true))
                    && writeFile(folder / "secondary" / "N47E011.hgt", makeTile(2, false))
                    && writeFile(folder / "noholes" / "N47E011.hgt", makeTile(3, false));
    if (!ok)
        std::cerr << "cannot write the tiles into " << folder << '\n';
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "generate" && argc == 3)
        return generate(argv[2]);
    if (command == "fill" && argc == 4) {
        hgt::WindowState state;
        BenchHost host;
        const hgt::MergeResult result = hgt::MergeTile(state, host, argv[2], argv[3]);
        printPeakMemory();
        std::cerr << "yields: " << host.yields << '\n';
        if (result.end == hgt::MergeEnd::Complete || result.end == hgt::MergeEnd::NoHoles)
            return 0;
        std::cerr << (result.message.empty() ? "run did not complete" : result.message) << '\n';
        return 1;
    }
    if (command == "diff" && argc == 4) {
        hgt::WindowState state;
        BenchHost host;
        const hgt::DiffResult result = hgt::MakeDifferenceTile(state, host, argv[2], argv[3]);
        printPeakMemory();
        if (result.end == hgt::DiffEnd::Complete)
            return 0;
        std::cerr << (result.message.empty() ? "run did not complete" : result.message) << '\n';
        return 1;
    }
    std::cerr << "usage: tile_bench fill PRIMARY SECONDARY_FOLDER | diff PRIMARY COMPARISON | generate FOLDER\n";
    return 2;
}
