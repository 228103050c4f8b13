// The sample rules on blocks of whole samples, written to be vectorised: counting voids, filling
// them from a source, and the difference, each in forms for the processors the program may meet.

#include "tiles/internal/sample_kernels.h"

#include "tiles/internal/samples.h"

#include <algorithm>
#include <bit>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace hgt {

namespace {

// Swaps a big-endian tile word to the host's order, and back.
std::uint16_t toHost(std::uint16_t word)
{
    if constexpr (std::endian::native == std::endian::little)
        return static_cast<std::uint16_t>(word << 8 | word >> 8);
    return word;
}

// Counts in 16-bit lanes stay narrow enough to vectorise well; a chunk never overflows them.
constexpr std::size_t kCountChunkWords = 32768;

} // namespace

// The kernels exist twice, for AVX2 and for the x86-64 baseline (SSE2), and ask the processor once
// which to run. (A choice by the loader would need ifunc, which neither Windows' loader nor the
// thread sanitizer's start-up has.)
#if defined(__x86_64__) && defined(__GNUC__)
#define HGT_AVX2_KERNELS 1
#endif

namespace {

// The loops, inlined into each form of the kernels, which the compiler vectorises for its target.
[[gnu::always_inline]] inline std::size_t countVoidsIn(const std::uint8_t* block, std::size_t n)
{
    const std::uint16_t marker = kVoidWord;
    const std::size_t words = n / 2;
    std::size_t total = 0;
    for (std::size_t start = 0; start < words; start += kCountChunkWords) {
        const std::size_t end = std::min(words, start + kCountChunkWords);
        std::uint16_t count = 0;
        for (std::size_t w = start; w < end; ++w)
            count = static_cast<std::uint16_t>(count + (LoadWord(block + 2 * w) == marker));
        total += count;
    }
    return total;
}

[[gnu::always_inline]] inline std::size_t fillVoidsIn(std::uint8_t* primary, const std::uint8_t* secondary,
                                                      std::size_t n)
{
    const std::uint16_t marker = kVoidWord;
    const std::size_t words = n / 2;
    std::size_t left = 0;
    for (std::size_t start = 0; start < words; start += kCountChunkWords) {
        const std::size_t end = std::min(words, start + kCountChunkWords);
        std::uint16_t count = 0;
        for (std::size_t w = start; w < end; ++w) {
            const std::uint16_t own = LoadWord(primary + 2 * w);
            const std::uint16_t other = LoadWord(secondary + 2 * w);
            const std::uint16_t result = own == marker ? other : own;
            count = static_cast<std::uint16_t>(count + (result == marker));
            StoreWord(primary + 2 * w, result);
        }
        left += count;
    }
    return left;
}

#ifdef HGT_AVX2_KERNELS
bool hasAvx2()
{
    static const bool avx2 = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return avx2;
}

__attribute__((target("avx2"))) std::size_t countVoidsAvx2(const std::uint8_t* block, std::size_t n)
{
    return countVoidsIn(block, n);
}

__attribute__((target("avx2"))) std::size_t fillVoidsAvx2(std::uint8_t* primary, const std::uint8_t* secondary,
                                                          std::size_t n)
{
    return fillVoidsIn(primary, secondary, n);
}
#endif

} // namespace

std::size_t CountVoids(const std::uint8_t* block, std::size_t n)
{
#ifdef HGT_AVX2_KERNELS
    if (hasAvx2())
        return countVoidsAvx2(block, n);
#endif
    return countVoidsIn(block, n);
}

std::size_t FillVoids(std::uint8_t* primary, const std::uint8_t* secondary, std::size_t n)
{
#ifdef HGT_AVX2_KERNELS
    if (hasAvx2())
        return fillVoidsAvx2(primary, secondary, n);
#endif
    return fillVoidsIn(primary, secondary, n);
}

namespace {

// Primary minus comparison on n bytes of whole samples, in place, sample by sample.
std::size_t subtractPortable(std::uint8_t* primary, const std::uint8_t* comparison, std::size_t n)
{
    const std::uint16_t marker = kVoidWord;
    const std::size_t words = n / 2;
    std::size_t voids = 0;
    for (std::size_t start = 0; start < words; start += kCountChunkWords) {
        const std::size_t end = std::min(words, start + kCountChunkWords);
        std::uint16_t count = 0;
        for (std::size_t w = start; w < end; ++w) {
            const std::uint16_t ownWord = LoadWord(primary + 2 * w);
            const std::uint16_t otherWord = LoadWord(comparison + 2 * w);
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
            StoreWord(primary + 2 * w, eitherVoid ? marker : toHost(result));
        }
        voids += count;
    }
    return voids;
}

#ifdef HGT_AVX2_KERNELS
// The same with the processor's saturating 16-bit subtraction, on the host-order samples; a void in
// either sample gives a void. Whole groups of samples only; the void counts add up in 16-bit lanes,
// emptied before they could overflow.
__attribute__((target("avx2"))) std::size_t subtractAvx2(std::uint8_t* primary, const std::uint8_t* comparison,
                                                         std::size_t groups)
{
    const __m256i swap = _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14, 1, 0, 3, 2, 5, 4, 7, 6,
                                          9, 8, 11, 10, 13, 12, 15, 14);
    const __m256i marker = _mm256_set1_epi16(static_cast<short>(kVoidWord));
    std::size_t voids = 0;
    for (std::size_t start = 0; start < groups; start += 32767) {
        const std::size_t end = std::min(groups, start + 32767);
        __m256i counts = _mm256_setzero_si256();
        for (std::size_t g = start; g < end; ++g) {
            auto* at = reinterpret_cast<__m256i*>(primary + 32 * g);
            const __m256i own = _mm256_loadu_si256(at);
            const __m256i other = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(comparison + 32 * g));
            const __m256i isVoid = _mm256_or_si256(_mm256_cmpeq_epi16(own, marker), _mm256_cmpeq_epi16(other, marker));
            const __m256i difference = _mm256_shuffle_epi8(
                _mm256_subs_epi16(_mm256_shuffle_epi8(own, swap), _mm256_shuffle_epi8(other, swap)), swap);
            _mm256_storeu_si256(at, _mm256_blendv_epi8(difference, marker, isVoid));
            counts = _mm256_sub_epi16(counts, isVoid); // a void's lane is all ones: -1
        }
        alignas(32) std::uint16_t lanes[16];
        _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), counts);
        for (std::uint16_t lane : lanes)
            voids += lane;
    }
    return voids;
}

std::size_t subtractSse2(std::uint8_t* primary, const std::uint8_t* comparison, std::size_t groups)
{
    const __m128i marker = _mm_set1_epi16(static_cast<short>(kVoidWord));
    auto swap = [](__m128i x) { return _mm_or_si128(_mm_slli_epi16(x, 8), _mm_srli_epi16(x, 8)); };
    std::size_t voids = 0;
    for (std::size_t start = 0; start < groups; start += 32767) {
        const std::size_t end = std::min(groups, start + 32767);
        __m128i counts = _mm_setzero_si128();
        for (std::size_t g = start; g < end; ++g) {
            auto* at = reinterpret_cast<__m128i*>(primary + 16 * g);
            const __m128i own = _mm_loadu_si128(at);
            const __m128i other = _mm_loadu_si128(reinterpret_cast<const __m128i*>(comparison + 16 * g));
            const __m128i isVoid = _mm_or_si128(_mm_cmpeq_epi16(own, marker), _mm_cmpeq_epi16(other, marker));
            const __m128i difference = swap(_mm_subs_epi16(swap(own), swap(other)));
            _mm_storeu_si128(at, _mm_or_si128(_mm_and_si128(isVoid, marker), _mm_andnot_si128(isVoid, difference)));
            counts = _mm_sub_epi16(counts, isVoid);
        }
        alignas(16) std::uint16_t lanes[8];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes), counts);
        for (std::uint16_t lane : lanes)
            voids += lane;
    }
    return voids;
}
#endif

} // namespace

std::size_t SubtractSamples(std::uint8_t* primary, const std::uint8_t* comparison, std::size_t n)
{
    return SubtractSamples(primary, comparison, n, KernelPath::Best);
}

std::size_t SubtractSamples(std::uint8_t* primary, const std::uint8_t* comparison, std::size_t n, KernelPath path)
{
    std::size_t done = 0; // bytes
    std::size_t voids = 0;
#ifdef HGT_AVX2_KERNELS
    if (path == KernelPath::Best && hasAvx2()) {
        voids = subtractAvx2(primary, comparison, n / 32);
        done = n / 32 * 32;
    } else if (path != KernelPath::Portable) {
        voids = subtractSse2(primary, comparison, n / 16);
        done = n / 16 * 16;
    }
#else
    (void)path;
#endif
    return voids + subtractPortable(primary + done, comparison + done, n - done);
}

} // namespace hgt
