#include "tiles/internal/run_report.h"


namespace hgt {

bool RunReport::due() const
{
    return m_state.posHigh > m_lastReportPos + kReportStride;
}

void RunReport::report(const std::string& statusText)
{
    m_lastReportPos = m_state.posHigh;
    m_host.yieldToEvents();
    m_state.statusText = statusText;
    replaceLine(m_state.statusText);
}

void RunReport::replaceLine(const std::string& text)
{
    if (m_host.listCount() >= 1)
        removeAt(m_state.logIndex.index());
    insertAt(m_state.logIndex.index(), text);
}

void RunReport::rewriteLine(const std::string& text)
{
    removeAt(m_state.logIndex.index());
    insertAt(m_state.logIndex.index(), text);
}

void RunReport::insertLine(const std::string& text)
{
    insertAt(m_state.logIndex.index(), text);
}

bool RunReport::removeAt(int index)
{
    if (index < 0 || index >= m_host.listCount())
        return false;
    m_host.listRemove(index);
    return true;
}

bool RunReport::insertAt(int index, const std::string& text)
{
    if (index < 0 || index > m_host.listCount())
        return false;
    m_host.listInsert(index, text);
    return true;
}

} // namespace hgt
