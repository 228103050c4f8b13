#pragma once

// The contract of a fill source that is not a folder of HGT tiles: what a raster plugin implements.

#include "platform/error.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace hgt {

// A tile's samples from a source that is not a folder of HGT tiles: row 0 is the northern edge.
struct SourceTile {
    std::vector<std::int16_t> values; // side*side heights in metres, host order; kVoidValue where none
    std::vector<std::string> files;   // the files the values were taken from
};

// Called between the pieces of a long piece of work: it yields to the run's host and returns false
// once the run is to stop. Work that is asked to stop ends within a fraction of a second; what it
// returns then is not used.
using Proceed = std::function<bool()>;

// A fill source the engine knows only through this interface (rasters, from a plugin). tileFor may be
// called from several batch threads at once.
class TileSource {
public:
    virtual ~TileSource() = default;
    virtual std::string path() const = 0;
    // The tile named e.g. "N47E011.hgt" on a grid of side*side samples; nullopt where the source does not
    // cover it. With `wanted` (side*side flags), only the flagged samples need a value. `proceed` (may
    // be empty) is asked at least every few tens of milliseconds while the source reads.
    virtual Result<std::optional<SourceTile>> tileFor(const std::string& tileName, int side,
                                                      const std::vector<std::uint8_t>* wanted,
                                                      const Proceed& proceed) const = 0;
    // The vertical datum the source's georeferencing names ("EPSG:3855"); empty where it names none.
    virtual std::string verticalDatum() const { return {}; }
};

// One tile's heights brought to the tiles' vertical datum as the fill reads them.
class TileConversion {
public:
    virtual ~TileConversion() = default;
    // Samples [first, first + samples.size()) of the tile on the primary's grid (row order, row 0 the
    // northern edge, host order), converted in place. Samples holding one of the run's void values stay
    // as they are, and no converted height becomes one. May be called from several threads at once.
    virtual void apply(std::int64_t first, std::span<std::int16_t> samples) const = 0;
};

// A source's heights brought to the tiles' vertical datum: made by the plugin, which holds the
// geodesy, and applied by the engine to the samples it reads from the source. forTile may be called
// from several batch threads at once.
class HeightConversion {
public:
    virtual ~HeightConversion() = default;
    virtual std::string from() const = 0; // the source's datum for reports: "EGM2008"
    virtual std::string to() const = 0;   // the tiles' datum: "EGM96"
    // The conversion of the tile named e.g. "N47E011.hgt" with side*side samples.
    virtual Result<std::shared_ptr<const TileConversion>> forTile(
        const std::string& tileName, int side, const std::vector<std::int16_t>& voidValues) const = 0;
};

} // namespace hgt
