// The window's progress lines drawn from the events of real runs on 3" tiles: every list operation
// (index, and the text where it is not a progress report), the index and the lines left, from a
// list that is empty, holds old lines, or was cleared below the line index.

#include "app/run_lines.h"
#include "tests/support/fake_host.h"
#include "tests/support/tiles.h"
#include "app/window_state.h"
#include "tiles/run_result.h"
#include "tiles/tile_runs.h"
#include "tiles/tile_format.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace hgt::test {
namespace run_lines_test {

struct Start {
    std::vector<std::string> lines;
    std::optional<int> logIndex;
};
const Start kFresh{};
const Start kOldLines{{"x", "y", "z"}, 0};
const Start kCleared{{}, 4};
const Start kBatchStart{{"a"}, -1}; // as the window leaves the index for a batch

struct LinesRow {
    const char* name;
    Start start;
    RunKind kind;
    const char* tile; // a fill's primary, a difference's comparison; a batch runs a list of its own
    long stopAtYield; // 0: no stop
    std::string ops;
    const char* logIndex;
    std::string lines; // joined by " | "
};

void PrintTo(const LinesRow& row, std::ostream* os)
{
    *os << row.name;
}

// The window's list, every operation written down: "-1" removes line 1, "+1" inserts a progress
// report there, "+1 <text>" any other line; a pair repeated n times reads "(-1 +1)xn".
class RecordingHost : public FakeHost {
public:
    RecordingHost(WindowState& state, RunKind kind, const std::string& root) : FakeHost(state, kind), m_root(root) {}

    void listInsert(int index, const std::string& text) override
    {
        const bool report = text.find("Bytes verarbeitet") != std::string::npos;
        ops.push_back("+" + std::to_string(index) + (report ? "" : " " + withoutRoot(text)));
        FakeHost::listInsert(index, text);
    }
    void listRemove(int index) override
    {
        ops.push_back("-" + std::to_string(index));
        FakeHost::listRemove(index);
    }

    std::string withoutRoot(std::string text) const
    {
        for (std::size_t at; (at = text.find(m_root)) != std::string::npos;)
            text.replace(at, m_root.size(), "<root>");
        return text;
    }

    std::string opsText() const
    {
        std::string text;
        for (std::size_t i = 0; i < ops.size();) {
            std::size_t repeats = 1;
            while (i + 2 * repeats + 1 < ops.size() && ops[i + 2 * repeats] == ops[i]
                   && ops[i + 2 * repeats + 1] == ops[i + 1])
                ++repeats;
            text += text.empty() ? "" : " ; ";
            if (i + 1 < ops.size() && repeats >= 2) {
                text += "(" + ops[i] + " " + ops[i + 1] + ")x" + std::to_string(repeats);
                i += 2 * repeats;
            } else {
                text += ops[i++];
            }
        }
        return text;
    }

    std::vector<std::string> ops;

private:
    std::string m_root;
};

class RunLinesTest : public ::testing::TestWithParam<LinesRow> {
protected:
    // The tiles of every row, made once: N47E014 is no tile, N47E013 and N47E015 have no secondary.
    static void SetUpTestSuite()
    {
        s_temp = std::make_unique<TempFolder>();
        const auto holey = [](std::uint32_t seed) {
            Bytes tile = plainTile(seed, kTileSide3);
            for (std::int64_t k : {std::int64_t{5}, kTileSide3 * kTileSide3 / 2, kTileSide3 * kTileSide3 - 1})
                setVoid(tile, k);
            return tile;
        };
        for (const char* folder : {"p/", "b/"}) {
            writeBytes(*s_temp / (folder + std::string("N47E011.hgt")), holey(1));
            writeBytes(*s_temp / (folder + std::string("N47E012.hgt")), plainTile(2, kTileSide3));
            writeBytes(*s_temp / (folder + std::string("N47E013.hgt")), holey(3));
        }
        writeBytes(*s_temp / "p/N47E014.hgt", Bytes(100, 1));
        writeBytes(*s_temp / "b/N47E015.hgt", holey(3));
        writeBytes(*s_temp / "b/N47E016.hgt", holey(10));
        writeBytes(*s_temp / "q/N47E011.hgt", holey(9));
        const std::pair<const char*, std::uint32_t> secondaries[] = {
            {"N47E011", 4}, {"N47E012", 5}, {"N47E014", 6}, {"N47E016", 11}};
        for (const auto& [name, seed] : secondaries)
            writeBytes(*s_temp / ("s/" + std::string(name) + ".hgt"), plainTile(seed, kTileSide3));
    }
    static void TearDownTestSuite() { s_temp.reset(); }

    static inline std::unique_ptr<TempFolder> s_temp;
};

TEST_P(RunLinesTest, DrawsTheLinesOfEachRun)
{
    const LinesRow& row = GetParam();
    const auto at = [](const std::string& path) { return *s_temp / path; };
    WindowState state;
    if (row.start.logIndex)
        state.logIndex.set(*row.start.logIndex);
    RecordingHost host(state, row.kind, s_temp->path().string());
    host.lines = row.start.lines;
    host.onYield = [&] {
        if (host.yields == row.stopAtYield)
            state.stopRequested = true;
    };
    const std::vector<std::string> batch{at("b/N47E011.hgt"), at("b/N47E012.hgt"), at("b/N47E016.hgt"),
                                         at("b/N47E013.hgt"), at("p/N47E014.hgt"), at("b/N47E015.hgt")};
    if (row.kind == RunKind::Batch)
        (void)MergeTiles(state, host, batch, at("s"), quickOptions());
    else if (row.kind == RunKind::Difference)
        (void)MakeDifferenceTile(state, host, at("p/N47E011.hgt"), at(row.tile), quickOptions());
    else
        (void)MergeTile(state, host, at(row.tile), at("s"), quickOptions());

    EXPECT_EQ(host.opsText(), row.ops);
    EXPECT_EQ(state.logIndex.isSet() ? std::to_string(state.logIndex.index()) : "unset", row.logIndex);
    std::string lines;
    for (const std::string& line : host.lines)
        lines += (lines.empty() ? "" : " | ") + host.withoutRoot(line);
    EXPECT_EQ(lines, row.lines);
}

const std::string k11 = "2800027 Bytes verarbeitet. File : N47E011.hgt";
const std::string k16 = "2800027 Bytes verarbeitet. File : N47E016.hgt";
const std::string kNoHoles = "N47E012.hgthat keine Löcher.";
const std::string kNotATile =
    "<root>/p/N47E014.hgt ist kein HGT-File (100 Bytes statt 25934402 Bytes für 1″ oder 2884802 Bytes für 3″)";
const std::string kMissing13 = "kein sekundäres hgt-file <root>/p/N47E013.hgt im Sekundärordner gefunden";
const std::string kMissingB13 = "kein sekundäres hgt-file <root>/b/N47E013.hgt im Sekundärordner gefunden";
const std::string kMissingB15 = "kein sekundäres hgt-file <root>/b/N47E015.hgt im Sekundärordner gefunden";
const std::string kDone = "2800027 Bytes verarbeitet.";
constexpr RunKind kFill = RunKind::Fill, kBatch = RunKind::Batch, kDiff = RunKind::Difference;

INSTANTIATE_TEST_SUITE_P(
    RunLines, RunLinesTest,
    ::testing::Values(
        LinesRow{"fill_rewrites_its_line_among_old_ones", kOldLines, kFill, "p/N47E011.hgt", 0, "(-1 +1)x15", "1",
                 "x | " + k11 + " | z"},
        LinesRow{"fill_without_holes_inserts_its_line", kOldLines, kFill, "p/N47E012.hgt", 0, "+1 " + kNoHoles, "1",
                 "x | " + kNoHoles + " | y | z"},
        LinesRow{"fill_without_holes_at_the_batch_index", kBatchStart, kFill, "p/N47E012.hgt", 0, "+0 " + kNoHoles, "0",
                 kNoHoles + " | a"},
        LinesRow{"missing_secondary_replaces_the_line", kOldLines, kFill, "p/N47E013.hgt", 0, "-1 ; +1 " + kMissing13,
                 "1", "x | " + kMissing13 + " | z"},
        LinesRow{"failure_replaces_the_line", kOldLines, kFill, "p/N47E014.hgt", 0, "-1 ; +1 " + kNotATile, "1",
                 "x | " + kNotATile + " | z"},
        LinesRow{"stopped_fill_keeps_its_last_report", kOldLines, kFill, "p/N47E011.hgt", 40, "(-1 +1)x14", "1",
                 "x | " + k11 + " | z"},
        LinesRow{"stop_at_the_first_report", kOldLines, kFill, "p/N47E011.hgt", 1, "-1 ; +1", "1",
                 "x | 200001 Bytes verarbeitet. File : N47E011.hgt | z"},
        LinesRow{"fresh_window_skips_every_operation", kFresh, kFill, "p/N47E011.hgt", 0, "", "1", ""},
        LinesRow{"cleared_list_skips_every_operation", kCleared, kFill, "p/N47E011.hgt", 0, "", "5", ""},
        LinesRow{"batch_one_line_per_tile", kBatchStart, kBatch, "", 0,
                 "(-0 +0)x15 ; +1 " + kNoHoles + " ; (+2 -2)x14 ; +2 ; +3 " + kMissingB13 + " ; +4 " + kNotATile
                     + " ; +5 " + kMissingB15,
                 "5",
                 k11 + " | " + kNoHoles + " | " + k16 + " | " + kMissingB13 + " | " + kNotATile + " | " + kMissingB15},
        LinesRow{"batch_among_old_lines", kOldLines, kBatch, "", 0,
                 "(-1 +1)x15 ; +2 " + kNoHoles + " ; (-3 +3)x15 ; +4 " + kMissingB13 + " ; +5 " + kNotATile + " ; +6 "
                     + kMissingB15,
                 "6",
                 "x | " + k11 + " | " + kNoHoles + " | " + k16 + " | " + kMissingB13 + " | " + kNotATile + " | "
                     + kMissingB15},
        LinesRow{"batch_stopped_in_its_third_tile", kBatchStart, kBatch, "", 60,
                 "(-0 +0)x15 ; +1 " + kNoHoles + " ; (+2 -2)x6 ; +2", "2",
                 k11 + " | " + kNoHoles + " | 1400013 Bytes verarbeitet. File : N47E016.hgt"},
        LinesRow{"difference_rewrites_the_line_at_the_index", kOldLines, kDiff, "q/N47E011.hgt", 0, "(-0 +0)x14", "0",
                 kDone + " | y | z"},
        LinesRow{"difference_in_a_fresh_window", kFresh, kDiff, "q/N47E011.hgt", 0, "(+0 -0)x13 ; +0", "unset", kDone},
        LinesRow{"difference_stopped", kOldLines, kDiff, "q/N47E011.hgt", 20, "(-0 +0)x7", "0",
                 "1400013 Bytes verarbeitet. | y | z"},
        LinesRow{"failing_difference_leaves_the_list", kOldLines, kDiff, "p/N47E014.hgt", 0, "", "0", "x | y | z"},
        LinesRow{"difference_below_the_list", kBatchStart, kDiff, "q/N47E011.hgt", 0, "", "-1", "a"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace run_lines_test
} // namespace hgt::test
