#include "rasters/height_conversion.h"

#include "rasters/vertical_datum.h"
#include "tiles/tile_folder.h"

#include <mutex>

namespace hgt {

namespace {

Error AsError(const DatumError& error)
{
    return Error{error.kind == DatumErrorKind::NotADatum ? kUnknownDatum : kNoConversion, error.message};
}

class ShiftedTile : public TileConversion {
public:
    explicit ShiftedTile(SampleShift shift) : m_shift(std::move(shift)) {}
    void apply(std::int64_t first, std::span<std::int16_t> samples) const override { m_shift.apply(first, samples); }

private:
    SampleShift m_shift;
};

class ProjHeightConversion : public HeightConversion {
public:
    ProjHeightConversion(VerticalConversion conversion, std::string from, std::string to)
        : m_conversion(std::move(conversion)), m_from(std::move(from)), m_to(std::move(to))
    {}

    std::string from() const override { return m_from; }
    std::string to() const override { return m_to; }

    Result<std::shared_ptr<const TileConversion>> forTile(const std::string& tileName, int side,
                                                          const std::vector<std::int16_t>& voidValues) const override
    {
        const std::optional<TileOrigin> origin = TileOriginOf(tileName);
        if (!origin)
            return Error{kNoConversion, "Die Höhen von " + tileName + " lassen sich keinem Ort zuordnen."};
        if (side < 2)
            return Error{ErrorKind::Internal, "Falsche Zahl von Werten für " + tileName};
        DatumResult<TileShift> shift = [&] {
            // PROJ's context is not shared between threads; the shift is a few milliseconds a tile.
            const std::lock_guard lock(m_mutex);
            return m_conversion.tileShift(origin->latitude, origin->longitude);
        }();
        if (!shift)
            return AsError(shift.error());
        return std::make_shared<const ShiftedTile>(SampleShift(std::move(*shift), side, voidValues));
    }

private:
    VerticalConversion m_conversion;
    std::string m_from;
    std::string m_to;
    mutable std::mutex m_mutex;
};

} // namespace

Result<std::shared_ptr<const HeightConversion>> OpenHeightConversion(const std::string& source, const std::string& tile)
{
    DatumResult<VerticalDatum> from = ParseVerticalDatum(source);
    if (!from)
        return AsError(from.error());
    DatumResult<VerticalDatum> to = tile.empty() ? DatumResult<VerticalDatum>(TileDatum()) : ParseVerticalDatum(tile);
    if (!to)
        return AsError(to.error());
    DatumResult<VerticalConversion> conversion = VerticalConversion::create(*from, *to);
    if (!conversion)
        return AsError(conversion.error());
    if (conversion->isIdentity())
        return std::shared_ptr<const HeightConversion>{};
    return std::make_shared<const ProjHeightConversion>(std::move(*conversion), from->label, to->label);
}

} // namespace hgt
