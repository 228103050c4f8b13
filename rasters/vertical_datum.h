#pragma once

// Heights of a fill source in another vertical datum than the tiles (EGM2008, ellipsoidal heights,
// a national height system) brought to the tile datum through PROJ. The shift is computed on a coarse
// grid per tile and interpolated to the samples. A conversion PROJ can only guess (a grid file that is
// missing, a "ballpark" step that leaves heights as they are) is refused, never carried out by zero.
// PROJ stays behind this header.

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace hgt {

enum class DatumErrorKind {
    NotADatum,    // a name PROJ does not know, or a reference system without heights
    GridMissing,  // the conversion needs grid files that are not at hand
    NoConversion, // PROJ knows no conversion between the two that is more than a guess
    OutsideArea,  // part of the tile lies where no usable conversion is defined
    BadTile,      // a tile corner that is no 1-degree tile on the globe
    Proj,         // PROJ failed (no database, out of memory)
};

struct DatumError {
    DatumErrorKind kind = DatumErrorKind::Proj;
    std::string message;            // German, for the user
    std::vector<std::string> grids; // GridMissing: the files to fetch
};

template <class T>
using DatumResult = std::expected<T, DatumError>;

// A vertical datum as the user named it: "egm96", "egm2008", "ellipsoid" (WGS 84 ellipsoidal heights)
// or an authority code of a vertical, compound or geographic 3D reference system ("EPSG:7837").
struct VerticalDatum {
    std::string name;       // as given
    std::string definition; // what PROJ is given: "EPSG:4326+5773"
    std::string label;      // for messages: "EGM96", "DHHN2016 height"
};

// Any letter case for the three short names; anything else must be AUTHORITY:CODE or
// AUTHORITY:CODE+CODE and name a reference system with heights.
DatumResult<VerticalDatum> ParseVerticalDatum(std::string_view name);

// The datum of HGT tiles.
VerticalDatum TileDatum();

// The height shift (converted minus source height, metres) over one 1-degree tile on a grid of
// (kShiftSteps+1)² nodes: node (j, i) at lat latitude + j/kShiftSteps, lon longitude + i/kShiftSteps,
// row j = 0 on the southern edge. Half an arc minute apart, so that the nodes of geoid grids laid out
// in whole half minutes (EGM96 15', EGM2008 2.5', 1' by 1.5' national grids) are nodes here too and
// the bilinear shift between them is PROJ's own; a tile's 14,641 nodes cost PROJ about 3 ms.
struct TileShift {
    static constexpr int kShiftSteps = 120;
    static constexpr int kNodes = kShiftSteps + 1;
    static constexpr double kLargestShift = 10000.0; // metres; beyond it no datum's, and a failed node
    int latitude = 0;                                // south-western corner
    int longitude = 0;
    std::vector<double> shift; // kNodes * kNodes, empty for an identity
};

// The shift at sample (row, column) of a tile with `side` samples a side, as ApplyShift adds it.
double ShiftAtSample(const TileShift& shift, int row, int column, int side);

// A tile's shift laid out for its samples (where each column falls between the nodes, computed once),
// so that any run of samples, a block as a fill reads it, is converted without setting up the tile again.
// Heights move bilinearly between the nodes, rounded half away from zero and clamped to 16 bits.
// Samples holding one of the void values stay as they are; a converted height that lands on one is
// moved up by a metre (down at the top of the range). An empty shift, one with a node that is not a
// number or beyond kLargestShift, or a side below 2 leaves heights alone. apply may be called from
// several threads at once.
class SampleShift {
public:
    // As many void values as the vector loop compares; a longer list takes the table alone.
    static constexpr std::size_t kFewVoids = 4;

    SampleShift(TileShift shift, int side, std::span<const std::int16_t> voidValues);

    // Samples [first, first + samples.size()) of the tile (row order, row 0 the northern edge, host
    // order), converted in place; a run that does not lie inside the tile is left alone.
    void apply(std::int64_t first, std::span<std::int16_t> samples) const;

private:
    TileShift m_shift;
    int m_side = 0;
    bool m_usable = false;
    std::shared_ptr<const std::array<bool, 65536>> m_isVoid;
    std::array<int, kFewVoids> m_few{};
    bool m_fewVoids = false;
    std::vector<double> m_westWeight;                 // per column: the weight of the node east of it
    std::array<int, TileShift::kNodes> m_cellStart{}; // per cell between two nodes: its first column
};

// SampleShift over a whole tile's heights (side*side).
void ApplyShift(const TileShift& shift, std::span<std::int16_t> heights, int side,
                std::span<const std::int16_t> voidValues);

// A conversion from a source datum to the tile datum. Holds a PROJ context of its own: use one object
// from one thread at a time. Movable, not copyable.
class VerticalConversion {
public:
    VerticalConversion(VerticalConversion&&) noexcept;
    VerticalConversion& operator=(VerticalConversion&&) noexcept;
    ~VerticalConversion();

    // Checks that PROJ can convert with the grids at hand (its search path, PROJ_DATA, the user's PROJ
    // folder; the network only where the user turned PROJ's on). GridMissing names the grid files and
    // the folder to put them in. The same datum on both sides gives an identity.
    static DatumResult<VerticalConversion> create(const VerticalDatum& source, const VerticalDatum& tile = TileDatum());

    bool isIdentity() const;

    // The shift over the tile with the given south-western corner (-90 <= latitude <= 89,
    // -180 <= longitude <= 179). A node takes the first operation that gives it a value, those covering
    // the whole tile first; GridMissing where only a grid to fetch would cover a node, else OutsideArea.
    DatumResult<TileShift> tileShift(int latitude, int longitude) const;

    // The shift at single points (degrees), computed by PROJ without the coarse grid: for measuring it.
    DatumResult<std::vector<double>> shiftAt(std::span<const double> latitudes,
                                             std::span<const double> longitudes) const;

private:
    struct State;
    explicit VerticalConversion(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};

} // namespace hgt
