#pragma once

// A literal, sample-by-sample model of the fill run, kept deliberately close to the per-byte
// description of the walk, so that the block engine can be checked against it.

#include "tiles/tile_format.h"
#include "tiles/runs.h"
#include "tiles/internal/samples.h"
#include "tests/test_support.h"

#include <optional>

namespace hgt::test {

struct ModelResult {
    RunEnd end = RunEnd::Complete;
    std::optional<Bytes> output; // the tile that ends up in Merged, when one is committed
};

class ReferenceFill {
public:
    ReferenceFill(WindowState& state, FakeHost& host) : m_state(state), m_host(host) {}

    ModelResult run(const std::string& primaryFile, const Bytes& primary, const Bytes* secondary)
    {
        m_state.logIndex.raise();
        m_state.byteHigh = 0;
        m_state.byteLow = 0;
        const std::string name = std::filesystem::path(primaryFile).filename().string();
        if (static_cast<std::int64_t>(primary.size()) < kTileBytes)
            return refuse(primaryFile, primary.size());

        bool holes = false;
        for (std::size_t i = 0; i + 1 < primary.size(); ++i)
            if (primary[i] == 216 && primary[i + 1] == 241)
                holes = true;
        if (!holes) {
            insertAt(index(), name + "hat keine Löcher.");
            return {RunEnd::NoHoles, {}};
        }
        m_state.runLog += '\n';
        if (!secondary) {
            const std::string message = "kein sekundäres hgt-file " + primaryFile + " im Sekundärordner gefunden";
            m_state.runLog += message;
            replaceLine(message);
            return {RunEnd::MissingSecondary, {}};
        }
        if (static_cast<std::int64_t>(secondary->size()) < kTileBytes)
            return refuse(secondaryPath, secondary->size());

        Bytes output(static_cast<std::size_t>(kTileBytes));
        m_state.posHigh = 1;
        m_state.posLow = m_state.posHigh + 1;
        std::int32_t lastReportPos = 0;
        while (m_state.posHigh != kWalkEnd) {
            m_state.byteHigh = primary[m_state.posHigh - 1];
            m_state.byteLow = primary[m_state.posLow - 1];
            if (m_state.byteHigh == 216 && m_state.byteLow == 241) {
                m_state.byteHigh = (*secondary)[m_state.posHigh - 1];
                m_state.byteLow = (*secondary)[m_state.posLow - 1];
            }
            output[m_state.posHigh - 1] = m_state.byteHigh;
            output[m_state.posLow - 1] = m_state.byteLow;
            m_host.yieldToEvents();
            if (m_state.posHigh > lastReportPos + 200000) {
                lastReportPos = m_state.posHigh;
                m_host.yieldToEvents();
                m_state.statusText = std::to_string(m_state.posHigh) + " Bytes verarbeitet. File : " + name;
                replaceLine(m_state.statusText);
            }
            if (m_state.stopRequested)
                return {RunEnd::Stopped, {}};
            m_state.posHigh += 2;
            m_state.posLow += 2;
        }
        removeAt(index());
        insertAt(index(), m_state.statusText);
        return {RunEnd::Complete, output};
    }

    std::string secondaryPath; // named in the refusal of a short secondary tile

private:
    ModelResult refuse(const std::string& path, std::size_t size)
    {
        const std::string message = path + " ist kein HGT-File (" + std::to_string(size)
                                    + " Bytes statt 25934402 Bytes für 1″ oder 2884802 Bytes für 3″)";
        m_state.runLog += message;
        replaceLine(message);
        return {RunEnd::Failed, {}};
    }

    int index() const { return m_state.logIndex.index(); }

    void replaceLine(const std::string& text)
    {
        if (m_host.listCount() >= 1)
            removeAt(index());
        insertAt(index(), text);
    }
    void removeAt(int i)
    {
        if (i >= 0 && i < m_host.listCount())
            m_host.lines.erase(m_host.lines.begin() + i);
    }
    void insertAt(int i, const std::string& text)
    {
        if (i >= 0 && i <= m_host.listCount())
            m_host.lines.insert(m_host.lines.begin() + i, text);
    }

    WindowState& m_state;
    FakeHost& m_host;
};

} // namespace hgt::test
