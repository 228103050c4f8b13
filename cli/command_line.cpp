#include "cli/command_line.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>

namespace hgt::cli {

namespace {

constexpr int kMaxJobs = 256;

enum class OptionId {
    Help,
    Version,
    Secondary,
    Jobs,
    Json,
    Quiet,
    Void,
    Method,
    Difference,
    Size,
    Legend,
    Output,
    Interpolate,
    MaxDistance,
    Provenance,
    Datum,
    TileDatum
};

constexpr unsigned bit(Command command)
{
    return 1u << static_cast<unsigned>(command);
}
constexpr unsigned kFillLike = bit(Command::Fill) | bit(Command::Batch);
constexpr unsigned kReading = kFillLike | bit(Command::Diff) | bit(Command::Info) | bit(Command::Render);

// The values that mark a void in the tiles people meet: the HGT marker and the two ends of the
// 16-bit range that other sources use.
constexpr std::array<std::int16_t, 3> kVoidChoices{kVoidValue, -32768, -32767};

struct OptionSpec {
    OptionId id;
    char shortName; // 0: long form only
    std::string_view longName;
    bool takesValue;
    unsigned commands; // the subcommands that know the option
};

constexpr std::array kOptions{
    OptionSpec{OptionId::Help, 'h', "help", false, bit(Command::None) | kReading},
    OptionSpec{OptionId::Version, 0, "version", false, bit(Command::None)},
    OptionSpec{OptionId::Secondary, 's', "secondary", true, kFillLike},
    OptionSpec{OptionId::Jobs, 'j', "jobs", true, kFillLike},
    OptionSpec{OptionId::Json, 0, "json", false, kReading},
    OptionSpec{OptionId::Quiet, 'q', "quiet", false, kFillLike | bit(Command::Diff) | bit(Command::Render)},
    OptionSpec{OptionId::Void, 0, "void", true, kReading},
    OptionSpec{OptionId::Method, 0, "method", true, kFillLike},
    OptionSpec{OptionId::Difference, 0, "diff", false, bit(Command::Render)},
    OptionSpec{OptionId::Size, 0, "size", true, bit(Command::Render)},
    OptionSpec{OptionId::Legend, 0, "legend", false, bit(Command::Render)},
    OptionSpec{OptionId::Output, 'o', "output", true, bit(Command::Render)},
    OptionSpec{OptionId::Interpolate, 0, "interpolate", false, kFillLike},
    OptionSpec{OptionId::MaxDistance, 0, "max-distance", true, kFillLike},
    OptionSpec{OptionId::Provenance, 0, "provenance", false, kFillLike},
    OptionSpec{OptionId::Datum, 0, "datum", true, kFillLike},
    OptionSpec{OptionId::TileDatum, 0, "tile-datum", true, kFillLike},
};

constexpr std::array<std::pair<std::string_view, Command>, 5> kCommands{{
    {"fill", Command::Fill},
    {"batch", Command::Batch},
    {"diff", Command::Diff},
    {"info", Command::Info},
    {"render", Command::Render},
}};

std::string quoted(std::string_view text)
{
    return "„" + std::string(text) + "“";
}

// A whole number in [low, high], nothing before or after it.
std::optional<int> wholeNumber(std::string_view text, int low, int high)
{
    int value = 0;
    const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || status != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return std::nullopt;
    return value;
}

std::optional<Command> findCommand(std::string_view name)
{
    for (const auto& [commandName, command] : kCommands)
        if (commandName == name)
            return command;
    return std::nullopt;
}

class Parser {
public:
    Parser(std::span<const std::string> args, unsigned defaultJobs) : m_args(args) { m_result.jobs = defaultJobs; }

    std::expected<Invocation, UsageError> run();

private:
    UsageError error(std::string message) const { return {std::move(message), m_result.command}; }

    const OptionSpec* findLong(std::string_view name) const;
    const OptionSpec* findShort(char name) const;
    std::optional<UsageError> unknown(std::string_view typed) const;
    // The option's value as a whole number from 1 to `most`, or the usage error that says so.
    std::optional<UsageError> count(std::string_view typed, std::string_view value, int most, int& into) const;
    // Applies one option; `value` is set exactly for options that take one.
    std::optional<UsageError> apply(const OptionSpec& option, std::string_view typed, std::string_view value);
    std::optional<UsageError> parseLong(std::string_view arg, std::size_t& next);
    std::optional<UsageError> parseShortCluster(std::string_view arg, std::size_t& next);
    std::optional<UsageError> checkOperands() const;

    std::span<const std::string> m_args;
    Invocation m_result;
    bool m_voidGiven = false;       // the first --void replaces the default set, later ones add to it
    std::string m_maxDistanceTyped; // --max-distance as typed, when given: it means something only with --interpolate
};

const OptionSpec* Parser::findLong(std::string_view name) const
{
    for (const OptionSpec& option : kOptions)
        if (option.longName == name && (option.commands & bit(m_result.command)))
            return &option;
    return nullptr;
}

const OptionSpec* Parser::findShort(char name) const
{
    for (const OptionSpec& option : kOptions)
        if (option.shortName != 0 && option.shortName == name && (option.commands & bit(m_result.command)))
            return &option;
    return nullptr;
}

std::optional<UsageError> Parser::unknown(std::string_view typed) const
{
    if (m_result.command == Command::None)
        return error("unbekannte Option " + quoted(typed));
    return error("unbekannte Option " + quoted(typed) + " für " + quoted(CommandName(m_result.command)));
}

std::optional<UsageError> Parser::apply(const OptionSpec& option, std::string_view typed, std::string_view value)
{
    switch (option.id) {
    case OptionId::Help:
        m_result.help = true;
        break;
    case OptionId::Version:
        m_result.version = true;
        break;
    case OptionId::Secondary:
        if (value.empty())
            return error("zur Option " + quoted(typed) + " fehlt der Ordner");
        // The first -s is the secondary folder; each further one is asked after those before it.
        if (m_result.secondary.empty())
            m_result.secondary = std::string(value);
        else
            m_result.moreSecondaries.emplace_back(value);
        m_result.datums.emplace_back();
        break;
    case OptionId::Datum:
        // The datum of the -s before it: before any there is no source it could belong to.
        if (m_result.datums.empty())
            return error("die Option " + quoted(typed) + " gehört zu einer Quelle und steht nach ihrem -s");
        if (value.empty())
            return error("zur Option " + quoted(typed) + " fehlt der Höhenbezug");
        if (!m_result.datums.back().empty())
            return error("zweimal " + quoted(typed) + " für dieselbe Quelle");
        m_result.datums.back() = std::string(value);
        break;
    case OptionId::TileDatum:
        if (value.empty())
            return error("zur Option " + quoted(typed) + " fehlt der Höhenbezug");
        m_result.tileDatum = std::string(value);
        break;
    case OptionId::Jobs: {
        int jobs = 0;
        if (std::optional<UsageError> wrong = count(typed, value, kMaxJobs, jobs))
            return wrong;
        m_result.jobs = static_cast<unsigned>(jobs);
        break;
    }
    case OptionId::Json:
        m_result.json = true;
        break;
    case OptionId::Quiet:
        m_result.quiet = true;
        break;
    case OptionId::Void: {
        const std::optional<int> number = wholeNumber(value, -32768, 32767);
        const auto known = std::find_if(kVoidChoices.begin(), kVoidChoices.end(),
                                        [&](std::int16_t choice) { return number && *number == choice; });
        if (known == kVoidChoices.end())
            return error("die Option " + quoted(typed) + " nimmt -9999, -32768 oder -32767, nicht " + quoted(value));
        if (!m_voidGiven)
            m_result.voidValues.clear();
        m_voidGiven = true;
        if (std::find(m_result.voidValues.begin(), m_result.voidValues.end(), *known) == m_result.voidValues.end())
            m_result.voidValues.push_back(*known);
        break;
    }
    case OptionId::Method:
        if (value == "copy")
            m_result.method = FillMethod::Copy;
        else if (value == "delta")
            m_result.method = FillMethod::Delta;
        else
            return error("die Option " + quoted(typed) + " nimmt copy oder delta, nicht " + quoted(value));
        break;
    case OptionId::Difference:
        m_result.difference = true;
        break;
    case OptionId::Size:
        if (std::optional<UsageError> wrong = count(typed, value, kMaxPictureSize, m_result.size))
            return wrong;
        break;
    case OptionId::Legend:
        m_result.legend = true;
        break;
    case OptionId::Output:
        if (value.empty())
            return error("zur Option " + quoted(typed) + " fehlt die Bilddatei");
        m_result.output = std::string(value);
        break;
    case OptionId::Interpolate:
        m_result.interpolate = true;
        break;
    case OptionId::MaxDistance:
        if (std::optional<UsageError> wrong = count(typed, value, kLargestMaxDistance, m_result.maxDistance))
            return wrong;
        m_maxDistanceTyped = std::string(typed);
        break;
    case OptionId::Provenance:
        m_result.provenance = true;
        break;
    }
    return std::nullopt;
}

std::optional<UsageError> Parser::count(std::string_view typed, std::string_view value, int most, int& into) const
{
    const std::optional<int> number = wholeNumber(value, 1, most);
    if (!number)
        return error("die Option " + quoted(typed) + " braucht eine ganze Zahl von 1 bis " + std::to_string(most)
                     + ", nicht " + quoted(value));
    into = *number;
    return std::nullopt;
}

std::optional<UsageError> Parser::parseLong(std::string_view arg, std::size_t& next)
{
    const std::size_t equals = arg.find('=');
    const std::string_view name = arg.substr(2, equals == std::string_view::npos ? std::string_view::npos : equals - 2);
    const std::string_view typed = arg.substr(0, equals);
    const OptionSpec* option = findLong(name);
    if (!option)
        return unknown(typed);
    if (!option->takesValue) {
        if (equals != std::string_view::npos)
            return error("die Option " + quoted(typed) + " nimmt keinen Wert");
        return apply(*option, typed, {});
    }
    if (equals != std::string_view::npos)
        return apply(*option, typed, arg.substr(equals + 1));
    if (next >= m_args.size())
        return error("zur Option " + quoted(typed) + " fehlt der Wert");
    return apply(*option, typed, m_args[next++]);
}

std::optional<UsageError> Parser::parseShortCluster(std::string_view arg, std::size_t& next)
{
    // "-qj2" is "-q -j 2": flags may be bundled, and an option with a value takes the rest.
    for (std::size_t k = 1; k < arg.size(); ++k) {
        const std::string typed = std::string("-") + arg[k];
        const OptionSpec* option = findShort(arg[k]);
        if (!option)
            return unknown(typed);
        if (!option->takesValue) {
            if (auto failure = apply(*option, typed, {}))
                return failure;
            if (m_result.help)
                return std::nullopt;
            continue;
        }
        if (k + 1 < arg.size())
            return apply(*option, typed, arg.substr(k + 1));
        if (next >= m_args.size())
            return error("zur Option " + quoted(typed) + " fehlt der Wert");
        return apply(*option, typed, m_args[next++]);
    }
    return std::nullopt;
}

std::optional<UsageError> Parser::checkOperands() const
{
    const std::size_t count = m_result.operands.size();
    switch (m_result.command) {
    case Command::Fill:
    case Command::Batch:
        // Interpolation alone needs no source.
        if (!m_maxDistanceTyped.empty() && !m_result.interpolate)
            return error("die Option " + quoted(m_maxDistanceTyped) + " gilt nur zusammen mit "
                         + quoted("--interpolate"));
        if (m_result.secondary.empty() && !m_result.interpolate)
            return error("der Sekundärordner fehlt (-s ORDNER)");
        if (m_result.command == Command::Batch && count != 1)
            return error(count == 0 ? "der Ordner mit den Kacheln fehlt"
                                    : "genau ein Ordner erwartet, nicht " + std::to_string(count));
        if (count == 0)
            return error("keine Kachel angegeben");
        break;
    case Command::Diff:
        if (count != 2)
            return error("zwei Kacheln erwartet (PRIMÄR VERGLEICH), nicht " + std::to_string(count));
        break;
    case Command::Info:
        if (count == 0)
            return error("keine Kachel angegeben");
        break;
    case Command::Render:
        if (count != 1)
            return error(count == 0 ? "keine Kachel angegeben"
                                    : "genau eine Kachel erwartet, nicht " + std::to_string(count));
        if (m_result.output.empty())
            return error("die Bilddatei fehlt (-o BILD.png)");
        break;
    case Command::None:
        break;
    }
    return std::nullopt;
}

std::expected<Invocation, UsageError> Parser::run()
{
    std::size_t next = 0;
    bool optionsEnded = false;
    bool commandSeen = false;
    while (next < m_args.size()) {
        const std::string_view arg = m_args[next++];
        const bool isOption = !optionsEnded && arg.size() > 1 && arg[0] == '-';
        if (isOption && arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (isOption) {
            const auto failure = arg[1] == '-' ? parseLong(arg, next) : parseShortCluster(arg, next);
            if (failure)
                return std::unexpected(*failure);
            // --help and --version win over everything after them, required options included.
            if (m_result.help || m_result.version)
                return m_result;
            continue;
        }
        if (!commandSeen) {
            commandSeen = true;
            if (arg == "help") { // "help fill" is "fill --help"
                m_result.help = true;
                if (next < m_args.size()) {
                    const auto command = findCommand(m_args[next]);
                    if (!command)
                        return std::unexpected(error("unbekannter Befehl " + quoted(m_args[next])));
                    m_result.command = *command;
                }
                return m_result;
            }
            const auto command = findCommand(arg);
            if (!command)
                return std::unexpected(error("unbekannter Befehl " + quoted(arg)));
            m_result.command = *command;
            continue;
        }
        m_result.operands.emplace_back(arg);
    }
    if (m_result.command == Command::None)
        return std::unexpected(error("kein Befehl angegeben"));
    if (auto failure = checkOperands())
        return std::unexpected(*failure);
    return m_result;
}

} // namespace

std::string_view CommandName(Command command)
{
    for (const auto& [name, known] : kCommands)
        if (known == command)
            return name;
    return {};
}

std::expected<Invocation, UsageError> ParseCommandLine(std::span<const std::string> args, unsigned defaultJobs)
{
    return Parser(args, defaultJobs).run();
}

std::string UsageLine(const UsageError& error)
{
    std::string help = "hgtfill-cli ";
    if (error.command != Command::None)
        help += std::string(CommandName(error.command)) + " ";
    return "hgtfill-cli: " + error.message + " (Hilfe: " + help + "--help)";
}

} // namespace hgt::cli
