#pragma once

// The index of a raster source: each raster's header, read once, with its extent in lon/lat.

#include "rasters/internal/gdal_support.h"
#include "rasters/internal/raster_paths.h"

#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace hgt {

struct LonLatBox {
    double west = 0, south = 0, east = 0, north = 0;
    bool intersects(const LonLatBox& other) const
    {
        return west < other.east && other.west < east && south < other.north && other.south < north;
    }
};

struct RasterEntry {
    std::string path;
    std::string crs; // "EPSG:<code>" or WKT
    std::array<double, 6> geoTransform{};
    int width = 0;
    int height = 0;
    LonLatBox box;
    double metresPerUnit = 1; // of the first band's heights
    std::string verticalCrs;  // "EPSG:7837", "egm2008": the vertical system the georeferencing names
};

// Transformations to lon/lat by CRS: a folder of rasters mostly shares one or two.
class LonLatTransforms {
public:
    // Null when the CRS cannot be turned into lon/lat.
    void* forCrs(const std::string& wkt)
    {
        auto found = m_transforms.find(wkt);
        if (found != m_transforms.end())
            return found->second.get();
        Ct ct;
        if (Srs source = SrsFromText(wkt))
            ct.reset(OCTNewCoordinateTransformation(source.get(), m_wgs84.get()));
        return m_transforms.emplace(wkt, std::move(ct)).first->second.get();
    }

private:
    Srs m_wgs84 = Wgs84();
    std::map<std::string, Ct> m_transforms;
};

// The header of one raster, or why it is none: `refused` for a raster that must not be read (heights in
// an unknown unit, georeferencing that places it nowhere on the Earth, a VRT that copies other files or
// runs code); a folder of rasters skips only the others.
struct EntryRead {
    std::optional<RasterEntry> entry;
    std::string whyNot; // German, e.g. "sie hat keine Georeferenzierung"
    std::optional<Error> refused;
};
EntryRead ReadEntry(const std::string& path, LonLatTransforms& transforms);

} // namespace hgt
