#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace hgt {

// One bit per sample of a grid, each row starting at a word of its own, so that a row can be
// shifted and combined with its neighbours a word at a time; the bits past a row's last column
// stay clear. Tiles are square (`side`); a box around a void region is not.
class RowBits {
public:
    explicit RowBits(std::int64_t side = 0) : RowBits(side, side) {}
    RowBits(std::int64_t rows, std::int64_t columns) { reset(rows, columns); }

    // Every bit cleared, on a grid of the given size; the memory taken before is kept.
    void reset(std::int64_t rows, std::int64_t columns)
    {
        m_rows = rows, m_columns = columns, m_wordsPerRow = (columns + 63) / 64;
        m_words.assign(static_cast<std::size_t>(rows * m_wordsPerRow), 0);
    }

    std::int64_t side() const { return m_rows; } // of a square grid
    std::int64_t rows() const { return m_rows; }
    std::int64_t columns() const { return m_columns; }
    std::int64_t wordsPerRow() const { return m_wordsPerRow; }
    bool get(std::int64_t r, std::int64_t c) const { return (m_words[index(r, c)] >> (c % 64)) & 1u; }
    void set(std::int64_t r, std::int64_t c) { m_words[index(r, c)] |= std::uint64_t{1} << (c % 64); }
    void clear(std::int64_t r, std::int64_t c) { m_words[index(r, c)] &= ~(std::uint64_t{1} << (c % 64)); }
    std::uint64_t* row(std::int64_t r) { return m_words.data() + r * m_wordsPerRow; }
    const std::uint64_t* row(std::int64_t r) const { return m_words.data() + r * m_wordsPerRow; }
    const std::vector<std::uint64_t>& words() const { return m_words; }

private:
    std::size_t index(std::int64_t r, std::int64_t c) const
    {
        return static_cast<std::size_t>(r * m_wordsPerRow + c / 64);
    }

    std::int64_t m_rows = 0;
    std::int64_t m_columns = 0;
    std::int64_t m_wordsPerRow = 0;
    std::vector<std::uint64_t> m_words;
};

// Calls f(c) for each set bit of a row of `words` words, in order.
template <typename F>
void forEachBit(const std::uint64_t* row, std::int64_t words, F f)
{
    for (std::int64_t w = 0; w < words; ++w)
        for (std::uint64_t word = row[w]; word != 0; word &= word - 1)
            f(w * 64 + std::countr_zero(word));
}

// 64 flag bytes (0 or 1) as the bits of a word, the first byte the lowest bit.
std::uint64_t PackFlags(const std::uint8_t* flags);

// Sets every bit within `distance` chessboard steps (a diagonal step counts one) of a set bit.
// `paced`, when given, is told of the work after each row: the samples of a row spread along it,
// an eighth of them for a row that takes in its neighbours' words.
void DilateSquare(RowBits& bits, int distance, const std::function<void(std::int64_t)>& paced = {});

// A set of samples numbered in the grid's order, so that values can be kept for these alone.
class NearSamples {
public:
    NearSamples() = default;
    explicit NearSamples(RowBits bits);

    const RowBits& bits() const { return m_bits; }
    std::size_t size() const { return m_size; }
    bool contains(std::int64_t r, std::int64_t c) const { return m_bits.get(r, c); }
    // The number of a sample of the set: how many samples of the set come before it.
    std::size_t rank(std::int64_t r, std::int64_t c) const;

private:
    RowBits m_bits;
    std::vector<std::uint32_t> m_wordRank; // samples of the set before each word
    std::size_t m_size = 0;
};

} // namespace hgt
