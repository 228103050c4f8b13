#include "cli/progress_bar.h"

#include "cli/text_escape.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/german_number.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace hgt::cli {

namespace {

constexpr double kRedrawSeconds = 0.1;
constexpr int kMaxBarCells = 30;

// Columns of UTF-8 text, counting each code point as one.
std::size_t columns(std::string_view text)
{
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// The first `n` code points of the text.
std::string_view headColumns(std::string_view text, std::size_t n)
{
    std::size_t seen = 0;
    for (std::size_t k = 0; k < text.size(); ++k) {
        if ((static_cast<unsigned char>(text[k]) & 0xC0) != 0x80) {
            if (seen == n)
                return text.substr(0, k);
            ++seen;
        }
    }
    return text;
}

std::string clockTime(double seconds)
{
    const auto total = static_cast<long long>(std::ceil(seconds));
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
    return text;
}

} // namespace

std::string RenderProgress(const ProgressSnapshot& s, int width)
{
    const bool measured = s.done > 0 && s.elapsed > 0;
    const double rate = measured ? static_cast<double>(s.done) / s.elapsed : 0;
    std::string stats = std::to_string(s.done) + "/" + std::to_string(s.count) + "  ";
    std::string tail = "  ";
    tail += measured ? GermanDecimal(rate, rate < 1 ? 2 : 1) : std::string("–");
    tail += " Kacheln/s  noch ";
    tail += measured ? clockTime(static_cast<double>(s.count - std::min(s.done, s.count)) / rate) : std::string("–");

    const std::size_t room = static_cast<std::size_t>(std::max(width - 1, 0));
    std::string bar;
    const std::size_t fixed = columns(stats) + columns(tail);
    // The bar gets a quarter of a wide line and goes first when the line gets narrow.
    const std::size_t cells = std::min<std::size_t>(kMaxBarCells, room / 4);
    if (cells >= 5 && fixed + cells + 3 <= room) {
        const std::size_t full = s.count == 0 ? 0 : cells * std::min(s.done, s.count) / s.count;
        // Appended piece by piece: "[" + std::string(…) trips GCC 12's -Wrestrict at -O3 (a false alarm).
        bar.append(1, '[').append(full, '#').append(cells - full, '-').append("]  ");
    }
    std::string line = bar + stats;
    const std::size_t used = columns(line) + columns(tail);
    if (used < room) {
        const std::size_t left = room - used;
        if (columns(s.current) <= left)
            line += s.current;
        else if (left >= 2)
            line += std::string(headColumns(s.current, left - 1)) + "…";
    }
    line += tail;
    if (columns(line) > room)
        line = std::string(headColumns(line, room));
    return line;
}

ProgressBar::ProgressBar(std::ostream& out, int width, Clock clock, bool erases)
    : m_out(out), m_width(width), m_clock(std::move(clock)), m_erases(erases)
{}

double ProgressBar::steadySeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void ProgressBar::tileStarted(std::size_t index, std::size_t count, const std::string& tile)
{
    if (m_start < 0)
        m_start = m_clock();
    m_count = count;
    m_inFlight.emplace_back(index, Printable(GetFileName(tile)));
    draw(false);
}

void ProgressBar::tileFinished(std::size_t index, std::size_t count, const TileResult&)
{
    m_count = count;
    ++m_done;
    std::erase_if(m_inFlight, [index](const auto& tile) { return tile.first == index; });
    draw(m_done == m_count);
}

void ProgressBar::runEnded()
{
    if (m_shown && m_erases)
        m_out << "\r\x1b[K" << std::flush;
    else if (m_shown)
        m_out << '\r' << std::string(m_shownColumns, ' ') << '\r' << std::flush;
    m_shown = false;
    m_shownColumns = 0;
}

void ProgressBar::draw(bool force)
{
    const double now = m_clock();
    if (!force && m_lastDraw >= 0 && now - m_lastDraw < kRedrawSeconds)
        return;
    m_lastDraw = now;
    ProgressSnapshot snapshot{m_done, m_count, m_inFlight.empty() ? std::string() : m_inFlight.back().second,
                              now - m_start};
    const std::string line = RenderProgress(snapshot, m_width);
    if (m_erases) {
        m_out << '\r' << line << "\x1b[K" << std::flush;
    } else {
        // Spaces over what is left of a longer line before; the line never grows past width - 1.
        const std::size_t shown = columns(line);
        m_out << '\r' << line << std::string(m_shownColumns - std::min(m_shownColumns, shown), ' ') << std::flush;
        m_shownColumns = std::max(m_shownColumns, shown);
    }
    m_shown = true;
}

bool WantsProgressBar(int descriptor, bool quiet)
{
    return !quiet && IsTerminal(descriptor);
}

int TerminalWidth(int descriptor)
{
    return TerminalColumns(descriptor);
}

} // namespace hgt::cli
