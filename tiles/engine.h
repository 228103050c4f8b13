#pragma once

// The tile engines' public face: the state record they share with the window, the progress-list
// interface, the run options, one result type for every run, the entry points and the rules of a
// tile folder. Everything else in tiles/ is private to the engines.

#include "platform/error.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hgt {

// The 1 arc second HGT tile: 3601 x 3601 signed 16-bit big-endian samples, no header.
inline constexpr std::int64_t kTileSide = 3601;
inline constexpr std::int64_t kTileSamples = kTileSide * kTileSide; // 12,967,201
inline constexpr std::int64_t kTileBytes = kTileSamples * 2;        // 25,934,402
// The void marker -9999 as stored: high byte first.
inline constexpr std::uint8_t kVoidHigh = 0xD8;
inline constexpr std::uint8_t kVoidLow = 0xF1;
inline constexpr std::int16_t kVoidValue = -9999;
// The 3 arc second tile: 1201 x 1201 samples; its nodes coincide with every third node of a 1".
inline constexpr std::int64_t kTileSide3 = 1201;
inline constexpr std::int64_t kTileBytes3 = kTileSide3 * kTileSide3 * 2; // 2,884,802
// 1-based byte positions; the walk ends when posHigh reaches one past the last byte.
inline constexpr std::int32_t kWalkEnd = static_cast<std::int32_t>(kTileBytes) + 1; // 25,934,403

// The progress line index of the current run. It starts unset; unset reads as 0 and raises to 1.
class LogIndex {
public:
    LogIndex() = default;
    explicit LogIndex(int value) : m_value(value) {}

    bool isSet() const { return m_value.has_value(); }
    int index() const { return m_value.value_or(0); }
    void raise() { m_value = index() + 1; }
    void set(int value) { m_value = value; }

    friend bool operator==(const LogIndex&, const LogIndex&) = default;

private:
    std::optional<int> m_value;
};

// The fields through which the commands, the two engines and STOP talk. One record holds the
// position, sample bytes, line index and progress text of exactly one run.
struct WindowState {
    std::int32_t posHigh = 0;
    std::int32_t posLow = 0;
    std::uint8_t byteHigh = 0;
    std::uint8_t byteLow = 0;
    bool stopRequested = false;
    bool secondaryHasTiles = false;
    std::string runLog;
    LogIndex logIndex;
    std::string statusText;
};

enum class RunEnd {
    Complete,         // the output tile is written and durable
    NoHoles,          // the primary holds no void marker byte pair; nothing written
    MissingSecondary, // holes, but no same-named tile in the secondary folder
    Stopped,          // STOP during the walk; no output written, an earlier one unchanged
    Failed,           // a tile was refused or a file operation failed; message and error say why
};

// The height offsets primary - filler on the valid samples around the voids of a tile.
struct OffsetStats {
    std::int64_t rimSamples = 0;
    double median = 0;
    double interquartileRange = 0;
};

// Above this many metres the median offset hints at sources on different vertical datums.
inline constexpr double kOffsetWarningMetres = 5.0;

// What one run of one tile did.
struct TileResult {
    std::string tile;   // the primary tile's path as given
    std::string output; // the output tile's path, once it is written
    RunEnd end = RunEnd::Complete;
    std::optional<ErrorKind> error; // set when the run failed
    std::string message;
    std::int64_t voidsFound = 0;  // void samples of the primary
    std::int64_t voidsFilled = 0; // of those, the ones that took a value from the other tile
    std::int64_t voidsLeft = 0;   // void samples of the output (void in both tiles; for a difference: in either)
    std::vector<std::int64_t> filledBySource; // voids filled from each source, in priority order
    std::optional<OffsetStats> offsets;       // measured by the offset-bridging fill
    std::string warning;                      // what the user should look at although the run ended well
    std::int64_t bytes = 0;       // bytes written to the output
    double seconds = 0;
};

struct BatchResult {
    std::vector<TileResult> tiles; // in the order given; tiles not started after a STOP are absent
    bool stopped = false;
    double seconds = 0;

    std::size_t count(RunEnd end) const;
};

// What a running engine needs from its window: the progress list and a yield to the event queue.
// List operations are only called with a valid index; the run report checks the index first.
class RunHost {
public:
    virtual ~RunHost() = default;

    virtual int listCount() const = 0;
    virtual void listInsert(int index, const std::string& text) = 0; // 0 <= index <= count
    virtual void listRemove(int index) = 0;                          // 0 <= index < count
    virtual void yieldToEvents() = 0;

    // A batch announces each tile, and each tile's result as soon as its walk has ended (before the
    // output is durable: the batch's returned results are the final word), on the caller's thread.
    virtual void tileStarted(std::size_t /*index*/, std::size_t /*count*/, const std::string& /*tile*/) {}
    virtual void tileFinished(std::size_t /*index*/, std::size_t /*count*/, const TileResult& /*result*/) {}
};

// A host for runs without a window: no list, nothing to yield to.
class QuietHost : public RunHost {
public:
    int listCount() const override { return 0; }
    void listInsert(int, const std::string&) override {}
    void listRemove(int) override {}
    void yieldToEvents() override {}
};

// What a tile holds, for looking at it without changing it.
struct TileInfo {
    std::string path;
    std::int64_t bytes = 0;
    std::int64_t side = 0;  // samples per row and per column
    std::int64_t voids = 0; // samples equal to the void marker
    std::optional<std::int16_t> minimum; // of the samples that are not void; absent when all are void
    std::optional<std::int16_t> maximum;
    double mean = 0;
    bool pairAtOddOffsetOnly = false; // the byte pair D8 F1 occurs, but never as a whole sample
};

// Called with each durability step ("sync-data", "link", "rename", "sync-folder") and its path.
using SyncTrace = std::function<void(std::string_view step, const std::string& path)>;

inline constexpr std::size_t kDefaultBlockBytes = 256 * 1024;

enum class FillMethod {
    Copy,  // a void takes the filler's sample as it is
    Delta, // the filler's sample plus the offset between the tiles, bridged smoothly across each void
};

struct RunOptions {
    std::size_t blockBytes = kDefaultBlockBytes; // bytes per read and write
    bool durable = true;                         // outputs synced to disk before they get their name
    unsigned jobs = 1;                           // batch: tiles in flight (more than one: no list lines)
    const std::atomic<bool>* stop = nullptr;     // a stop request from outside the state record
    SyncTrace trace;
    // The sample values that mark a void: -9999, -32768 and -32767 in any combination. For -9999
    // the hole test looks for its byte pair anywhere in the file; the others count as whole samples.
    std::vector<std::int16_t> voidValues{kVoidValue};
    // Further folders of secondary tiles, asked in this order for what the secondary folder leaves void.
    std::vector<std::string> moreSecondaryFolders;
    FillMethod method = FillMethod::Copy;
};

// The warning of a tile whose sources sit far apart in height, e.g.
// "Höhenversatz der Quelle: Median +9,3 m – anderes Höhenbezugssystem?"; empty below the threshold.
std::string OffsetWarning(const OffsetStats& offsets);

// Fills the voids of one primary tile from the same-named tile of secondaryFolder into
// <primary's folder>/Merged/<name>, reporting on the line at logIndex. Never throws.
TileResult MergeTile(WindowState& state, RunHost& host, const std::string& primaryFile,
                     const std::string& secondaryFolder, const RunOptions& options = {});

// Fills every tile of the list in order (a line feed into runLog before each), ending after the
// tile in progress when STOP is requested. Outputs of one tile are synced while the next is
// computed; the output folders are synced once at the end. Never throws.
BatchResult MergeTiles(WindowState& state, RunHost& host, const std::vector<std::string>& tiles,
                       const std::string& secondaryFolder, const RunOptions& options = {});

// Writes primary minus comparison, sample by sample, to <primary's folder>/DIFFS/<name>. A void in
// either tile stays a void; other differences are saturated to the 16-bit range. Never throws.
TileResult MakeDifferenceTile(WindowState& state, RunHost& host, const std::string& primaryPath,
                              const std::string& comparisonPath, const RunOptions& options = {});

// Reads a tile once and sums up its samples; `voidValues` are the samples that count as voids.
// Never throws.
Result<TileInfo> InspectTile(const std::string& path, const std::vector<std::int16_t>& voidValues = {kVoidValue});

// The rules of a tile folder.
// A file a batch takes: a name ending in .hgt or .hgt.zip, in any letter case.
bool IsTilePath(std::string_view path);
// The tile a file holds by name: the file's name; for an archive its name up to the first dot, then
// ".hgt" (N47E011.SRTMGL1.hgt.zip holds N47E011.hgt). Outputs carry this name.
std::string TileName(const std::string& path);
// Whether a folder makes the fill buttons usable: a file ending in .hgt, .HGT or .Hgt, or an
// archive ending in .hgt.zip in any letter case. A folder that cannot be listed holds none.
bool FolderHoldsTile(const std::string& folder);
// The tiles of a folder in batch order (by name, ignoring letter case).
Result<std::vector<std::string>> ListTiles(const std::string& folder);
// The tile named `name` in `folder`: the file of exactly that name; else the one file whose name
// matches ignoring letter case; else the one archive whose tile name matches ignoring letter case.
// NotFound when there is none, Ambiguous when there are several.
Result<std::string> FindTileInFolder(const std::string& folder, const std::string& name);
// The folder named `name` beside the file at `path` (the file's own folder for a bare name).
std::string SiblingFolder(const std::string& path, const std::string& name);
std::string MergedTilePath(const std::string& primaryPath);
std::string DifferenceTilePath(const std::string& primaryPath);
// The path must name a tile: a 1" or 3" tile by its size (a 1" file may be longer; its tail is
// ignored), or an archive holding one.
Result<> CheckTilePath(const std::string& path);

// Pictures of tiles: an elevation tile as shaded relief in hypsometric colours, a difference tile in
// a blue-white-red map centred on 0, and the figures shown beside them. Pixels only; writing image
// files and drawing the legend belong to the callers.
enum class PictureKind {
    Relief,     // heights
    Difference, // primary minus comparison, as written to DIFFS/
};

// A tile's samples, decoded whole: row 0 is the northern edge, column 0 the western edge.
struct TileSamples {
    std::string name; // the tile's name (TileName), e.g. N47E011.hgt
    int side = 0;
    std::vector<std::int16_t> values;
    std::vector<std::int16_t> voidValues{kVoidValue};

    bool isVoid(std::int16_t value) const
    {
        for (std::int16_t v : voidValues)
            if (v == value)
                return true;
        return false;
    }
    std::int16_t at(int row, int column) const
    {
        return values[static_cast<std::size_t>(row) * static_cast<std::size_t>(side) + static_cast<std::size_t>(column)];
    }
};

// Reads a plain or zipped tile of either grid. A difference tile's voids are always -9999; an
// elevation tile's are those of the run. Never throws.
Result<TileSamples> ReadTileSamples(const std::string& path, const std::vector<std::int16_t>& voidValues = {kVoidValue});

// Counts of the differences by value. Bins are whole metres wide, an odd number of them, the middle
// one centred on 0, together reaching at least ± the clip range; the rest is counted below / above.
struct DifferenceHistogram {
    int lowest = 0;    // the smallest value of bin 0
    int binWidth = 1;  // in metres; bin j holds lowest + j*binWidth ... lowest + (j+1)*binWidth - 1
    std::vector<std::int64_t> counts;
    std::int64_t below = 0; // values under bin 0
    std::int64_t above = 0; // values over the last bin

    int highest() const { return lowest + static_cast<int>(counts.size()) * binWidth - 1; }
};

// Percentiles interpolate linearly between the two nearest ranks of the sorted values.
struct DifferenceStats {
    std::int64_t samples = 0; // non-void differences; with none, every figure below is 0
    double median = 0;
    double mean = 0;
    double rms = 0;
    double p2 = 0;
    double p98 = 0;
    // The colour map's range: the 98th percentile of |difference|, at least 1 m so that a constant
    // or empty tile still has a range to draw and nothing divides by zero.
    double clip = 1;
    DifferenceHistogram histogram;
};

struct TileSummary {
    std::string name;
    int side = 0;
    int arcSeconds = 0; // 1 or 3, from the side
    std::optional<std::int16_t> minimum; // of the non-void samples; absent when all are void
    std::optional<std::int16_t> maximum;
    double mean = 0;
    std::int64_t voids = 0;
    double voidPercent = 0;
    std::optional<DifferenceStats> difference; // for a difference tile
};

TileSummary SummarizeTile(const TileSamples& samples, PictureKind kind);

// The colour rules. Colours are 0xFFRRGGBB.
inline constexpr std::uint32_t kReliefVoidColour = 0xFFFF00FF;
inline constexpr std::uint32_t kDifferenceVoidColour = 0xFF808080;
inline constexpr std::uint32_t kDifferenceLowColour = 0xFF2166AC;  // at -clip and below
inline constexpr std::uint32_t kDifferenceZeroColour = 0xFFFFFFFF;
inline constexpr std::uint32_t kDifferenceHighColour = 0xFFB2182B; // at +clip and above

// The hypsometric tint of a height in metres, from green lowlands over browns to white summits.
std::uint32_t HypsometricColour(int metres);

// How much of the light from the north-west, 45° above the horizon, falls on a surface that rises
// by `riseEast` metres per metre eastwards and `riseNorth` per metre northwards: 0 (turned away) to
// 1 (facing the light); flat ground gets sin 45°.
double HillshadeFactor(double riseEast, double riseNorth);

// A height colour lit by a hillshade factor: flat ground keeps its colour, slopes facing the light
// get brighter, slopes turned away darker.
std::uint32_t ShadedColour(std::uint32_t colour, double hillshade);

// The diverging colour of a difference for the range ±clip: white at 0, towards blue below and red
// above, saturated beyond the range. A clip of 0 or less counts as the smallest positive range.
std::uint32_t DifferenceColour(double difference, double clip);

// The latitude of a tile's southern edge from its name (N47E011.hgt: 47, s12w077.hgt.zip: -12).
std::optional<int> TileLatitude(std::string_view name);

// The ground distance between neighbouring samples of a tile, in metres. North-south it is one
// grid step of latitude; east-west that step shrinks with the cosine of the tile's middle latitude,
// when the name tells it.
struct SampleSpacing {
    double north = 0;
    double east = 0;
};
SampleSpacing SpacingOf(const TileSamples& samples);

// The sample row (or column) a picture row (or column) shows when `side` samples are drawn on
// `pixels` pixels: the nearest one on a grid whose first and last samples sit on the first and last
// pixels, round(pixel * (side-1) / (pixels-1)). At full size pixel p shows sample p; a 1" tile drawn
// on 1201 pixels shows every third sample, the nodes of the 3" grid. One pixel shows the middle.
int SampleOfPixel(int pixel, int side, int pixels);

struct TilePicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels; // 0xFFRRGGBB, row by row from the top left

    std::uint32_t at(int x, int y) const
    {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)];
    }
};

// Draws one tile, whole or a band of rows at a time: the colour tables and the pixel-to-sample maps
// are made once; renderRows of disjoint bands may run on different threads. The samples must
// outlive the renderer.
class TileRenderer {
public:
    // size 0: one pixel per sample; otherwise size x size pixels. A summary with difference
    // figures draws a difference picture, one without a relief.
    TileRenderer(const TileSamples& samples, const TileSummary& summary, int size = 0);

    int width() const { return m_size; }
    int height() const { return m_size; }
    PictureKind kind() const { return m_kind; }

    // A picture of the right size, not yet drawn (all pixels 0).
    TilePicture blankPicture() const;
    // Draws picture rows [first, last) into a picture made by blankPicture.
    void renderRows(int first, int last, TilePicture& picture) const;
    TilePicture render() const;

private:
    void renderRelief(int first, int last, TilePicture& picture) const;
    void renderDifference(int first, int last, TilePicture& picture) const;

    const TileSamples& m_samples;
    PictureKind m_kind = PictureKind::Relief;
    int m_size = 0;
    SampleSpacing m_spacing;
    std::vector<std::uint32_t> m_colours; // by sample value + 32768; voids take their colour
    std::vector<std::uint8_t> m_isVoid;   // by sample value + 32768
    std::vector<int> m_sampleOf;          // the sample row/column of each picture row/column
    std::vector<int> m_before;            // the neighbours a gradient is taken between
    std::vector<int> m_after;
    // At full size, inside the border, a slope is always taken over two samples each way: the
    // brightness of every pair of height differences up to ±kShadeReach metres is looked up.
    static constexpr int kShadeReach = 127;
    std::vector<std::uint16_t> m_brightness;
};

} // namespace hgt
