#include "tiles/internal/take_first_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

namespace hgt {
namespace take_first_source_test {

// Samples of a stretch as '.' (not waiting) or '?' (waiting); each source as the samples it has a
// value for ('x'), given in priority order. `taken` names the source each sample took its value
// from ('0' + s), '?' for a sample still waiting and '.' for one that never waited.
struct TakeRow {
    const char* name;
    std::string waiting;
    std::vector<std::string> sources;
    std::string taken;
    std::vector<std::int64_t> filledBySource;
};

void PrintTo(const TakeRow& row, std::ostream* out)
{
    *out << row.name;
}

class TakeFirstSourceRows : public ::testing::TestWithParam<TakeRow> {};

TEST_P(TakeFirstSourceRows, GiveEachVoidTheFirstSourceWithAValue)
{
    const TakeRow& row = GetParam();
    std::vector<std::uint8_t> waiting;
    for (char c : row.waiting)
        waiting.push_back(c == '?');
    std::string taken(row.waiting);
    std::vector<std::int64_t> filled(row.sources.size(), 0);
    const auto left = static_cast<std::size_t>(std::count(taken.begin(), taken.end(), '?'));
    TakeFirstSource take(waiting.data(), waiting.size(), left, filled);
    for (std::size_t s = 0; s < row.sources.size(); ++s) {
        std::vector<std::uint8_t> hasValue;
        for (char c : row.sources[s])
            hasValue.push_back(c == 'x');
        take.offer(s, hasValue.data(), [&](std::size_t i) {
            EXPECT_EQ(taken[i], '?') << "sample " << i << " took a second value";
            taken[i] = static_cast<char>('0' + s);
        });
    }
    EXPECT_EQ(taken, row.taken);
    EXPECT_EQ(filled, row.filledBySource);
    EXPECT_EQ(take.left(), static_cast<std::size_t>(std::count(taken.begin(), taken.end(), '?')));
    for (std::size_t i = 0; i < waiting.size(); ++i)
        EXPECT_EQ(waiting[i], taken[i] == '?') << "sample " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TakeFirstSourceRows,
    ::testing::Values(
        TakeRow{"first_source_wins_where_both_have_a_value", "????", {"xxxx", "xxxx"}, "0000", {4, 0}},
        TakeRow{"later_source_fills_what_the_first_lacks", "????", {"x.x.", "xxxx"}, "0101", {2, 2}},
        TakeRow{"void_no_source_has_keeps_waiting", "???", {"x..", ".x."}, "01?", {1, 1}},
        TakeRow{"sample_that_does_not_wait_is_left_alone", ".?.?", {"xxxx"}, ".0.0", {2}},
        TakeRow{"a_source_without_values_passes_its_turn", "??", {"..", "xx"}, "11", {0, 2}},
        TakeRow{"third_source_only_where_the_two_before_lack", "????", {"x...", ".x..", "xxxx"}, "0122", {1, 1, 2}},
        TakeRow{"nothing_waits", "...", {"xxx"}, "...", {0}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace take_first_source_test
} // namespace hgt
