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

// Each void still waiting (code kVoidSample) takes the first source with a value there.
Result<> copyFromSources(PreparedTile& out, const std::vector<GridSource*>& sources,
                         const std::function<bool()>& proceed)
{
    const auto samples = static_cast<std::int64_t>(out.samples.size());
    std::vector<std::int16_t> values(kChunkSamples);
    std::vector<std::uint8_t> hasValue(kChunkSamples);
    std::vector<std::uint8_t> wanted(kChunkSamples);
    for (std::size_t s = 0; s < sources.size(); ++s) {
        if (!sources[s])
            continue;
        for (std::int64_t first = 0; first < samples; first += kChunkSamples) {
            if (proceed && !proceed())
                return {};
            const auto count = static_cast<std::size_t>(std::min(kChunkSamples, samples - first));
            const std::uint8_t* codes = out.codes.data() + first;
            bool any = false;
            for (std::size_t i = 0; i < count; ++i) {
                wanted[i] = codes[i] == kVoidSample;
                any = any || wanted[i];
            }
            if (!any)
                continue;
            if (Result<> read = sources[s]->read(first, count, values.data(), hasValue.data(), wanted.data()); !read)
                return read;
            for (std::size_t i = 0; i < count; ++i) {
                if (wanted[i] && hasValue[i]) {
                    const auto k = static_cast<std::size_t>(first) + i;
                    out.samples[k] = values[i];
                    out.codes[k] = static_cast<std::uint8_t>(1 + s);
                    ++out.filledBySource[s];
                }
            }
        }
    }
    return {};
}

// The codes the offset-bridging fill chose, and its values written over the primary's stored bytes.
void takeDelta(PreparedTile& out, const DeltaFilled& delta, std::int64_t side)
{
    auto* stored = reinterpret_cast<std::uint8_t*>(out.samples.data());
    delta.apply(0, stored, out.samples.size());
    for (std::int64_t r = 0; r < side; ++r)
        for (std::int64_t c = 0; c < side; ++c)
            if (delta.voids.get(r, c))
                out.codes[static_cast<std::size_t>(r * side + c)] = delta.fillers[delta.near.rank(r, c)];
    out.filledBySource = delta.filledBySource;
    out.voidsFound = delta.voidsFound;
}

// Between the file's byte order and the host's, in place.
void decodeInPlace(std::vector<std::int16_t>& samples)
{
    auto* stored = reinterpret_cast<std::uint8_t*>(samples.data());
    for (std::size_t k = 0; k < samples.size(); ++k)
        samples[k] = DecodeSample(stored + 2 * k);
}

void encodeInPlace(std::vector<std::int16_t>& samples)
{
    auto* stored = reinterpret_cast<std::uint8_t*>(samples.data());
    for (std::size_t k = 0; k < samples.size(); ++k) {
        const std::int16_t value = samples[k];
        EncodeSample(stored + 2 * k, value);
    }
}

} // namespace

// One buffer holds the tile throughout: read as stored, decoded in place for the sources and the
// interpolation, encoded in place at the end. The provenance codes double as the list of voids
// still waiting for a value (kVoidSample), so a 1" tile needs 3 bytes a sample.
Result<PreparedTile> PrepareTile(const TileInput& primary, const std::vector<GridSource*>& sources,
                                 const VoidSet& voids, const DeltaFilled* delta, const PrepareOptions& options)
{
    const std::int64_t side = primary.grid().side;
    const auto samples = static_cast<std::size_t>(side * side);
    PreparedTile out;
    out.samples.resize(samples);
    if (Result<> read = primary.readAt(0, reinterpret_cast<std::uint8_t*>(out.samples.data()), 2 * samples); !read)
        return read.error();
    out.codes.assign(samples, kOwnSample);
    out.filledBySource.assign(sources.size(), 0);

    if (delta)
        takeDelta(out, *delta, side);
    decodeInPlace(out.samples);
    if (!delta) {
        for (std::size_t k = 0; k < samples; ++k) {
            if (voids.isVoid(out.samples[k])) {
                out.codes[k] = kVoidSample;
                ++out.voidsFound;
            }
        }
        if (Result<> copied = copyFromSources(out, sources, options.proceed); !copied)
            return copied.error();
    }

    if (options.interpolate) {
        InterpolationOptions how;
        how.maxDistance = options.maxDistance;
        how.proceed = options.proceed;
        const InterpolationResult done =
            InterpolateVoids(out.samples, static_cast<int>(side), voids, how, options.neighbours);
        out.interpolated = done.interpolated;
        out.leftTooFar = done.leftTooFar;
    }
    // A sample that waited and has a value now was interpolated.
    for (std::size_t k = 0; k < samples; ++k) {
        if (voids.isVoid(out.samples[k])) {
            out.codes[k] = kVoidSample;
            ++out.voidsLeft;
        } else if (out.codes[k] == kVoidSample) {
            out.codes[k] = kInterpolatedSample;
        }
    }
    encodeInPlace(out.samples);
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
        std::vector<std::int16_t> values(static_cast<std::size_t>(window.rows)
                                         * static_cast<std::size_t>(window.columns));
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
