#pragma once

// The rules the engines are held to, written out sample by sample as plainly as possible and shared
// by the engine, window, command-line and end-to-end tests: what a filled tile and a difference tile
// hold, for every void value, grid and number of sources; and a literal, sample-by-sample model of
// the window's fill run, kept close to the per-byte description of the walk, so that the block
// engine can be checked against it.

#include "tests/support/fake_host.h"
#include "tests/support/tiles.h"

#include <cmath>
#include <optional>

namespace hgt::test {

using VoidValues = std::vector<std::int16_t>;

inline bool isVoid(const VoidValues& voids, std::int32_t value)
{
    return std::find(voids.begin(), voids.end(), value) != voids.end();
}

// The weighted sum, in ninths, of the 3" nodes around 1" sample (r, c); none when a node under a
// non-zero weight is a void. Nodes under a zero weight are not looked at (past the last row or
// column there are none).
inline std::optional<std::int64_t> ninths(const Bytes& coarse, std::int64_t r, std::int64_t c, const VoidValues& voids)
{
    const std::int64_t R = r / 3, C = c / 3, a = r % 3, b = c % 3;
    const std::int64_t rows[4] = {R, R, R + 1, R + 1};
    const std::int64_t cols[4] = {C, C + 1, C, C + 1};
    const std::int64_t weights[4] = {(3 - a) * (3 - b), (3 - a) * b, a * (3 - b), a * b};
    std::int64_t sum = 0;
    for (int n = 0; n < 4; ++n) {
        if (weights[n] == 0)
            continue;
        const std::int32_t value = sampleAt(coarse, rows[n] * kTileSide3 + cols[n]);
        if (isVoid(voids, value))
            return std::nullopt;
        sum += weights[n] * value;
    }
    return sum;
}

// What a source tile gives at sample k of a primary of `side`: its own sample on the same grid, the
// 1" sample at (3r, 3c) for a 3" primary, the bilinear value rounded to nearest for a 1" primary.
inline std::optional<std::int32_t> sourceValue(const Bytes& source, std::int64_t side, std::int64_t k,
                                               const VoidValues& voids)
{
    const std::int64_t r = k / side, c = k % side;
    std::int32_t value = 0;
    if (sideOf(source) == side) {
        value = sampleAt(source, k);
    } else if (side == kTileSide3) {
        value = sampleAt(source, 3 * r * kTileSide + 3 * c);
    } else {
        const std::optional<std::int64_t> sum = ninths(source, r, c, voids);
        if (!sum)
            return std::nullopt;
        return static_cast<std::int32_t>(std::lround(static_cast<double>(*sum) / 9.0));
    }
    if (isVoid(voids, value))
        return std::nullopt;
    return value;
}

struct FillModel {
    Bytes tile;
    std::int64_t found = 0;
    std::int64_t left = 0;
    std::vector<std::int64_t> bySource;
};

// A void of the primary takes the first source (null: no tile there) that has a value; a void
// that none has keeps its own value. A longer primary's tail is not part of the output.
inline FillModel fillModel(const Bytes& primary, const std::vector<const Bytes*>& sources, const VoidValues& voids)
{
    const std::int64_t side = sideOf(primary);
    FillModel model;
    model.tile.assign(primary.begin(), primary.begin() + side * side * 2);
    model.bySource.assign(sources.size(), 0);
    for (std::int64_t k = 0; k < side * side; ++k) {
        if (!isVoid(voids, sampleAt(primary, k)))
            continue;
        ++model.found;
        bool filled = false;
        for (std::size_t s = 0; s < sources.size() && !filled; ++s) {
            if (!sources[s])
                continue;
            if (const std::optional<std::int32_t> value = sourceValue(*sources[s], side, k, voids)) {
                setValue(model.tile, k, *value);
                ++model.bySource[s];
                filled = true;
            }
        }
        model.left += !filled;
    }
    return model;
}

struct DifferenceModel {
    Bytes tile;
    std::int64_t primaryVoids = 0;
    std::int64_t voids = 0;
};

// Primary minus the comparison on the primary's grid: -9999 where the primary is void or the
// comparison gives no value, the saturated difference elsewhere.
inline DifferenceModel differenceModel(const Bytes& primary, const Bytes& comparison, const VoidValues& voids)
{
    const std::int64_t side = sideOf(primary);
    DifferenceModel model;
    model.tile.resize(static_cast<std::size_t>(side * side * 2));
    for (std::int64_t k = 0; k < side * side; ++k) {
        const std::int32_t own = sampleAt(primary, k);
        const std::optional<std::int32_t> other = sourceValue(comparison, side, k, voids);
        model.primaryVoids += isVoid(voids, own);
        if (isVoid(voids, own) || !other) {
            setValue(model.tile, k, -9999);
            ++model.voids;
        } else {
            setValue(model.tile, k, std::clamp(own - *other, -32768, 32767));
        }
    }
    return model;
}

// A void (-9999) of the primary takes the secondary's sample, void or not; the rest is the primary's.
inline Bytes FilledTile(const Bytes& primary, const Bytes& secondary)
{
    return fillModel(primary, {&secondary}, {kVoidValue}).tile;
}

// Primary minus comparison: a void in either stays a void, other differences saturate.
inline Bytes DifferenceTile(const Bytes& primary, const Bytes& comparison)
{
    return differenceModel(primary, comparison, {kVoidValue}).tile;
}

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
        if (!isTileSize(primary.size()))
            return refuse(primaryFile, primary.size());
        // A 3" tile is walked the same way, over its own bytes; a secondary is on the primary's grid.
        const std::int64_t tileBytes = sideOf(primary) * sideOf(primary) * 2;

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
        if (!isTileSize(secondary->size()))
            return refuse(secondaryPath, secondary->size());

        Bytes output(static_cast<std::size_t>(tileBytes));
        m_state.posHigh = 1;
        m_state.posLow = m_state.posHigh + 1;
        std::int32_t lastReportPos = 0;
        while (m_state.posHigh != tileBytes + 1) {
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
    static bool isTileSize(std::size_t size)
    {
        return static_cast<std::int64_t>(size) >= kTileBytes || static_cast<std::int64_t>(size) == kTileBytes3;
    }

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
