#include "rasters/internal/raster_index.h"

#include "platform/file_system.h"
#include "rasters/raster_source.h"
#include "tiles/tile_error.h"

#include <cpl_conv.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numbers>

namespace hgt {

namespace {

// The CRS as text that names it again: "EPSG:25832" where it has a code (cheap to compare), else WKT2.
std::string CrsWkt(OGRSpatialReferenceH srs)
{
    const char* authority = OSRGetAuthorityName(srs, nullptr);
    const char* code = OSRGetAuthorityCode(srs, nullptr);
    if (authority && code && EqualsIgnoringCase(authority, "EPSG"))
        return std::string("EPSG:") + code;
    char* wkt = nullptr;
    const char* options[] = {"FORMAT=WKT2_2018", nullptr};
    if (OSRExportToWktEx(srs, &wkt, options) != OGRERR_NONE || !wkt) {
        CPLFree(wkt);
        return {};
    }
    std::string text = wkt;
    CPLFree(wkt);
    return text;
}

// The lon/lat box of a raster from points along its four edges (a projected raster's edges curve).
std::optional<LonLatBox> BoxOf(const RasterEntry& entry, void* ct)
{
    constexpr int kSteps = 8;
    std::vector<double> x, y, z;
    for (int i = 0; i <= kSteps; ++i) {
        const double f = static_cast<double>(i) / kSteps;
        const std::array<std::array<double, 2>, 4> points{{{f * entry.width, 0},
                                                           {f * entry.width, double(entry.height)},
                                                           {0, f * entry.height},
                                                           {double(entry.width), f * entry.height}}};
        for (const auto& [px, py] : points) {
            const auto& gt = entry.geoTransform;
            x.push_back(gt[0] + px * gt[1] + py * gt[2]);
            y.push_back(gt[3] + px * gt[4] + py * gt[5]);
            z.push_back(0);
        }
    }
    std::vector<int> ok(x.size(), 0);
    OCTTransformEx(ct, static_cast<int>(x.size()), x.data(), y.data(), z.data(), ok.data());
    std::optional<LonLatBox> box;
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (!ok[i] || !std::isfinite(x[i]) || !std::isfinite(y[i]))
            continue;
        if (!box)
            box = LonLatBox{x[i], y[i], x[i], y[i]};
        box->west = std::min(box->west, x[i]);
        box->east = std::max(box->east, x[i]);
        box->south = std::min(box->south, y[i]);
        box->north = std::max(box->north, y[i]);
    }
    return box;
}

// Why a geotransform cannot place a raster on the Earth, or nothing. Checked before any corner is
// transformed: PROJ wraps a longitude into range a turn at a time, so a corner 1e308 m out never returns.
std::optional<std::string> AbsurdGeoreferencing(const RasterEntry& entry, OGRSpatialReferenceH srs)
{
    const auto& gt = entry.geoTransform;
    if (!std::all_of(gt.begin(), gt.end(), [](double v) { return std::isfinite(v); }))
        return "ihre Geotransformation enthält Werte, die keine Zahlen sind";
    // Axes within a thousandth of a radian of parallel (or a pixel side of zero) enclose no area.
    const double determinant = gt[1] * gt[5] - gt[2] * gt[4];
    if (!(std::abs(determinant) > 1e-3 * (std::abs(gt[1]) + std::abs(gt[2])) * (std::abs(gt[4]) + std::abs(gt[5]))))
        return "ihre Pixel haben keine Fläche";
    // Half a turn beyond either way of a longitude, ten degrees beyond a pole; 1e8 m is two and a
    // half times round the Earth, more than any false easting.
    const bool geographic = OSRIsGeographic(srs);
    const double toDegrees = geographic ? OSRGetAngularUnits(srs, nullptr) * 180 / std::numbers::pi : 0;
    const double toMetres = geographic ? 0 : OSRGetLinearUnits(srs, nullptr);
    for (const double column : {0.0, double(entry.width)})
        for (const double row : {0.0, double(entry.height)}) {
            const double x = gt[0] + column * gt[1] + row * gt[2];
            const double y = gt[3] + column * gt[4] + row * gt[5];
            const bool onEarth = geographic ? std::abs(x * toDegrees) <= 540 && std::abs(y * toDegrees) <= 100
                                            : std::abs(x * toMetres) <= 1e8 && std::abs(y * toMetres) <= 1e8;
            if (!onEarth)
                return "sie reicht weit über die Erde hinaus";
        }
    return std::nullopt;
}

} // namespace

EntryRead ReadEntry(const std::string& path, LonLatTransforms& transforms)
{
    QuietGdal quiet;
    const auto notRaster = [](std::string why) { return EntryRead{std::nullopt, std::move(why), std::nullopt}; };
    Dataset dataset = OpenRaster(path);
    if (!dataset)
        return notRaster("GDAL liest sie nicht als Raster: " + quiet.reason());
    if (auto checked = CheckVrt(path, dataset.get()); !checked)
        return EntryRead{std::nullopt, {}, checked.error()};
    if (GDALGetRasterCount(dataset.get()) < 1)
        return notRaster("sie hat kein Band");
    RasterEntry entry;
    entry.path = path;
    if (GDALGetGeoTransform(dataset.get(), entry.geoTransform.data()) != CE_None)
        return notRaster("sie hat keine Georeferenzierung");
    OGRSpatialReferenceH srs = GDALGetSpatialRef(dataset.get());
    if (!srs)
        return notRaster("sie hat kein Koordinatensystem");
    entry.crs = CrsWkt(srs);
    if (OSRIsVertical(srs) || OSRIsCompound(srs)) {
        const char* authority = OSRGetAuthorityName(srs, "VERT_CS");
        const char* code = OSRGetAuthorityCode(srs, "VERT_CS");
        // The two geoids by the names the user types, so that reports name them alike.
        const std::string named = authority && code ? std::string(authority) + ":" + code : std::string();
        entry.verticalCrs = named == "EPSG:3855" ? "egm2008" : named == "EPSG:5773" ? "egm96" : named;
    }
    entry.width = GDALGetRasterXSize(dataset.get());
    entry.height = GDALGetRasterYSize(dataset.get());
    if (const auto absurd = AbsurdGeoreferencing(entry, srs))
        return EntryRead{std::nullopt,
                         {},
                         Error{TileErrorKind::NotATile,
                               "Die Rasterdatei " + path + " ist unsinnig georeferenziert: " + *absurd + "."}};
    void* ct = entry.crs.empty() ? nullptr : transforms.forCrs(entry.crs);
    auto box = ct ? BoxOf(entry, ct) : std::nullopt;
    if (!box)
        return notRaster("ihr Koordinatensystem lässt sich nicht in Länge und Breite umrechnen");
    entry.box = *box;
    const char* unit = GDALGetRasterUnitType(GDALGetRasterBand(dataset.get(), 1));
    const auto metres = MetresPerUnit(unit ? unit : "");
    if (!metres)
        return EntryRead{std::nullopt,
                         {},
                         Error{TileErrorKind::NotATile, "Die Rasterdatei " + path
                                                            + " gibt ihre Höhen in der unbekannten Einheit \"" + unit
                                                            + "\" an; gelesen werden Höhen in Metern, Fuß oder einer "
                                                              "anderen Längeneinheit."}};
    entry.metresPerUnit = *metres;
    return EntryRead{std::move(entry), {}, std::nullopt};
}

} // namespace hgt
