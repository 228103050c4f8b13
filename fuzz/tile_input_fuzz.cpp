// Tile files and archives from untrusted bytes, through everything that opens them: the engine's
// tile input, info's inspection, the path check and the whole-tile reader of render.
//
// An input that starts with "PK" is written as it is to a .hgt.zip. Any other input is a header and
// a pattern: byte 0 picks the kind of file, byte 1 moves its size off the grid's by a few bytes,
// byte 2 picks the void values, and the rest is repeated to the size, so that small inputs reach
// full 1" and 3" tiles, plain and zipped.

#include "platform/archive.h"
#include "tiles/tile_format.h"
#include "tiles/tile_folder.h"
#include "tiles/tile_info.h"
#include "pictures/picture.h"
#include "tiles/internal/tile_input.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

enum class Kind { Raw, Plain3, Plain1, Zipped3, Zipped1 };

struct Case {
    Kind kind = Kind::Raw;
    std::int64_t size = 0;
    std::vector<std::int16_t> voidValues;
};

// A folder of this process for the one file of each run; memory-backed where there is /dev/shm.
const std::string& workFolder()
{
    // Never destroyed: the removal at exit still needs it.
    static const std::string& folder = *new std::string([] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base ? base : (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp")) + "/hgt-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data()))
            std::abort();
        // Each run removes its file; the folder goes at the end (a crash leaves both to look at).
        std::atexit([] { rmdir(workFolder().c_str()); });
        return pattern;
    }());
    return folder;
}

Case caseOf(const std::uint8_t* data, std::size_t size)
{
    Case c;
    if (size < 3)
        return c;
    // A 1" tile takes seconds through every reader under the sanitizers, and its paths differ from a
    // 3" tile's only in a few branches: few of the kinds are 1".
    static constexpr Kind kinds[] = {Kind::Raw,     Kind::Raw,     Kind::Raw,    Kind::Raw,
                                     Kind::Raw,     Kind::Raw,     Kind::Plain3, Kind::Plain3,
                                     Kind::Plain3,  Kind::Plain3,  Kind::Plain3, Kind::Zipped3,
                                     Kind::Zipped3, Kind::Zipped3, Kind::Plain1, Kind::Zipped1};
    c.kind = kinds[data[0] % std::size(kinds)];
    // Mostly the exact size; otherwise a few bytes off it either way (a 1" file may be longer).
    const auto offset = static_cast<std::int8_t>(data[1]);
    const std::int64_t delta = offset > 64 || offset < -64 ? 0 : offset;
    const std::int64_t grid = c.kind == Kind::Plain1 || c.kind == Kind::Zipped1 ? hgt::kTileBytes : hgt::kTileBytes3;
    c.size = grid + delta;
    static constexpr std::int16_t choices[] = {hgt::kVoidValue, -32768, -32767};
    for (int bit = 0; bit < 3; ++bit)
        if (data[2] & (1 << bit))
            c.voidValues.push_back(choices[bit]);
    return c;
}

std::vector<std::uint8_t> expand(const std::uint8_t* pattern, std::size_t n, std::int64_t size)
{
    const auto total = static_cast<std::size_t>(size);
    if (n == 0)
        return std::vector<std::uint8_t>(total, 0);
    std::vector<std::uint8_t> bytes;
    bytes.reserve(total);
    while (bytes.size() < total)
        bytes.insert(bytes.end(), pattern, pattern + std::min(n, total - bytes.size()));
    return bytes;
}

void writeFile(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out)
        std::abort();
}

// A broken promise between the readers is a finding like a crash.
void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "tile_input_fuzz: %s\n", what);
        std::abort();
    }
}

void readWhole(const hgt::TileInput& input)
{
    require(input.fileBytes() >= input.grid().bytes(), "a tile shorter than its grid");
    std::vector<std::uint8_t> block(1 << 20);
    for (std::int64_t offset = 0; offset < input.fileBytes();) {
        const auto n = static_cast<std::size_t>(
            std::min<std::int64_t>(input.fileBytes() - offset, static_cast<std::int64_t>(block.size())));
        require(input.readAt(offset, block.data(), n).has_value(), "the tile's own bytes cannot be read");
        offset += static_cast<std::int64_t>(n);
    }
    // Reads at and across the end: some bytes, then none.
    const std::int64_t end = input.fileBytes();
    const hgt::Result<std::size_t> tail = input.readSomeAt(end - 3, block.data(), 16);
    require(tail && *tail == 3, "the last three bytes");
    const hgt::Result<std::size_t> past = input.readSomeAt(end, block.data(), 16);
    require(past && *past == 0, "bytes past the end");
}

// A 3" tile seen on the 1" grid and the other way round, a few rows at the edges.
void readOtherGrid(hgt::TileInput input, const std::vector<std::int16_t>& voidValues)
{
    const hgt::TileGrid target = input.grid() == hgt::kGrid3 ? hgt::kGrid1 : hgt::kGrid3;
    hgt::GridSource source(std::move(input), target, hgt::VoidSet(voidValues));
    const auto row = static_cast<std::size_t>(target.side);
    std::vector<std::int16_t> values(2 * row);
    std::vector<std::uint8_t> hasValue(2 * row);
    for (const std::int64_t first : {std::int64_t{0}, (target.side - 2) * target.side})
        require(source.read(first, 2 * row, values.data(), hasValue.data()).has_value(),
                "a source row on the other grid");
}

void check(const std::string& path, const std::vector<std::int16_t>& voidValues)
{
    hgt::Result<hgt::TileInput> input = hgt::TileInput::open(path);
    const hgt::Result<> checked = hgt::CheckTilePath(path);
    require(input.has_value() == checked.has_value(), "the path check and the tile input disagree");
    std::optional<hgt::TileGrid> grid;
    if (input) {
        grid = input->grid();
        readWhole(*input);
        readOtherGrid(std::move(*input), voidValues);
    }

    const hgt::Result<hgt::TileInfo> info = hgt::InspectTile(path, voidValues);
    const hgt::Result<hgt::TileSamples> samples = hgt::ReadTileSamples(path, voidValues);
    require(samples.has_value() == grid.has_value(), "the sample reader and the tile input disagree");
    if (!samples)
        return;
    require(info.has_value(), "a readable tile that info cannot inspect");
    require(samples->side == grid->side && info->side == grid->side, "the grid of a tile");
    require(samples->values.size() == static_cast<std::size_t>(grid->side * grid->side), "the count of samples");
    const hgt::TileSummary summary = hgt::SummarizeTile(*samples, hgt::PictureKind::Relief);
    require(summary.voids == info->voids, "info and the summary count different voids");
    require(summary.minimum == info->minimum && summary.maximum == info->maximum,
            "info and the summary differ in range");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string folder = workFolder();
    if (size >= 2 && data[0] == 'P' && data[1] == 'K') {
        const std::string path = folder + "/N47E011.SRTMGL3.hgt.zip";
        writeFile(path, data, size);
        check(path, {hgt::kVoidValue});
        std::remove(path.c_str());
        return 0;
    }

    const Case c = caseOf(data, size);
    const std::string plain = folder + "/N47E011.hgt";
    if (c.kind == Kind::Raw) {
        writeFile(plain, data, size);
        check(plain, c.voidValues);
        std::remove(plain.c_str());
        return 0;
    }
    const std::size_t header = 3;
    const std::vector<std::uint8_t> bytes = expand(data + header, size - header, c.size);
    if (c.kind == Kind::Plain1 || c.kind == Kind::Plain3) {
        writeFile(plain, bytes.data(), bytes.size());
        check(plain, c.voidValues);
        std::remove(plain.c_str());
        return 0;
    }
    const std::string zipped = folder + "/N47E011.SRTMGL1.hgt.zip";
    require(hgt::WriteZippedTile(zipped, "N47E011.hgt", bytes).has_value(), "an archive cannot be written");
    check(zipped, c.voidValues);
    std::remove(zipped.c_str());
    return 0;
}
