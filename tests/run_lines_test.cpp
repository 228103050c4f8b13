// The window's progress lines drawn from the events of real runs on 3" tiles: every list operation
// (index, and the text where it is not a progress report), the index and the lines left, from a
// list that is empty, holds old lines, or was cleared below the line index.

#include "app/run_lines.h"
#include "tests/support/fake_host.h"
#include "tests/support/tiles.h"
#include "tiles/runs.h"
#include "tiles/tile_format.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace hgt::test {
namespace {

// The tiles of every row, made once: N47E014 is no tile, N47E013 and N47E015 have no secondary.
class Tiles {
public:
    Tiles()
    {
        const auto holey = [](std::uint32_t seed) {
            Bytes tile = plainTile(seed, kTileSide3);
            for (std::int64_t k : {std::int64_t{5}, kTileSide3 * kTileSide3 / 2, kTileSide3 * kTileSide3 - 1})
                setVoid(tile, k);
            return tile;
        };
        writeBytes(root + "/p/N47E011.hgt", holey(1));
        writeBytes(root + "/p/N47E012.hgt", plainTile(2, kTileSide3));
        writeBytes(root + "/p/N47E013.hgt", holey(3));
        writeBytes(root + "/p/N47E014.hgt", Bytes(100, 1));
        writeBytes(root + "/s/N47E011.hgt", plainTile(4, kTileSide3));
        writeBytes(root + "/s/N47E012.hgt", plainTile(5, kTileSide3));
        writeBytes(root + "/s/N47E014.hgt", plainTile(6, kTileSide3));
        writeBytes(root + "/s/N47E016.hgt", plainTile(11, kTileSide3));
        writeBytes(root + "/q/N47E011.hgt", holey(9));
        writeBytes(root + "/b/N47E011.hgt", holey(1));
        writeBytes(root + "/b/N47E012.hgt", plainTile(2, kTileSide3));
        writeBytes(root + "/b/N47E013.hgt", holey(3));
        writeBytes(root + "/b/N47E015.hgt", holey(3));
        writeBytes(root + "/b/N47E016.hgt", holey(10));
    }

    TempFolder temp;
    const std::string root = temp.path().string();
};

enum class Run { Fill, FillNoHoles, FillMissingSecondary, FillFailing, Batch, Difference, DifferenceFailing };

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
    Run run;
    long stopAtYield; // 0: no stop
    std::string ops;
    const char* logIndex;
    std::vector<std::string> lines;
};

void PrintTo(const LinesRow& row, std::ostream* os)
{
    *os << row.name;
}

// The window's list, every operation written down: "-1" removes line 1, "+1" inserts a progress
// report there, "+1 <text>" any other line; a pair repeated n times reads "(-1 +1)xn".
class RecordingHost : public FakeHost {
public:
    RecordingHost(WindowState& state, RunKind kind, std::string root) : FakeHost(state, kind), m_root(std::move(root))
    {}

    void listInsert(int index, const std::string& text) override
    {
        std::string op = "+" + std::to_string(index);
        if (text.find("Bytes verarbeitet") == std::string::npos)
            op += " " + withoutRoot(text);
        ops.push_back(op);
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
        std::vector<std::string> out;
        for (std::size_t i = 0; i < ops.size();) {
            std::size_t repeats = 1;
            while (i + 2 * repeats + 1 < ops.size() && ops[i + 2 * repeats] == ops[i]
                   && ops[i + 2 * repeats + 1] == ops[i + 1])
                ++repeats;
            if (i + 1 < ops.size() && repeats >= 2) {
                out.push_back("(" + ops[i] + " " + ops[i + 1] + ")x" + std::to_string(repeats));
                i += 2 * repeats;
            } else {
                out.push_back(ops[i++]);
            }
        }
        std::string text;
        for (const std::string& op : out)
            text += (text.empty() ? "" : " ; ") + op;
        return text;
    }

    std::vector<std::string> ops;

private:
    std::string m_root;
};

class RunLinesTest : public ::testing::TestWithParam<LinesRow> {
protected:
    static void SetUpTestSuite() { s_tiles = std::make_unique<Tiles>(); }
    static void TearDownTestSuite() { s_tiles.reset(); }

    static std::unique_ptr<Tiles> s_tiles;
};

std::unique_ptr<Tiles> RunLinesTest::s_tiles;

TEST_P(RunLinesTest, DrawsTheLinesOfEachRun)
{
    const LinesRow& row = GetParam();
    const std::string& root = s_tiles->root;
    WindowState state;
    if (row.start.logIndex)
        state.logIndex.set(*row.start.logIndex);
    const bool difference = row.run == Run::Difference || row.run == Run::DifferenceFailing;
    RecordingHost host(
        state, difference ? RunKind::Difference : (row.run == Run::Batch ? RunKind::Batch : RunKind::Fill), root);
    host.lines = row.start.lines;
    host.onYield = [&] {
        if (host.yields == row.stopAtYield)
            state.stopRequested = true;
    };
    RunOptions options = quickOptions();
    switch (row.run) {
    case Run::Fill:
        (void)MergeTile(state, host, root + "/p/N47E011.hgt", root + "/s", options);
        break;
    case Run::FillNoHoles:
        (void)MergeTile(state, host, root + "/p/N47E012.hgt", root + "/s", options);
        break;
    case Run::FillMissingSecondary:
        (void)MergeTile(state, host, root + "/p/N47E013.hgt", root + "/s", options);
        break;
    case Run::FillFailing:
        (void)MergeTile(state, host, root + "/p/N47E014.hgt", root + "/s", options);
        break;
    case Run::Batch:
        (void)MergeTiles(state, host,
                         {root + "/b/N47E011.hgt", root + "/b/N47E012.hgt", root + "/b/N47E016.hgt",
                          root + "/b/N47E013.hgt", root + "/p/N47E014.hgt", root + "/b/N47E015.hgt"},
                         root + "/s", options);
        break;
    case Run::Difference:
        (void)MakeDifferenceTile(state, host, root + "/p/N47E011.hgt", root + "/q/N47E011.hgt", options);
        break;
    case Run::DifferenceFailing:
        (void)MakeDifferenceTile(state, host, root + "/p/N47E011.hgt", root + "/p/N47E014.hgt", options);
        break;
    }

    EXPECT_EQ(host.opsText(), row.ops);
    EXPECT_EQ(state.logIndex.isSet() ? std::to_string(state.logIndex.index()) : "unset", row.logIndex);
    std::vector<std::string> lines;
    for (const std::string& line : host.lines)
        lines.push_back(host.withoutRoot(line));
    EXPECT_EQ(lines, row.lines);
}

const std::string kReport3 = "2800027 Bytes verarbeitet. File : ";
const std::string kNotATile =
    "<root>/p/N47E014.hgt ist kein HGT-File (100 Bytes statt 25934402 Bytes für 1″ oder 2884802 Bytes für 3″)";
const std::string kMissing13 = "kein sekundäres hgt-file <root>/b/N47E013.hgt im Sekundärordner gefunden";
const std::string kMissing15 = "kein sekundäres hgt-file <root>/b/N47E015.hgt im Sekundärordner gefunden";

INSTANTIATE_TEST_SUITE_P(
    RunLines, RunLinesTest,
    ::testing::Values(
        LinesRow{"fill_rewrites_its_line_among_old_ones",
                 kOldLines,
                 Run::Fill,
                 0,
                 "(-1 +1)x15",
                 "1",
                 {"x", kReport3 + "N47E011.hgt", "z"}},
        LinesRow{"fill_without_holes_inserts_its_line",
                 kOldLines,
                 Run::FillNoHoles,
                 0,
                 "+1 N47E012.hgthat keine Löcher.",
                 "1",
                 {"x", "N47E012.hgthat keine Löcher.", "y", "z"}},
        LinesRow{"fill_without_holes_at_the_batch_index",
                 kBatchStart,
                 Run::FillNoHoles,
                 0,
                 "+0 N47E012.hgthat keine Löcher.",
                 "0",
                 {"N47E012.hgthat keine Löcher.", "a"}},
        LinesRow{"missing_secondary_replaces_the_line",
                 kOldLines,
                 Run::FillMissingSecondary,
                 0,
                 "-1 ; +1 kein sekundäres hgt-file <root>/p/N47E013.hgt im Sekundärordner gefunden",
                 "1",
                 {"x", "kein sekundäres hgt-file <root>/p/N47E013.hgt im Sekundärordner gefunden", "z"}},
        LinesRow{"failure_replaces_the_line",
                 kOldLines,
                 Run::FillFailing,
                 0,
                 "-1 ; +1 " + kNotATile,
                 "1",
                 {"x", kNotATile, "z"}},
        LinesRow{"stopped_fill_keeps_its_last_report",
                 kOldLines,
                 Run::Fill,
                 40,
                 "(-1 +1)x14",
                 "1",
                 {"x", kReport3 + "N47E011.hgt", "z"}},
        LinesRow{"stop_at_the_first_report",
                 kOldLines,
                 Run::Fill,
                 1,
                 "-1 ; +1",
                 "1",
                 {"x", "200001 Bytes verarbeitet. File : N47E011.hgt", "z"}},
        LinesRow{"fresh_window_skips_every_operation", kFresh, Run::Fill, 0, "", "1", {}},
        LinesRow{"cleared_list_skips_every_operation", kCleared, Run::Fill, 0, "", "5", {}},
        LinesRow{"batch_one_line_per_tile",
                 kBatchStart,
                 Run::Batch,
                 0,
                 "(-0 +0)x15 ; +1 N47E012.hgthat keine Löcher. ; (+2 -2)x14 ; +2 ; +3 " + kMissing13 + " ; +4 "
                     + kNotATile + " ; +5 " + kMissing15,
                 "5",
                 {kReport3 + "N47E011.hgt", "N47E012.hgthat keine Löcher.", kReport3 + "N47E016.hgt", kMissing13,
                  kNotATile, kMissing15}},
        LinesRow{"batch_among_old_lines",
                 kOldLines,
                 Run::Batch,
                 0,
                 "(-1 +1)x15 ; +2 N47E012.hgthat keine Löcher. ; (-3 +3)x15 ; +4 " + kMissing13 + " ; +5 " + kNotATile
                     + " ; +6 " + kMissing15,
                 "6",
                 {"x", kReport3 + "N47E011.hgt", "N47E012.hgthat keine Löcher.", kReport3 + "N47E016.hgt", kMissing13,
                  kNotATile, kMissing15}},
        LinesRow{"batch_stopped_in_its_third_tile",
                 kBatchStart,
                 Run::Batch,
                 60,
                 "(-0 +0)x15 ; +1 N47E012.hgthat keine Löcher. ; (+2 -2)x6 ; +2",
                 "2",
                 {kReport3 + "N47E011.hgt", "N47E012.hgthat keine Löcher.",
                  "1400013 Bytes verarbeitet. File : N47E016.hgt"}},
        LinesRow{"difference_rewrites_the_line_at_the_index",
                 kOldLines,
                 Run::Difference,
                 0,
                 "(-0 +0)x14",
                 "0",
                 {"2800027 Bytes verarbeitet.", "y", "z"}},
        LinesRow{"difference_in_a_fresh_window",
                 kFresh,
                 Run::Difference,
                 0,
                 "(+0 -0)x13 ; +0",
                 "unset",
                 {"2800027 Bytes verarbeitet."}},
        LinesRow{"difference_stopped",
                 kOldLines,
                 Run::Difference,
                 20,
                 "(-0 +0)x7",
                 "0",
                 {"1400013 Bytes verarbeitet.", "y", "z"}},
        LinesRow{"failing_difference_leaves_the_list", kOldLines, Run::DifferenceFailing, 0, "", "0", {"x", "y", "z"}},
        LinesRow{"difference_below_the_list", kBatchStart, Run::Difference, 0, "", "-1", {"a"}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace hgt::test
