#include "tiles/internal/prepared_tile.h"

#include "platform/file_system.h"
#include "tiles/internal/samples.h"
#include "tiles/tile_folder.h"
#include "tiles/tile_format.h"

#include <algorithm>
#include <memory>

namespace hgt {

namespace {

// Samples read from a source at a time: a whole 1" row block without holding the tile twice.
constexpr std::int64_t kChunkSamples = 64 * 1024;

Result<> copyFromSources(PreparedTile& out, const std::vector<GridSource*>& sources, std::vector<std::uint8_t>& pending,
                         std::int64_t samples)
{
    std::vector<std::int16_t> values(kChunkSamples);
    std::vector<std::uint8_t> hasValue(kChunkSamples);
    for (std::size_t s = 0; s < sources.size(); ++s) {
        if (!sources[s])
            continue;
        for (std::int64_t first = 0; first < samples; first += kChunkSamples) {
            const auto count = static_cast<std::size_t>(std::min(kChunkSamples, samples - first));
            std::uint8_t* wanted = pending.data() + first;
            if (std::none_of(wanted, wanted + count, [](std::uint8_t p) { return p != 0; }))
                continue;
            if (Result<> read = sources[s]->read(first, count, values.data(), hasValue.data(), wanted); !read)
                return read;
            for (std::size_t i = 0; i < count; ++i) {
                if (wanted[i] && hasValue[i]) {
                    const auto k = static_cast<std::size_t>(first) + i;
                    EncodeSample(out.bytes.data() + 2 * k, values[i]);
                    out.codes[k] = static_cast<std::uint8_t>(1 + s);
                    wanted[i] = 0;
                    ++out.filledBySource[s];
                }
            }
        }
    }
    return {};
}

// The codes the offset-bridging fill chose, and its values written over the primary's.
void takeDelta(PreparedTile& out, const DeltaFilled& delta, std::int64_t side)
{
    delta.apply(0, out.bytes.data(), static_cast<std::size_t>(side * side));
    for (std::int64_t r = 0; r < side; ++r)
        for (std::int64_t c = 0; c < side; ++c)
            if (delta.voids.get(r, c))
                out.codes[static_cast<std::size_t>(r * side + c)] = delta.fillers[delta.near.rank(r, c)];
    out.filledBySource = delta.filledBySource;
}

} // namespace

Result<PreparedTile> PrepareTile(const TileInput& primary, const std::vector<GridSource*>& sources,
                                 const VoidSet& voids, const DeltaFilled* delta, const PrepareOptions& options)
{
    const std::int64_t side = primary.grid().side;
    const std::int64_t samples = side * side;
    PreparedTile out;
    out.bytes.resize(static_cast<std::size_t>(primary.grid().bytes()));
    if (Result<> read = primary.readAt(0, out.bytes.data(), out.bytes.size()); !read)
        return read.error();
    out.codes.assign(static_cast<std::size_t>(samples), kOwnSample);
    out.filledBySource.assign(sources.size(), 0);

    std::vector<std::uint8_t> pending(static_cast<std::size_t>(samples));
    for (std::size_t k = 0; k < pending.size(); ++k) {
        pending[k] = voids.isVoid(DecodeSample(out.bytes.data() + 2 * k));
        out.voidsFound += pending[k];
    }
    if (delta) {
        takeDelta(out, *delta, side);
    } else if (Result<> copied = copyFromSources(out, sources, pending, samples); !copied) {
        return copied.error();
    }

    std::vector<std::int16_t> values(static_cast<std::size_t>(samples));
    for (std::size_t k = 0; k < values.size(); ++k)
        values[k] = DecodeSample(out.bytes.data() + 2 * k);
    if (options.interpolate) {
        std::vector<std::uint8_t> marks(values.size(), 0);
        InterpolationOptions how;
        how.maxDistance = options.maxDistance;
        const InterpolationResult done =
            InterpolateVoids(values, static_cast<int>(side), voids, how, options.neighbours, marks.data());
        for (std::size_t k = 0; k < values.size(); ++k) {
            if (marks[k]) {
                EncodeSample(out.bytes.data() + 2 * k, values[k]);
                out.codes[k] = kInterpolatedSample;
            }
        }
        out.interpolated = done.interpolated;
        out.leftTooFar = done.leftTooFar;
    }
    for (std::size_t k = 0; k < values.size(); ++k) {
        if (voids.isVoid(values[k])) {
            out.codes[k] = kVoidSample;
            ++out.voidsLeft;
        }
    }
    return out;
}

Neighbours FolderNeighbours(const std::string& primaryPath, TileGrid grid, std::optional<Error>& failure)
{
    const std::string folder = GetParentFolderName(primaryPath);
    const std::string name = TileName(primaryPath);
    Neighbours neighbours;
    neighbours.window = [folder = folder.empty() ? std::string(".") : folder, name, grid,
                         &failure](int rowStep, int columnStep,
                                   const SampleWindow& window) -> std::optional<std::vector<std::int16_t>> {
        const std::optional<std::string> neighbour = NeighbourTileName(name, rowStep, columnStep);
        if (!neighbour)
            return std::nullopt;
        const Result<std::string> found = FindTileInFolder(folder, *neighbour);
        if (!found) {
            if (found.error().kind != ErrorKind::NotFound && !failure)
                failure = found.error();
            return std::nullopt;
        }
        Result<TileInput> input = TileInput::open(*found);
        if (!input) {
            if (!failure)
                failure = input.error();
            return std::nullopt;
        }
        if (input->grid() != grid)
            return std::nullopt;
        std::vector<std::int16_t> values(static_cast<std::size_t>(window.rows) * static_cast<std::size_t>(window.columns));
        std::vector<std::uint8_t> row(static_cast<std::size_t>(window.columns) * 2);
        for (int r = 0; r < window.rows; ++r) {
            const std::int64_t offset = ((window.row + r) * grid.side + window.column) * 2;
            if (Result<> read = input->readAt(offset, row.data(), row.size()); !read) {
                if (!failure)
                    failure = read.error();
                return std::nullopt;
            }
            for (int c = 0; c < window.columns; ++c)
                values[static_cast<std::size_t>(r) * window.columns + c] = DecodeSample(row.data() + 2 * c);
        }
        return values;
    };
    return neighbours;
}

} // namespace hgt
