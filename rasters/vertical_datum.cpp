#include "rasters/vertical_datum.h"

#include "platform/german_number.h"

#include <proj.h>
#include <proj_experimental.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstddef>
#include <optional>
#include <utility>

namespace hgt {

namespace {

// Every text the user may see from this unit.
namespace text {
constexpr std::string_view kEgm96 = "EGM96";
constexpr std::string_view kEgm2008 = "EGM2008";
constexpr std::string_view kEllipsoid = "WGS 84 (ellipsoidische Höhen)";
std::string UnknownDatum(std::string_view name)
{
    return "Unbekanntes Höhenbezugssystem „" + std::string(name)
           + "“: erlaubt sind egm96, egm2008, ellipsoid oder ein Code wie EPSG:7837.";
}
std::string NoHeights(std::string_view name)
{
    return "„" + std::string(name) + "“ ist kein Höhenbezugssystem (weder vertikal noch zusammengesetzt).";
}
std::string GridMissing(std::string_view from, std::string_view to, const std::vector<std::string>& grids,
                        std::string_view url, std::string_view folder)
{
    std::string files;
    for (const auto& grid : grids)
        files += (files.empty() ? "" : ", ") + grid;
    if (!url.empty())
        files += " (von " + std::string(url) + ")";
    return "Für die Umrechnung der Höhen von " + std::string(from) + " nach " + std::string(to) + " fehlt "
           + (grids.size() == 1 ? "die Gitterdatei " : "die Gitterdateien ") + files + ". Bitte in den PROJ-Ordner „"
           + std::string(folder) + "“ legen.";
}
std::string NoConversion(std::string_view from, std::string_view to)
{
    return "PROJ kennt keine Umrechnung der Höhen von " + std::string(from) + " nach " + std::string(to)
           + ", die mehr als eine Schätzung ist.";
}
std::string Outside(std::string_view from, std::string_view to, double latitude, double longitude)
{
    return "Die Umrechnung der Höhen von " + std::string(from) + " nach " + std::string(to) + " ist bei "
           + GermanDecimal(latitude, 4) + "° N " + GermanDecimal(longitude, 4)
           + "° E nicht definiert (außerhalb ihres Gitters oder Gebiets).";
}
std::string BadTile(int latitude, int longitude)
{
    return "Keine Kachel auf der Erde: Südwestecke " + std::to_string(latitude) + "° N " + std::to_string(longitude)
           + "° E.";
}
std::string ProjFailed(std::string_view reason)
{
    return "PROJ-Fehler bei der Umrechnung der Höhen: " + std::string(reason);
}
} // namespace text

struct ContextDeleter {
    void operator()(PJ_CONTEXT* context) const { proj_context_destroy(context); }
};
struct PjDeleter {
    void operator()(PJ* object) const { proj_destroy(object); }
};
struct ListDeleter {
    void operator()(PJ_OBJ_LIST* list) const { proj_list_destroy(list); }
};
struct FactoryDeleter {
    void operator()(PJ_OPERATION_FACTORY_CONTEXT* factory) const { proj_operation_factory_context_destroy(factory); }
};
using Context = std::unique_ptr<PJ_CONTEXT, ContextDeleter>;
using Pj = std::unique_ptr<PJ, PjDeleter>;

DatumError ProjError(PJ_CONTEXT* context)
{
    const int code = proj_context_errno(context);
    const char* reason = proj_context_errno_string(context, code);
    return {DatumErrorKind::Proj, text::ProjFailed(reason ? reason : "?"), {}};
}

DatumResult<Context> NewContext()
{
    Context context(proj_context_create());
    if (!context)
        return std::unexpected(DatumError{DatumErrorKind::Proj, text::ProjFailed("kein Kontext"), {}});
    // Quiet: errors come back as values, not as lines on stderr.
    proj_log_level(context.get(), PJ_LOG_NONE);
    return context;
}

std::string Lower(std::string_view name)
{
    std::string lower(name);
    std::ranges::transform(lower, lower.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

// AUTHORITY:CODE or AUTHORITY:CODE+CODE, nothing PROJ would read as a file, a pipeline or a URL.
bool IsAuthorityCode(std::string_view name)
{
    const auto colon = name.find(':');
    if (colon == 0 || colon == std::string_view::npos || name.size() > 64)
        return false;
    const auto authority = name.substr(0, colon);
    if (!std::ranges::all_of(authority, [](unsigned char c) { return std::isalpha(c) || c == '_'; }))
        return false;
    const auto codes = name.substr(colon + 1);
    const auto plus = codes.find('+');
    const auto codeOk = [](std::string_view code) {
        return !code.empty() && std::ranges::all_of(code, [](unsigned char c) { return std::isalnum(c) || c == '_'; });
    };
    if (plus == std::string_view::npos)
        return codeOk(codes);
    return codeOk(codes.substr(0, plus)) && codeOk(codes.substr(plus + 1));
}

bool IsGeographic3D(const PJ* crs)
{
    return proj_get_type(crs) == PJ_TYPE_GEOGRAPHIC_3D_CRS;
}

// The reference system as the conversion uses it: latitude and longitude on the system's own geodetic
// datum with its heights. A vertical system alone gets WGS 84 beside it; a compound one keeps the datum
// of its horizontal part, but in degrees even where that part is projected.
DatumResult<Pj> HeightCrs(PJ_CONTEXT* context, const VerticalDatum& datum)
{
    const auto notADatum = [&](std::string (*message)(std::string_view)) {
        return std::unexpected(DatumError{DatumErrorKind::NotADatum, message(datum.name), {}});
    };
    Pj crs(proj_create(context, datum.definition.c_str()));
    if (!crs)
        return notADatum(text::UnknownDatum);
    switch (proj_get_type(crs.get())) {
    case PJ_TYPE_GEOGRAPHIC_3D_CRS:
        return crs;
    case PJ_TYPE_VERTICAL_CRS: {
        Pj wgs84(proj_create(context, "EPSG:4326"));
        if (!wgs84)
            return std::unexpected(ProjError(context));
        Pj compound(proj_create_compound_crs(context, proj_get_name(crs.get()), wgs84.get(), crs.get()));
        if (!compound)
            return std::unexpected(ProjError(context));
        return compound;
    }
    case PJ_TYPE_COMPOUND_CRS: {
        Pj horizontal(proj_crs_get_sub_crs(context, crs.get(), 0));
        Pj vertical(proj_crs_get_sub_crs(context, crs.get(), 1));
        if (!horizontal || !vertical || proj_get_type(vertical.get()) != PJ_TYPE_VERTICAL_CRS)
            return notADatum(text::NoHeights);
        if (proj_get_type(horizontal.get()) == PJ_TYPE_GEOGRAPHIC_2D_CRS)
            return crs;
        Pj geodetic(proj_crs_get_geodetic_crs(context, horizontal.get()));
        if (!geodetic || proj_get_type(geodetic.get()) != PJ_TYPE_GEOGRAPHIC_2D_CRS)
            return notADatum(text::NoHeights);
        Pj compound(proj_create_compound_crs(context, proj_get_name(crs.get()), geodetic.get(), vertical.get()));
        if (!compound)
            return std::unexpected(ProjError(context));
        return compound;
    }
    default:
        return notADatum(text::NoHeights);
    }
}

// Heights in the same system: equal reference systems, or compound ones with equal vertical parts
// (the horizontal datum does not move a height).
bool SameHeights(PJ_CONTEXT* context, const PJ* source, const PJ* target)
{
    constexpr auto criterion = PJ_COMP_EQUIVALENT_EXCEPT_AXIS_ORDER_GEOGCRS;
    if (proj_is_equivalent_to_with_ctx(context, source, target, criterion))
        return true;
    if (IsGeographic3D(source) || IsGeographic3D(target))
        return false;
    const Pj sourceVertical(proj_crs_get_sub_crs(context, source, 1));
    const Pj targetVertical(proj_crs_get_sub_crs(context, target, 1));
    return sourceVertical && targetVertical
           && proj_is_equivalent_to_with_ctx(context, sourceVertical.get(), targetVertical.get(), criterion);
}

struct Area {
    double west = -180, south = -90, east = 180, north = 90; // west > east across the antimeridian

    bool intersects(const Area& other) const
    {
        if (north < other.south || other.north < south)
            return false;
        const auto within = [](double longitude, const Area& area) {
            return area.west <= area.east ? area.west <= longitude && longitude <= area.east
                                          : longitude >= area.west || longitude <= area.east;
        };
        return within(other.west, *this) || within(other.east, *this) || within(west, other);
    }
    bool contains(const Area& other) const
    {
        if (other.south < south || other.north > north)
            return false;
        if (west <= east)
            return west <= other.west && other.east <= east;
        return other.west >= west || other.east <= east;
    }
};

// One way PROJ offers from the source to the tile datum, in longitude, latitude and height order.
struct Candidate {
    Pj operation;
    Area area;
    std::vector<std::string> missingGrids; // empty: the operation runs here
    std::string url;                       // of the first missing grid
    bool downloadable = true;              // every missing grid can be fetched as a file
};

// The grids an operation uses that are not at hand, with the first one's address.
void NoteMissingGrids(PJ_CONTEXT* context, const PJ* operation, Candidate& candidate)
{
    const int grids = proj_coordoperation_get_grid_used_count(context, operation);
    for (int grid = 0; grid < grids; ++grid) {
        const char* shortName = nullptr;
        const char* url = nullptr;
        int direct = 0;
        int available = 0;
        if (!proj_coordoperation_get_grid_used(context, operation, grid, &shortName, nullptr, nullptr, &url, &direct,
                                               nullptr, &available)
            || available)
            continue;
        candidate.missingGrids.emplace_back(shortName ? shortName : "?");
        if (url && *url && candidate.url.empty())
            candidate.url = url;
        candidate.downloadable = candidate.downloadable && direct;
    }
}

// Every operation PROJ knows between the two, best first, once for all tiles. Candidates that guess (a
// ballpark step, a no-op between different datums) never count; those that need grids that are not at
// hand are kept to name them where nothing else covers a tile.
DatumResult<std::vector<Candidate>> FindCandidates(PJ_CONTEXT* context, const PJ* source, const PJ* target)
{
    std::unique_ptr<PJ_OPERATION_FACTORY_CONTEXT, FactoryDeleter> factory(
        proj_create_operation_factory_context(context, nullptr));
    if (!factory)
        return std::unexpected(ProjError(context));
    proj_operation_factory_context_set_allow_ballpark_transformations(context, factory.get(), 0);
    proj_operation_factory_context_set_grid_availability_use(context, factory.get(),
                                                             PROJ_GRID_AVAILABILITY_USED_FOR_SORTING);
    proj_operation_factory_context_set_spatial_criterion(context, factory.get(),
                                                         PROJ_SPATIAL_CRITERION_PARTIAL_INTERSECTION);
    std::unique_ptr<PJ_OBJ_LIST, ListDeleter> found(proj_create_operations(context, source, target, factory.get()));
    if (!found)
        return std::unexpected(ProjError(context));

    std::vector<Candidate> candidates;
    const int count = proj_list_get_count(found.get());
    for (int index = 0; index < count; ++index) {
        Pj operation(proj_list_get(context, found.get(), index));
        if (!operation || proj_coordoperation_has_ballpark_transformation(context, operation.get()))
            continue;
        Candidate candidate;
        NoteMissingGrids(context, operation.get(), candidate);
        if (candidate.missingGrids.empty()) {
            if (!proj_coordoperation_is_instantiable(context, operation.get()))
                continue;
            const char* definition = proj_as_proj_string(context, operation.get(), PJ_PROJ_5, nullptr);
            if (!definition || std::string_view(definition) == "+proj=noop")
                continue;
        }
        Area& area = candidate.area;
        if (!proj_get_area_of_use(context, operation.get(), &area.west, &area.south, &area.east, &area.north, nullptr)
            || area.west == -1000)
            area = Area{};
        candidate.operation.reset(proj_normalize_for_visualization(context, operation.get()));
        if (candidate.operation || !candidate.missingGrids.empty())
            candidates.push_back(std::move(candidate));
    }
    return candidates;
}

// The grids to fetch for `area`: of the first candidate there that the user could complete by fetching
// files, else (unless `onlyDownloadable`) of the first there at all; nullopt where there is none.
std::optional<DatumError> MissingGridError(PJ_CONTEXT* context, const std::vector<Candidate>& candidates,
                                           const Area& area, const std::string& from, const std::string& to,
                                           bool onlyDownloadable)
{
    const Candidate* named = nullptr;
    for (const auto& candidate : candidates) {
        if (candidate.missingGrids.empty() || !candidate.area.intersects(area))
            continue;
        if (!named || (candidate.downloadable && !named->downloadable))
            named = &candidate;
    }
    if (!named || (onlyDownloadable && !named->downloadable))
        return std::nullopt;
    const char* folder = proj_context_get_user_writable_directory(context, 0);
    return DatumError{DatumErrorKind::GridMissing,
                      text::GridMissing(from, to, named->missingGrids, named->url, folder ? folder : ""),
                      named->missingGrids};
}

// The candidates that run and whose area meets `area`: those covering all of it first, each group in
// PROJ's order.
std::vector<const Candidate*> RunnableFor(const std::vector<Candidate>& candidates, const Area& area)
{
    std::vector<const Candidate*> runnable;
    for (const bool covering : {true, false}) {
        for (const auto& candidate : candidates) {
            if (candidate.missingGrids.empty() && candidate.area.contains(area) == covering
                && candidate.area.intersects(area))
                runnable.push_back(&candidate);
        }
    }
    return runnable;
}

} // namespace

DatumResult<VerticalDatum> ParseVerticalDatum(std::string_view name)
{
    const std::string lower = Lower(name);
    if (lower == "egm96")
        return TileDatum();
    if (lower == "egm2008")
        return VerticalDatum{std::string(name), "EPSG:4326+3855", std::string(text::kEgm2008)};
    if (lower == "ellipsoid")
        return VerticalDatum{std::string(name), "EPSG:4979", std::string(text::kEllipsoid)};

    const std::string given(name);
    if (!IsAuthorityCode(name))
        return std::unexpected(DatumError{DatumErrorKind::NotADatum, text::UnknownDatum(given), {}});
    auto context = NewContext();
    if (!context)
        return std::unexpected(context.error());
    VerticalDatum datum{given, given, given};
    auto crs = HeightCrs(context->get(), datum);
    if (!crs)
        return std::unexpected(crs.error());
    if (const char* label = proj_get_name(crs->get()))
        datum.label = label;
    return datum;
}

VerticalDatum TileDatum()
{
    return {"egm96", "EPSG:4326+5773", std::string(text::kEgm96)};
}

struct VerticalConversion::State {
    Context context;
    std::string sourceLabel;
    std::string targetLabel;
    Pj source;
    Pj target;
    bool identity = false;
    std::vector<Candidate> candidates;
};

VerticalConversion::VerticalConversion(std::unique_ptr<State> state) : m_state(std::move(state)) {}
VerticalConversion::VerticalConversion(VerticalConversion&&) noexcept = default;
VerticalConversion& VerticalConversion::operator=(VerticalConversion&&) noexcept = default;
VerticalConversion::~VerticalConversion() = default;

DatumResult<VerticalConversion> VerticalConversion::create(const VerticalDatum& source, const VerticalDatum& tile)
{
    auto state = std::make_unique<State>();
    auto context = NewContext();
    if (!context)
        return std::unexpected(context.error());
    state->context = std::move(*context);
    state->sourceLabel = source.label;
    state->targetLabel = tile.label;
    PJ_CONTEXT* ctx = state->context.get();
    auto sourceCrs = HeightCrs(ctx, source);
    if (!sourceCrs)
        return std::unexpected(sourceCrs.error());
    auto targetCrs = HeightCrs(ctx, tile);
    if (!targetCrs)
        return std::unexpected(targetCrs.error());
    state->source = std::move(*sourceCrs);
    state->target = std::move(*targetCrs);
    state->identity = SameHeights(ctx, state->source.get(), state->target.get());
    if (!state->identity) {
        auto candidates = FindCandidates(ctx, state->source.get(), state->target.get());
        if (!candidates)
            return std::unexpected(candidates.error());
        state->candidates = std::move(*candidates);
        if (RunnableFor(state->candidates, Area{}).empty()) {
            if (auto missing = MissingGridError(ctx, state->candidates, Area{}, source.label, tile.label, false))
                return std::unexpected(std::move(*missing));
            return std::unexpected(
                DatumError{DatumErrorKind::NoConversion, text::NoConversion(source.label, tile.label), {}});
        }
    }
    return VerticalConversion(std::move(state));
}

bool VerticalConversion::isIdentity() const
{
    return m_state->identity;
}

DatumResult<std::vector<double>> VerticalConversion::shiftAt(std::span<const double> latitudes,
                                                             std::span<const double> longitudes) const
{
    const std::size_t count = std::min(latitudes.size(), longitudes.size());
    std::vector<double> shifts(count, 0.0);
    if (m_state->identity || count == 0)
        return shifts;
    PJ_CONTEXT* ctx = m_state->context.get();
    double west = 180, south = 90, east = -180, north = -90;
    for (std::size_t i = 0; i < count; ++i) {
        west = std::min(west, longitudes[i]);
        east = std::max(east, longitudes[i]);
        south = std::min(south, latitudes[i]);
        north = std::max(north, latitudes[i]);
    }
    const Area area{west, south, east, north};

    // Each point takes the best operation that gives it a value, as PROJ does between areas of use.
    std::vector<std::size_t> pending(count);
    for (std::size_t i = 0; i < count; ++i)
        pending[i] = i;
    std::vector<double> x, y, z;
    for (const Candidate* candidate : RunnableFor(m_state->candidates, area)) {
        PJ* operation = candidate->operation.get();
        if (pending.empty())
            break;
        x.resize(pending.size());
        y.resize(pending.size());
        z.assign(pending.size(), 0.0);
        for (std::size_t k = 0; k < pending.size(); ++k) {
            x[k] = longitudes[pending[k]];
            y[k] = latitudes[pending[k]];
        }
        proj_errno_reset(operation);
        proj_trans_generic(operation, PJ_FWD, x.data(), sizeof(double), x.size(), y.data(), sizeof(double), y.size(),
                           z.data(), sizeof(double), z.size(), nullptr, 0, 0);
        std::vector<std::size_t> left;
        for (std::size_t k = 0; k < pending.size(); ++k) {
            if (std::abs(z[k]) <= TileShift::kLargestShift && x[k] != HUGE_VAL)
                shifts[pending[k]] = z[k];
            else
                left.push_back(pending[k]);
        }
        pending = std::move(left);
    }
    if (!pending.empty()) {
        if (auto missing =
                MissingGridError(ctx, m_state->candidates, area, m_state->sourceLabel, m_state->targetLabel, true))
            return std::unexpected(std::move(*missing));
        const double latitude = latitudes[pending.front()];
        const double longitude = longitudes[pending.front()];
        return std::unexpected(
            DatumError{DatumErrorKind::OutsideArea,
                       text::Outside(m_state->sourceLabel, m_state->targetLabel, latitude, longitude),
                       {}});
    }
    return shifts;
}

DatumResult<TileShift> VerticalConversion::tileShift(int latitude, int longitude) const
{
    if (latitude < -90 || latitude > 89 || longitude < -180 || longitude > 179)
        return std::unexpected(DatumError{DatumErrorKind::BadTile, text::BadTile(latitude, longitude), {}});
    TileShift result{.latitude = latitude, .longitude = longitude, .shift = {}};
    if (m_state->identity)
        return result;
    constexpr int nodes = TileShift::kNodes;
    std::vector<double> latitudes(nodes * nodes);
    std::vector<double> longitudes(nodes * nodes);
    for (int j = 0; j < nodes; ++j) {
        for (int i = 0; i < nodes; ++i) {
            latitudes[j * nodes + i] = latitude + static_cast<double>(j) / TileShift::kShiftSteps;
            longitudes[j * nodes + i] = longitude + static_cast<double>(i) / TileShift::kShiftSteps;
        }
    }
    auto shifts = shiftAt(latitudes, longitudes);
    if (!shifts)
        return std::unexpected(shifts.error());
    result.shift = std::move(*shifts);
    return result;
}

} // namespace hgt
