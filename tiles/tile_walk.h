#pragma once

#include "run_report.h"
#include "save_file.h"
#include "tile_file.h"
#include "window_state.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace hgt {

// Blocks also end at every progress report (each 200,002 bytes), so a walk yields at least that often.
inline constexpr std::size_t kDefaultBlockBytes = 64 * 1024;

// How one output sample is made from the samples of the two input tiles.
enum class SampleRule {
    Fill,       // a void of the primary takes the secondary's sample; the secondary is read only where needed
    Difference, // primary minus comparison; a void in either stays a void
};

// Where the stop test stands relative to the progress report of the same sample.
enum class StopTest { AfterReport, BeforeReport };

enum class WalkEnd { Complete, Stopped, Failed };

struct WalkResult {
    WalkEnd end = WalkEnd::Complete;
    std::string message;
};

struct WalkSetup {
    SampleRule rule = SampleRule::Fill;
    StopTest stopTest = StopTest::AfterReport;
    std::function<std::string(std::int32_t posHigh)> statusText;
    std::size_t blockBytes = kDefaultBlockBytes;
};

// Walks a full tile in blocks. Each block ends at the latest at a report position, so the order
// write, yield, report, stop test of the sample-by-sample walk holds at every block end; posHigh,
// posLow, byteHigh and byteLow name the last sample written whenever the walk yields or returns.
// A walk that starts with stopRequested set writes exactly one sample.
WalkResult WalkTile(WindowState& state, RunHost& host, RunReport& report, const WalkSetup& setup,
                    TileFile& primary, TileFile& second, SaveFile& output);

// Walks into a temporary file beside outputPath and, once the walk is complete, closes the inputs
// and renames the file over outputPath. After a stop or a failure nothing of it is left.
WalkResult WalkToFile(WindowState& state, RunHost& host, RunReport& report, const WalkSetup& setup,
                      TileFile& primary, TileFile& second, const std::string& outputPath);

// The sample rules on one block of whole samples, in place in `primary`.
bool BlockHasVoid(const std::uint8_t* block, std::size_t n);
void FillVoids(std::uint8_t* primary, const std::uint8_t* secondary, std::size_t n);
void SubtractSamples(std::uint8_t* primary, const std::uint8_t* comparison, std::size_t n);

} // namespace hgt
