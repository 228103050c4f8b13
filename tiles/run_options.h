#pragma once

// How a run goes: its sources, its fill method, its blocks and its stop.

#include "platform/save_file.h"
#include "tiles/tile_format.h"
#include "tiles/tile_source.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace hgt {

inline constexpr std::size_t kDefaultBlockBytes = 256 * 1024;

enum class FillMethod {
    Copy,  // a void takes the filler's sample as it is
    Delta, // the filler's sample plus the offset between the tiles, bridged smoothly across each void
};

// One source of a fill: a folder of HGT tiles, or, when `tiles` is set, a source of another kind.
struct FillSource {
    FillSource() = default;
    // A source named by its folder (or path) alone, or with the reader of its kind: {path, tiles}.
    FillSource(std::string path, std::shared_ptr<const TileSource> reader = nullptr, std::string heightDatum = {})
        : folder(std::move(path)), tiles(std::move(reader)), datum(std::move(heightDatum))
    {}

    std::string folder;
    std::shared_ptr<const TileSource> tiles;
    // The vertical datum of the source's heights ("egm96", "egm2008", "ellipsoid" or a CRS such as
    // "EPSG:7837"); empty: as the source says, or, where it says nothing, the tiles' own.
    std::string datum;
    // Set before the run where the source's heights are converted to the tiles' datum.
    std::shared_ptr<const HeightConversion> conversion;
};

// The largest maxDistance the window and the command line take, in samples: more than two 1" tiles across.
inline constexpr int kLargestMaxDistance = 10000;

struct RunOptions {
    std::size_t blockBytes = kDefaultBlockBytes; // bytes per read and write
    bool durable = true;                         // outputs synced to disk before they get their name
    unsigned jobs = 1;                           // batch: tiles in flight (more than one: no progress)
    const std::atomic<bool>* stop = nullptr;     // a stop request from outside the state record
    SyncTrace trace;
    // The sample values that mark a void: -9999, -32768 and -32767 in any combination. For -9999
    // the hole test looks for its byte pair anywhere in the file; the others count as whole samples.
    std::vector<std::int16_t> voidValues{kVoidValue};
    FillMethod method = FillMethod::Copy;
    // The voids no source covers are interpolated when every sample of their region lies within
    // maxDistance samples of valid data. With `interpolate` a tile that no source has is still
    // filled; it ends MissingSecondary only when nothing could be interpolated either.
    bool interpolate = false;
    int maxDistance = 100;
    // A fill also writes <output>.src beside the output: where each sample came from (tile_format.h).
    bool provenance = false;
    // Every source of a fill in priority order, HGT folders and other kinds mixed, each asked for what
    // the ones before leave void. When empty, the secondary folder argument is the one source.
    std::vector<FillSource> sources;
    // The vertical datum of the tiles' heights. Empty, with no source's datum given: heights are taken
    // as they are; otherwise a source in another datum is converted to this one (empty: "egm96").
    std::string tileDatum;
};

// Whether the run converts heights at all: only when some datum is given.
inline bool ConvertsHeights(const std::vector<FillSource>& sources, const std::string& tileDatum)
{
    if (!tileDatum.empty())
        return true;
    for (const FillSource& source : sources)
        if (!source.datum.empty())
            return true;
    return false;
}

inline bool ConvertsHeights(const RunOptions& options)
{
    return ConvertsHeights(options.sources, options.tileDatum);
}

// Whether a batch of this many tiles has several in flight; then its tiles report no progress.
inline bool SeveralInFlight(const RunOptions& options, std::size_t tiles)
{
    return options.jobs > 1 && tiles > 1;
}

} // namespace hgt
