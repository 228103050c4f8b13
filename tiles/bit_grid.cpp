#include "tiles/internal/bit_grid.h"

#include <algorithm>
#include <cstring>

namespace hgt {

namespace {

// Sets in `out` every bit `s` columns before or after a bit of `in` (one row of `words` words),
// and the bits of `in` themselves.
void SpreadRow(const std::uint64_t* in, std::uint64_t* out, std::int64_t words, int s)
{
    const std::int64_t ws = s / 64;
    const int bs = s % 64;
    for (std::int64_t w = 0; w < words; ++w) {
        std::uint64_t v = in[w];
        const auto get = [&](std::int64_t i) { return i >= 0 && i < words ? in[i] : std::uint64_t{0}; };
        if (bs == 0) {
            v |= get(w - ws) | get(w + ws);
        } else {
            v |= get(w - ws) << bs | get(w - ws - 1) >> (64 - bs);
            v |= get(w + ws) >> bs | get(w + ws + 1) << (64 - bs);
        }
        out[w] = v;
    }
}

} // namespace

std::uint64_t PackFlags(const std::uint8_t* flags)
{
    std::uint64_t word = 0;
    for (int byte = 0; byte < 8; ++byte) {
        std::uint64_t eight;
        std::memcpy(&eight, flags + 8 * byte, 8);
        // The product adds flag i into bit 56 + i, and nothing else into the top byte.
        if constexpr (std::endian::native == std::endian::little)
            word |= ((eight * 0x0102040810204080ull) >> 56) << (8 * byte);
        else
            for (int b = 0; b < 8; ++b)
                word |= std::uint64_t{flags[8 * byte + b]} << (8 * byte + b);
    }
    return word;
}

// The reach doubles each round: a round that spreads by s, after rounds that reached s - 1 or
// more, leaves no gap. Each round spreads along the rows, then across them.
void DilateSquare(RowBits& bits, int distance, const std::function<void(std::int64_t)>& paced)
{
    const std::int64_t rows = bits.rows(), columns = bits.columns(), words = bits.wordsPerRow();
    if (rows == 0 || words == 0)
        return;
    const std::uint64_t lastWord = columns % 64 ? (std::uint64_t{1} << (columns % 64)) - 1 : ~std::uint64_t{0};
    std::vector<std::uint64_t> row(static_cast<std::size_t>(words));
    RowBits across(rows, columns);
    for (int reach = 0; reach < distance;) {
        const int s = std::min(reach + 1, distance - reach);
        for (std::int64_t r = 0; r < rows; ++r) {
            SpreadRow(bits.row(r), row.data(), words, s);
            row[static_cast<std::size_t>(words - 1)] &= lastWord;
            std::copy(row.begin(), row.end(), bits.row(r));
            if (paced)
                paced(columns);
        }
        std::copy(bits.words().begin(), bits.words().end(), across.row(0));
        for (std::int64_t r = 0; r < rows; ++r) {
            std::uint64_t* out = bits.row(r);
            for (const std::int64_t from : {r - s, r + s}) {
                if (from < 0 || from >= rows)
                    continue;
                const std::uint64_t* in = across.row(from);
                for (std::int64_t w = 0; w < words; ++w)
                    out[w] |= in[w];
            }
            if (paced)
                paced(columns / 8);
        }
        reach += s;
    }
}

NearSamples::NearSamples(RowBits bits) : m_bits(std::move(bits))
{
    const std::vector<std::uint64_t>& words = m_bits.words();
    m_wordRank.resize(words.size());
    std::size_t total = 0;
    for (std::size_t w = 0; w < words.size(); ++w) {
        m_wordRank[w] = static_cast<std::uint32_t>(total);
        total += static_cast<std::size_t>(std::popcount(words[w]));
    }
    m_size = total;
}

std::size_t NearSamples::rank(std::int64_t r, std::int64_t c) const
{
    const std::uint64_t below = (std::uint64_t{1} << (c % 64)) - 1;
    return m_wordRank[static_cast<std::size_t>(r * m_bits.wordsPerRow() + c / 64)]
           + static_cast<std::size_t>(std::popcount(m_bits.row(r)[c / 64] & below));
}

} // namespace hgt
