#include "app/run_lines.h"

#include "tiles/tile_folder.h"

namespace hgt {

namespace {

const std::string kNoHolesText = "hat keine Löcher.";

} // namespace

void RunLines::runStarted(RunKind kind, bool oneTileAtATime)
{
    m_kind = kind;
    m_oneAtATime = oneTileAtATime;
}

void RunLines::tileStarted()
{
    if (fillOneAtATime())
        m_state.logIndex.raise();
}

void RunLines::progress(const std::string& statusText)
{
    if (m_oneAtATime)
        replaceLine(statusText);
}

void RunLines::tileFinished(const TileResult& result)
{
    if (!fillOneAtATime())
        return;
    switch (result.end) {
    case RunEnd::Complete:
        replaceLine(m_state.statusText);
        break;
    case RunEnd::NoHoles:
        insertLine(TileName(result.tile) + kNoHolesText);
        break;
    case RunEnd::MissingSecondary:
    case RunEnd::Failed:
        replaceLine(result.message());
        break;
    case RunEnd::Stopped: // the last progress line stays
        break;
    }
}

void RunLines::replaceLine(const std::string& text)
{
    removeAt(m_state.logIndex.index());
    insertAt(m_state.logIndex.index(), text);
}

void RunLines::insertLine(const std::string& text)
{
    insertAt(m_state.logIndex.index(), text);
}

void RunLines::removeAt(int index)
{
    if (index >= 0 && index < m_list.listCount())
        m_list.listRemove(index);
}

void RunLines::insertAt(int index, const std::string& text)
{
    if (index >= 0 && index <= m_list.listCount())
        m_list.listInsert(index, text);
}

} // namespace hgt
