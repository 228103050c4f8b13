#include "tiles/internal/prepared_tile.h"

#include "platform/file_system.h"
#include "tiles/internal/samples.h"
#include "tiles/internal/take_first_source.h"
#include "tiles/tile_folder.h"
#include "tiles/tile_format.h"

#include <algorithm>
#include <array>
#include <memory>

namespace hgt {

namespace {

// Samples read from a source at a time: a whole 1" row block without holding the tile twice.
constexpr std::int64_t kChunkSamples = 64 * 1024;

// Each void still waiting (code kVoidSample) takes the first source with a value there; the source
// that gives it becomes its code.
Result<> copyFromSources(PreparedTile& out, const std::vector<GridSource*>& sources,
                         const std::function<bool()>& proceed)
{
    const auto samples = static_cast<std::int64_t>(out.samples.size());
    std::vector<std::int16_t> values(kChunkSamples);
    std::vector<std::uint8_t> hasValue(kChunkSamples);
    std::vector<std::uint8_t> waiting(kChunkSamples);
    for (std::size_t s = 0; s < sources.size(); ++s) {
        if (!sources[s])
            continue;
        for (std::int64_t first = 0; first < samples; first += kChunkSamples) {
            if (proceed && !proceed())
                return {};
            const auto count = static_cast<std::size_t>(std::min(kChunkSamples, samples - first));
            std::uint8_t* codes = out.codes.data() + first;
            std::size_t left = 0;
            for (std::size_t i = 0; i < count; ++i) {
                waiting[i] = codes[i] == kVoidSample;
                left += waiting[i];
            }
            TakeFirstSource take(waiting.data(), count, left, out.filledBySource);
            if (take.left() == 0)
                continue;
            if (Result<> read = sources[s]->read(first, count, values.data(), hasValue.data(), waiting.data()); !read)
                return read;
            std::int16_t* chunk = out.samples.data() + first;
            take.offer(s, hasValue.data(), [&](std::size_t i) {
                chunk[i] = values[i];
                codes[i] = static_cast<std::uint8_t>(1 + s);
            });
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

namespace {

// Where a neighbour sits among the nine tiles around and including the tile (4 is the tile).
int positionOf(int rowStep, int columnStep)
{
    return (rowStep + 1) * 3 + columnStep + 1;
}

// The neighbours found in the folder and why any of them is left out. Found all at once on the first
// question, so that a file standing in two positions is seen in both.
struct FolderNeighbourState {
    std::string folder;
    std::string name;
    TileGrid grid;
    std::optional<FileIdentity> primary;
    bool located = false;
    std::array<std::string, 9> paths;   // empty where there is no such tile
    std::array<std::string, 9> refusal; // why a found neighbour is left out; empty if it is not
    std::vector<std::string> leftOut;

    void locate()
    {
        located = true;
        std::array<std::optional<FileIdentity>, 9> ids;
        for (int rowStep = -1; rowStep <= 1; ++rowStep)
            for (int columnStep = -1; columnStep <= 1; ++columnStep) {
                const int p = positionOf(rowStep, columnStep);
                const std::optional<std::string> neighbour = NeighbourTileName(name, rowStep, columnStep);
                if (p == 4 || !neighbour)
                    continue;
                const Result<std::string> found = FindTileInFolder(folder, *neighbour);
                if (!found) {
                    // Something other than a file under the tile's name (a folder, a broken link) is
                    // opened all the same, so that the note says what it is.
                    const std::string exact = JoinPath(folder, *neighbour);
                    if (found.error().kind != ErrorKind::NotFound) {
                        paths[p] = exact;
                        refusal[p] = found.error().message;
                    } else if (EntryExists(exact)) {
                        paths[p] = exact;
                    }
                    continue;
                }
                paths[p] = *found;
                ids[p] = IdentityOf(*found);
            }
        // A name that leads to the tile itself, or to the file of another position, holds no neighbour.
        for (std::size_t p = 0; p < ids.size(); ++p)
            if (ids[p] && refusal[p].empty() && ids[p] == primary)
                refusal[p] = paths[p] + " ist dieselbe Datei wie die Kachel selbst";
        for (std::size_t p = 0; p < ids.size(); ++p) {
            if (!ids[p] || !refusal[p].empty())
                continue;
            std::string others;
            for (std::size_t q = p + 1; q < ids.size(); ++q)
                if (ids[q] == ids[p])
                    others += (others.empty() ? "" : " und ") + paths[q];
            if (others.empty())
                continue;
            // One text for every position of the file, so that the note names it once.
            const std::string text = paths[p] + " ist dieselbe Datei wie " + others;
            for (std::size_t q = p; q < ids.size(); ++q)
                if (ids[q] == ids[p])
                    refusal[q] = text;
        }
    }

    std::nullopt_t leaveOut(int p, const std::string& reason)
    {
        refusal[p] = reason;
        if (std::find(leftOut.begin(), leftOut.end(), reason) == leftOut.end())
            leftOut.push_back(reason);
        paths[p].clear(); // asked again, it is no tile
        return std::nullopt;
    }

    std::optional<std::vector<std::int16_t>> window(int rowStep, int columnStep, const SampleWindow& window)
    {
        if (!located)
            locate();
        const int p = positionOf(rowStep, columnStep);
        if (p < 0 || p >= 9 || paths[p].empty())
            return std::nullopt;
        if (!refusal[p].empty())
            return leaveOut(p, refusal[p]);
        Result<TileInput> input = TileInput::open(paths[p]);
        if (!input)
            return leaveOut(p, input.error().message);
        if (input->grid() != grid)
            return std::nullopt;
        std::vector<std::int16_t> values(static_cast<std::size_t>(window.rows)
                                         * static_cast<std::size_t>(window.columns));
        std::vector<std::uint8_t> row(static_cast<std::size_t>(window.columns) * 2);
        for (int r = 0; r < window.rows; ++r) {
            const std::int64_t offset = ((window.row + r) * grid.side + window.column) * 2;
            if (Result<> read = input->readAt(offset, row.data(), row.size()); !read)
                return leaveOut(p, read.error().message);
            for (int c = 0; c < window.columns; ++c)
                values[static_cast<std::size_t>(r) * window.columns + c] = DecodeSample(row.data() + 2 * c);
        }
        return values;
    }
};

} // namespace

std::string FolderNeighbourTiles::note() const
{
    if (!leftOut || leftOut->empty())
        return {};
    std::string text = leftOut->size() == 1
                           ? "Nachbarkachel ausgelassen, am Rand zu ihr wird nur aus dieser Kachel interpoliert: "
                           : "Nachbarkacheln ausgelassen, an den Rändern zu ihnen wird nur aus dieser Kachel "
                             "interpoliert: ";
    for (std::size_t i = 0; i < leftOut->size(); ++i)
        text += (i == 0 ? "" : "; ") + (*leftOut)[i];
    return text;
}

FolderNeighbourTiles FolderNeighbours(const std::string& primaryPath, TileGrid grid)
{
    auto state = std::make_shared<FolderNeighbourState>();
    const std::string folder = GetParentFolderName(primaryPath);
    state->folder = folder.empty() ? std::string(".") : folder;
    state->name = TileName(primaryPath);
    state->grid = grid;
    state->primary = IdentityOf(primaryPath);
    FolderNeighbourTiles tiles;
    tiles.neighbours.window = [state](int rowStep, int columnStep, const SampleWindow& window) {
        return state->window(rowStep, columnStep, window);
    };
    tiles.leftOut = std::shared_ptr<const std::vector<std::string>>(state, &state->leftOut);
    return tiles;
}

} // namespace hgt
