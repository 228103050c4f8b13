#include "tiles/internal/offset_membrane.h"

#include <algorithm>
#include <cmath>

namespace hgt {

namespace {

constexpr float kOverRelaxation = 1.8f;
constexpr float kConverged = 0.05f; // metres
constexpr int kMaxSweeps = 400;

} // namespace

// How far the first guess has got with a sample.
enum class Membrane::Guess : std::uint8_t {
    Open,   // no value yet
    Known,  // a fixed offset or a guessed one
    Queued, // waits for its guess
};

void GuessMembrane(std::size_t boxSize, Membrane& work)
{
    using Guess = Membrane::Guess;
    const auto dummy = static_cast<std::int32_t>(boxSize);
    const std::vector<MembraneRole>& role = work.role;
    std::vector<float>& membrane = work.values;
    const float fade = std::exp(-1.0f / kScreeningSamples);
    const auto firstCount = static_cast<std::int32_t>(work.cells[0].size());
    auto cellOf = [&](std::int32_t index) -> const MembraneCell& {
        return index < firstCount ? work.cells[0][static_cast<std::size_t>(index)]
                                  : work.cells[1][static_cast<std::size_t>(index - firstCount)];
    };
    work.cellAt.assign(membrane.size(), -1);
    for (std::size_t i = 0; i < work.cells[0].size(); ++i)
        work.cellAt[static_cast<std::size_t>(work.cells[0][i].self)] = static_cast<std::int32_t>(i);
    for (std::size_t i = 0; i < work.cells[1].size(); ++i)
        work.cellAt[static_cast<std::size_t>(work.cells[1][i].self)] = firstCount + static_cast<std::int32_t>(i);
    std::vector<Guess>& guess = work.guess;
    guess.assign(membrane.size(), Guess::Open);
    std::vector<const MembraneCell*>& queue = work.queue;
    queue.clear();
    for (std::size_t at = 0; at < boxSize; ++at)
        guess[at] = role[at] == MembraneRole::Fixed ? Guess::Known : Guess::Open;
    for (const auto& colour : work.cells)
        for (const MembraneCell& cell : colour)
            for (std::int32_t neighbour : cell.next)
                if (guess[static_cast<std::size_t>(neighbour)] == Guess::Known && neighbour != dummy) {
                    queue.push_back(&cell);
                    guess[static_cast<std::size_t>(cell.self)] = Guess::Queued;
                    break;
                }
    for (std::size_t i = 0; i < queue.size(); ++i) {
        const MembraneCell& cell = *queue[i];
        float sum = 0.0f;
        float known = 0.0f;
        for (std::int32_t neighbour : cell.next) {
            if (neighbour == dummy)
                continue;
            const auto at = static_cast<std::size_t>(neighbour);
            if (guess[at] == Guess::Known) {
                sum += membrane[at];
                known += 1.0f;
            } else if (guess[at] == Guess::Open && work.cellAt[at] >= 0) {
                guess[at] = Guess::Queued;
                queue.push_back(&cellOf(work.cellAt[at]));
            }
        }
        membrane[static_cast<std::size_t>(cell.self)] = known > 0.0f ? fade * sum / known : 0.0f;
        guess[static_cast<std::size_t>(cell.self)] = Guess::Known;
    }
}

void RelaxMembrane(Membrane& work)
{
    std::vector<float>& membrane = work.values;
    for (int sweep = 0; sweep < kMaxSweeps; ++sweep) {
        float change = 0.0f;
        for (const auto& colour : work.cells) {
            for (const MembraneCell& cell : colour) {
                const float target =
                    (membrane[static_cast<std::size_t>(cell.next[0])] + membrane[static_cast<std::size_t>(cell.next[1])]
                     + membrane[static_cast<std::size_t>(cell.next[2])]
                     + membrane[static_cast<std::size_t>(cell.next[3])])
                    * cell.weight;
                float& value = membrane[static_cast<std::size_t>(cell.self)];
                const float step = kOverRelaxation * (target - value);
                value += step;
                change = std::max(change, std::fabs(step));
            }
        }
        if (change < kConverged)
            break;
    }
}

} // namespace hgt
