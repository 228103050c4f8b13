#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hgt::cli::test {
namespace {

constexpr unsigned kCores = 6;

std::expected<Invocation, UsageError> parse(std::vector<std::string> args)
{
    return ParseCommandLine(args, kCores);
}

struct UsageCase {
    std::string name;
    std::vector<std::string> args;
    Command helpFor; // the subcommand whose --help the hint names
    std::string mentions;
};

// Test names and ctest show the row's name, not its bytes.
void PrintTo(const UsageCase& c, std::ostream* os)
{
    *os << c.name;
}

class UsageErrors : public ::testing::TestWithParam<UsageCase> {};

TEST_P(UsageErrors, GiveOneGermanLineWithAHintToTheRightHelp)
{
    const UsageCase& c = GetParam();
    const auto result = parse(c.args);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().command, c.helpFor);
    const std::string line = UsageLine(result.error());
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    EXPECT_NE(line.find(c.mentions), std::string::npos) << line;
    const std::string hint = c.helpFor == Command::None ? "hgtfill-cli --help"
                                                        : "hgtfill-cli " + std::string(CommandName(c.helpFor)) + " --help";
    EXPECT_NE(line.find(hint), std::string::npos) << line;
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, UsageErrors,
    ::testing::Values(
        UsageCase{"nothing", {}, Command::None, "kein Befehl"},
        UsageCase{"unknown_command", {"fil", "a.hgt"}, Command::None, "„fil“"},
        UsageCase{"option_before_command", {"-q", "fill"}, Command::None, "„-q“"},
        UsageCase{"unknown_long_option", {"fill", "-s", "d", "--fast", "a.hgt"}, Command::Fill, "„--fast“"},
        UsageCase{"unknown_short_in_cluster", {"batch", "-qx", "-s", "d", "f"}, Command::Batch, "„-x“"},
        UsageCase{"jobs_not_for_info", {"info", "-j", "2", "a.hgt"}, Command::Info, "„-j“"},
        UsageCase{"secondary_value_missing", {"fill", "a.hgt", "-s"}, Command::Fill, "„-s“"},
        UsageCase{"jobs_zero", {"batch", "-s", "d", "-j", "0", "f"}, Command::Batch, "„0“"},
        UsageCase{"jobs_with_trailing_text", {"batch", "-s", "d", "--jobs=2x", "f"}, Command::Batch, "„2x“"},
        UsageCase{"jobs_too_many", {"batch", "-s", "d", "-j", "100000", "f"}, Command::Batch, "256"},
        UsageCase{"flag_with_value", {"info", "--json=yes", "a.hgt"}, Command::Info, "„--json“"},
        UsageCase{"fill_without_secondary", {"fill", "a.hgt"}, Command::Fill, "-s"},
        UsageCase{"batch_two_folders", {"batch", "-s", "d", "f", "g"}, Command::Batch, "genau ein Ordner"},
        UsageCase{"diff_one_tile", {"diff", "a.hgt"}, Command::Diff, "zwei Kacheln"},
        UsageCase{"help_for_unknown_command", {"help", "merge"}, Command::None, "„merge“"}),
    [](const auto& info) { return info.param.name; });

TEST(CommandLine, OptionsMayBeWrittenInEveryUsualForm)
{
    const std::vector<std::vector<std::string>> forms{
        {"batch", "-s", "sec", "-j", "3", "tiles"},
        {"batch", "-ssec", "-j3", "tiles"},
        {"batch", "--secondary=sec", "--jobs=3", "tiles"},
        {"batch", "--secondary", "sec", "--jobs", "3", "tiles"},
        {"batch", "tiles", "-j", "3", "-s", "sec"},
        {"batch", "-j3", "tiles", "--secondary", "sec"},
    };
    for (const auto& args : forms) {
        const auto result = parse(args);
        ASSERT_TRUE(result.has_value()) << UsageLine(result.error());
        EXPECT_EQ(result->command, Command::Batch);
        EXPECT_EQ(result->secondary, "sec");
        EXPECT_EQ(result->jobs, 3u);
        EXPECT_EQ(result->operands, std::vector<std::string>{"tiles"});
    }
}

TEST(CommandLine, FlagsBundleAndAValueTakesTheRestOfTheCluster)
{
    const auto result = parse({"fill", "-qj2", "-s", "sec", "a.hgt", "b.hgt", "--json"});
    ASSERT_TRUE(result.has_value()) << UsageLine(result.error());
    EXPECT_TRUE(result->quiet);
    EXPECT_TRUE(result->json);
    EXPECT_EQ(result->jobs, 2u);
    EXPECT_EQ(result->operands, (std::vector<std::string>{"a.hgt", "b.hgt"}));
}

TEST(CommandLine, DefaultsAreTheCoresAndTalkative)
{
    const auto result = parse({"fill", "-s", "sec", "a.hgt"});
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->jobs, kCores);
    EXPECT_FALSE(result->quiet);
    EXPECT_FALSE(result->json);
}

TEST(CommandLine, DoubleDashAndALoneDashMakeOperands)
{
    const auto result = parse({"info", "--", "-weird.hgt", "--json"});
    ASSERT_TRUE(result.has_value());
    EXPECT_FALSE(result->json);
    EXPECT_EQ(result->operands, (std::vector<std::string>{"-weird.hgt", "--json"}));

    const auto dash = parse({"info", "-"});
    ASSERT_TRUE(dash.has_value());
    EXPECT_EQ(dash->operands, std::vector<std::string>{"-"});
}

TEST(CommandLine, HelpWinsOverMissingArgumentsButNotOverEarlierMistakes)
{
    for (const auto& args : std::vector<std::vector<std::string>>{{"fill", "--help"}, {"fill", "a.hgt", "-h"}, {"help", "fill"}}) {
        const auto result = parse(args);
        ASSERT_TRUE(result.has_value()) << args.back();
        EXPECT_TRUE(result->help);
        EXPECT_EQ(result->command, Command::Fill);
    }
    const auto overview = parse({"--help"});
    ASSERT_TRUE(overview.has_value());
    EXPECT_TRUE(overview->help);
    EXPECT_EQ(overview->command, Command::None);

    EXPECT_TRUE(parse({"--version"}).value().version);
    EXPECT_FALSE(parse({"fill", "--bogus", "--help"}).has_value());
}

} // namespace
} // namespace hgt::cli::test
