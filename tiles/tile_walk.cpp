#include "tile_walk.h"

#include "tile_format.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace hgt {

namespace {

// Byte offset (0-based, exclusive) at which the sample of a progress report ends: reports fall at
// posHigh = 200,001 + 200,002·k, whose low byte is the 200,002·(k+1)-th byte.
constexpr std::int64_t kReportSpan = kReportStride + 2;

bool isVoid(const std::uint8_t* sample)
{
    return sample[0] == kVoidHigh && sample[1] == kVoidLow;
}

std::int32_t sampleValue(const std::uint8_t* sample)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(sample[0] << 8 | sample[1]));
}

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
    for (std::size_t i = 0; i + 1 < n; i += 2) {
        std::int32_t d = kVoidValue;
        if (!isVoid(primary + i) && !isVoid(comparison + i))
            d = std::clamp(sampleValue(primary + i) - sampleValue(comparison + i), -32768, 32767);
        const auto bits = static_cast<std::uint16_t>(d);
        primary[i] = static_cast<std::uint8_t>(bits >> 8);
        primary[i + 1] = static_cast<std::uint8_t>(bits & 0xFF);
    }
}

WalkResult WalkTile(WindowState& state, RunHost& host, RunReport& report, const WalkSetup& setup,
                    TileFile& primary, TileFile& second, SaveFile& output)
{
    const std::size_t blockBytes = std::max<std::size_t>(2, setup.blockBytes & ~std::size_t{1});
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

} // namespace hgt
