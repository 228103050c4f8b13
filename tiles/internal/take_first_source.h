#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace hgt {

// How every fill engine fills a void from its sources: the void takes the value of the first source,
// in the order the sources were given, that has one there; a void that none has keeps waiting. The
// sources take turns over a stretch of samples, each asked only for the samples still waiting, so a
// later source is read only where those before it had nothing.
//
// `waiting` flags with 1 each sample of the stretch that waits for a value; a sample stops waiting
// when it takes one. The flags are what the next source is asked for.
class TakeFirstSource {
public:
    // `left` is the number of samples waiting, which the callers count as they flag them.
    TakeFirstSource(std::uint8_t* waiting, std::size_t count, std::size_t left,
                    std::vector<std::int64_t>& filledBySource)
        : m_waiting(waiting), m_count(count), m_filledBySource(filledBySource), m_left(left)
    {}

    // Samples still waiting.
    std::size_t left() const { return m_left; }

    // The turn of source `s`, which has a value for sample i where hasValue[i] is set: each waiting
    // sample it has a value for takes it through take(i) and stops waiting.
    template <class Take>
    void offer(std::size_t s, const std::uint8_t* hasValue, Take&& take)
    {
        // Locals, not members, in the loop: take() writes bytes, which may alias any member.
        std::uint8_t* const waiting = m_waiting;
        const std::size_t count = m_count;
        std::size_t taken = 0;
        for (std::size_t i = 0; i < count; ++i) {
            if (waiting[i] && hasValue[i]) {
                waiting[i] = 0;
                take(i);
                ++taken;
            }
        }
        m_left -= taken;
        m_filledBySource[s] += static_cast<std::int64_t>(taken);
    }

private:
    std::uint8_t* m_waiting;
    std::size_t m_count;
    std::vector<std::int64_t>& m_filledBySource;
    std::size_t m_left;
};

} // namespace hgt
