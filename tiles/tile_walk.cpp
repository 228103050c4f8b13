#include "tiles/internal/tile_walk.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace hgt {

namespace {

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

// Counts in 16-bit lanes stay narrow enough to vectorise well; a chunk never overflows them.
constexpr std::size_t kCountChunkWords = 32768;

constexpr std::size_t kMaxBlockBytes = 4 * 1024 * 1024;

} // namespace

// The kernels exist twice, for AVX2 and for the x86-64 baseline (SSE2); the loader picks one.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define HGT_VECTOR_KERNEL __attribute__((target_clones("avx2", "default")))
#else
#define HGT_VECTOR_KERNEL
#endif

HGT_VECTOR_KERNEL
std::size_t CountVoids(const std::uint8_t* block, std::size_t n)
{
    const std::uint16_t marker = kVoidWord;
    const std::size_t words = n / 2;
    std::size_t total = 0;
    for (std::size_t start = 0; start < words; start += kCountChunkWords) {
        const std::size_t end = std::min(words, start + kCountChunkWords);
        std::uint16_t count = 0;
        for (std::size_t w = start; w < end; ++w)
            count = static_cast<std::uint16_t>(count + (loadWord(block + 2 * w) == marker));
        total += count;
    }
    return total;
}

HGT_VECTOR_KERNEL
std::size_t FillVoids(std::uint8_t* primary, const std::uint8_t* secondary, std::size_t n)
{
    const std::uint16_t marker = kVoidWord;
    const std::size_t words = n / 2;
    std::size_t left = 0;
    for (std::size_t start = 0; start < words; start += kCountChunkWords) {
        const std::size_t end = std::min(words, start + kCountChunkWords);
        std::uint16_t count = 0;
        for (std::size_t w = start; w < end; ++w) {
            const std::uint16_t own = loadWord(primary + 2 * w);
            const std::uint16_t other = loadWord(secondary + 2 * w);
            const std::uint16_t result = own == marker ? other : own;
            count = static_cast<std::uint16_t>(count + (result == marker));
            storeWord(primary + 2 * w, result);
        }
        left += count;
    }
    return left;
}

HGT_VECTOR_KERNEL
std::size_t SubtractSamples(std::uint8_t* primary, const std::uint8_t* comparison, std::size_t n)
{
    const std::uint16_t marker = kVoidWord;
    const std::size_t words = n / 2;
    std::size_t voids = 0;
    for (std::size_t start = 0; start < words; start += kCountChunkWords) {
        const std::size_t end = std::min(words, start + kCountChunkWords);
        std::uint16_t count = 0;
        for (std::size_t w = start; w < end; ++w) {
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
            count = static_cast<std::uint16_t>(count + eitherVoid);
            storeWord(primary + 2 * w, eitherVoid ? marker : toHost(result));
        }
        voids += count;
    }
    return voids;
}

Result<Walk> WalkTile(RunContext& run, const WalkSetup& setup, const File& primary, const File& second,
                      SaveFile& output)
{
    WindowState& state = run.state;
    const std::size_t blockBytes =
        std::clamp<std::size_t>(run.options.blockBytes & ~std::size_t{1}, 2, kMaxBlockBytes);
    std::vector<std::uint8_t> block(blockBytes);
    std::vector<std::uint8_t> other(blockBytes);

    state.posHigh = 1;
    state.posLow = state.posHigh + 1;
    const bool stopAtFirstSample = run.stopRequested();
    Walk walk;

    std::int64_t nextReportEnd = kReportSpan; // 0-based end of the sample of the next report
    for (std::int64_t offset = 0; offset < kTileBytes;) {
        std::int64_t n = std::min<std::int64_t>(static_cast<std::int64_t>(blockBytes), kTileBytes - offset);
        if (offset == 0 && stopAtFirstSample)
            n = 2;
        const auto count = static_cast<std::size_t>(n);

        if (Result<> read = primary.readAt(offset, block.data(), count); !read)
            return read.error();
        const std::size_t voids = CountVoids(block.data(), count);
        walk.voidsFound += static_cast<std::int64_t>(voids);
        if (setup.rule == SampleRule::Difference || voids > 0) {
            if (Result<> read = second.readAt(offset, other.data(), count); !read)
                return read.error();
            walk.voidsLeft += static_cast<std::int64_t>(setup.rule == SampleRule::Fill
                                                            ? FillVoids(block.data(), other.data(), count)
                                                            : SubtractSamples(block.data(), other.data(), count));
        }

        // The sample loop pauses at every report inside the block and at the block's end.
        const std::int64_t blockEnd = offset + n;
        for (;;) {
            const std::int64_t end = std::min(nextReportEnd, blockEnd);
            state.posHigh = static_cast<std::int32_t>(end - 1);
            state.posLow = state.posHigh + 1;
            state.byteHigh = block[static_cast<std::size_t>(end - offset - 2)];
            state.byteLow = block[static_cast<std::size_t>(end - offset - 1)];

            run.host.yieldToEvents();
            if (setup.stopTest == StopTest::BeforeReport && run.stopRequested())
                return Walk{true, walk.voidsFound, walk.voidsLeft, walk.bytes};
            if (run.report.due())
                run.report.report(setup.statusText(state.posHigh));
            if (setup.stopTest == StopTest::AfterReport && run.stopRequested()) {
                walk.stopped = true;
                return walk;
            }
            if (end == nextReportEnd)
                nextReportEnd += kReportSpan;
            if (end == blockEnd)
                break;
        }

        if (Result<> written = output.write(block.data(), count); !written)
            return written.error();
        walk.bytes += n;
        offset = blockEnd;
    }
    state.posHigh = kWalkEnd;
    state.posLow = kWalkEnd + 1;
    return walk;
}

Result<bool> HasVoidBytePair(const File& file, std::size_t blockBytes)
{
    std::vector<std::uint8_t> buffer(std::clamp<std::size_t>(blockBytes, 1, kMaxBlockBytes));
    std::uint8_t previous = 0;
    bool havePrevious = false;
    for (std::int64_t offset = 0;;) {
        const Result<std::size_t> got = file.readSomeAt(offset, buffer.data(), buffer.size());
        if (!got)
            return got.error();
        if (*got == 0)
            return false;
        offset += static_cast<std::int64_t>(*got);
        // A pair may straddle two blocks: the previous block's last byte pairs with this one's first.
        if (havePrevious && previous == kVoidHigh && buffer[0] == kVoidLow)
            return true;
        const std::uint8_t* const end = buffer.data() + *got;
        for (const std::uint8_t* p = buffer.data(); p < end;) {
            p = static_cast<const std::uint8_t*>(std::memchr(p, kVoidHigh, static_cast<std::size_t>(end - p)));
            if (!p || p + 1 >= end)
                break;
            if (p[1] == kVoidLow)
                return true;
            ++p;
        }
        previous = buffer[*got - 1];
        havePrevious = true;
    }
}

Result<> CheckTileSize(const File& file)
{
    const Result<std::int64_t> size = file.size();
    if (!size)
        return size.error();
    if (*size < kTileBytes)
        return Error{ErrorKind::NotATile, file.path() + " ist kein 1-Sekunden-HGT-File (" + std::to_string(*size)
                                              + " Bytes statt " + std::to_string(kTileBytes) + " Bytes)"};
    return {};
}

} // namespace hgt
