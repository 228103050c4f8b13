#include "tile_walk.h"

#include "tile_format.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace hgt {

namespace {

// Byte offset (0-based, exclusive) at which the sample of a progress report ends: reports fall at
// posHigh = 200,001 + 200,002·k, whose low byte is the 200,002·(k+1)-th byte.
constexpr std::int64_t kReportSpan = kReportStride + 2;

// The samples are handled as raw 16-bit words in memory order, compared with the marker's bytes in
// the same order: branch-free loops that the compiler turns into vector code.
std::uint16_t loadWord(const std::uint8_t* p)
{
    std::uint16_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

void storeWord(std::uint8_t* p, std::uint16_t word)
{
    std::memcpy(p, &word, sizeof word);
}

// Swaps a big-endian tile word to the host's order, and back.
std::uint16_t toHost(std::uint16_t word)
{
    if constexpr (std::endian::native == std::endian::little)
        return static_cast<std::uint16_t>(word << 8 | word >> 8);
    return word;
}

const std::uint8_t kVoidBytes[2] = {kVoidHigh, kVoidLow};
const std::uint16_t kVoidWord = loadWord(kVoidBytes);

} // namespace

bool BlockHasVoid(const std::uint8_t* block, std::size_t n)
{
    const std::uint16_t marker = kVoidWord;
    std::uint16_t found = 0; // 16-bit lanes keep the vector loop narrow
    for (std::size_t w = 0; w < n / 2; ++w)
        found |= static_cast<std::uint16_t>(loadWord(block + 2 * w) == marker);
    return found != 0;
}

void FillVoids(std::uint8_t* primary, const std::uint8_t* secondary, std::size_t n)
{
    const std::uint16_t marker = kVoidWord;
    for (std::size_t w = 0; w < n / 2; ++w) {
        const std::uint16_t own = loadWord(primary + 2 * w);
        const std::uint16_t other = loadWord(secondary + 2 * w);
        storeWord(primary + 2 * w, own == marker ? other : own);
    }
}

void SubtractSamples(std::uint8_t* primary, const std::uint8_t* comparison, std::size_t n)
{
    const std::uint16_t marker = kVoidWord;
    for (std::size_t w = 0; w < n / 2; ++w) {
        const std::uint16_t ownWord = loadWord(primary + 2 * w);
        const std::uint16_t otherWord = loadWord(comparison + 2 * w);
        // Saturating 16-bit subtraction in unsigned arithmetic, so the loop stays 16 bits wide:
        // it overflows where the operands' signs differ and the result's sign differs from own's.
        const std::uint16_t own = toHost(ownWord);
        const std::uint16_t other = toHost(otherWord);
        const auto difference = static_cast<std::uint16_t>(own - other);
        const bool overflow = ((own ^ other) & (own ^ difference)) & 0x8000;
        const auto saturated = static_cast<std::uint16_t>(0x7FFF + (own >> 15));
        const std::uint16_t result = overflow ? saturated : difference;
        const bool eitherVoid = (ownWord == marker) | (otherWord == marker);
        storeWord(primary + 2 * w, eitherVoid ? marker : toHost(result));
    }
}

WalkResult WalkTile(WindowState& state, RunHost& host, RunReport& report, const WalkSetup& setup,
                    TileFile& primary, TileFile& second, SaveFile& output)
{
    // A block never reaches past the next report, so no buffer needs to be longer than that.
    const std::size_t blockBytes =
        std::clamp<std::size_t>(setup.blockBytes & ~std::size_t{1}, 2, static_cast<std::size_t>(kReportSpan));
    std::vector<std::uint8_t> block(blockBytes);
    std::vector<std::uint8_t> other(blockBytes);

    state.posHigh = 1;
    state.posLow = state.posHigh + 1;
    const bool stopAtFirstSample = state.stopRequested;

    for (std::int64_t offset = 0; offset < kTileBytes;) {
        const std::int64_t reportEnd = (offset / kReportSpan + 1) * kReportSpan;
        std::int64_t n = std::min<std::int64_t>({static_cast<std::int64_t>(blockBytes), kTileBytes - offset,
                                                 reportEnd - offset});
        if (offset == 0 && stopAtFirstSample)
            n = 2;
        const auto count = static_cast<std::size_t>(n);

        if (FsStatus status = primary.readAt(offset, block.data(), count); !status)
            return {WalkEnd::Failed, status.message};
        const bool needsSecond = setup.rule == SampleRule::Difference || BlockHasVoid(block.data(), count);
        if (needsSecond) {
            if (FsStatus status = second.readAt(offset, other.data(), count); !status)
                return {WalkEnd::Failed, status.message};
            if (setup.rule == SampleRule::Fill)
                FillVoids(block.data(), other.data(), count);
            else
                SubtractSamples(block.data(), other.data(), count);
        }
        if (FsStatus status = output.write(block.data(), count); !status)
            return {WalkEnd::Failed, status.message};

        state.posHigh = static_cast<std::int32_t>(offset + n - 1);
        state.posLow = state.posHigh + 1;
        state.byteHigh = block[count - 2];
        state.byteLow = block[count - 1];

        host.yieldToEvents();
        if (setup.stopTest == StopTest::BeforeReport && state.stopRequested)
            return {WalkEnd::Stopped, {}};
        if (report.due())
            report.report(setup.statusText(state.posHigh));
        if (setup.stopTest == StopTest::AfterReport && state.stopRequested)
            return {WalkEnd::Stopped, {}};
        offset += n;
    }
    state.posHigh = kWalkEnd;
    state.posLow = kWalkEnd + 1;
    return {};
}

WalkResult WalkToFile(WindowState& state, RunHost& host, RunReport& report, const WalkSetup& setup,
                      TileFile& primary, TileFile& second, const std::string& outputPath)
{
    SaveFile output(outputPath);
    if (FsStatus status = output.open(); !status)
        return {WalkEnd::Failed, status.message};
    WalkResult walk = WalkTile(state, host, report, setup, primary, second, output);
    if (walk.end != WalkEnd::Complete)
        return walk;
    primary.close();
    second.close();
    if (FsStatus status = output.commit(); !status)
        return {WalkEnd::Failed, status.message};
    return walk;
}

} // namespace hgt
