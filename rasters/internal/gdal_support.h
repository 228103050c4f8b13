#pragma once

// GDAL behind handles that close themselves, initialised once, quiet, kept off the network unless
// asked, and the two CRSs a raster source needs.

#include "platform/error.h"

#include <cpl_error.h>
#include <gdal.h>
#include <gdal_alg.h>
#include <ogr_srs_api.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace hgt {

// Registers GDAL's drivers on the first call only: runs without raster sources never pay for it. Every
// call also applies the network rule (NetworkAllowed) and keeps VRT code from running.
void InitialiseGdal();

// Whether rasters may be read over the network: only with HGTFILL_NETWORK=1 in the environment. Off,
// GDAL's network file systems (/vsicurl/, /vsis3/, ...) refuse every path without connecting and the
// drivers that fetch over HTTP themselves are unregistered; on, every HTTP request has time-outs.
bool NetworkAllowed();

// The network path GDAL was last refused on this thread since `since` (see GdalErrorCount), if any.
std::optional<std::string> RefusedNetworkPath(std::uint64_t since);

// GDAL's messages go to the error we return, never to stderr: one process-wide handler (GDAL's worker
// threads report there too) and, for the thread in hand, a quiet one.
class QuietGdal {
public:
    QuietGdal();
    ~QuietGdal() { CPLPopErrorHandler(); }
    QuietGdal(const QuietGdal&) = delete;
    QuietGdal& operator=(const QuietGdal&) = delete;

    // What went wrong, in German, GDAL's own text following in parentheses: this thread's last error,
    // else the last one any thread reported since this object was made.
    std::string reason() const;
    // The last error's raw text, empty when none.
    std::string gdalText() const;

private:
    std::uint64_t m_since;
};

// Opening a raster lists its folder by default, to find side files; in a folder of a thousand
// rasters that is a million names. Asked for by name instead, side files are still found.
class NoFolderListing {
public:
    NoFolderListing();
    ~NoFolderListing();
    NoFolderListing(const NoFolderListing&) = delete;
    NoFolderListing& operator=(const NoFolderListing&) = delete;

private:
    std::optional<std::string> m_before;
};

struct DatasetCloser {
    void operator()(void* dataset) const { GDALClose(dataset); }
};
using Dataset = std::unique_ptr<void, DatasetCloser>;

struct SrsDestroyer {
    void operator()(void* srs) const { OSRDestroySpatialReference(srs); }
};
using Srs = std::unique_ptr<void, SrsDestroyer>;

struct CtDestroyer {
    void operator()(void* ct) const { OCTDestroyCoordinateTransformation(ct); }
};
using Ct = std::unique_ptr<void, CtDestroyer>;

struct TransformerDestroyer {
    void operator()(void* transformer) const { GDALDestroyApproxTransformer(transformer); }
};
using Transformer = std::unique_ptr<void, TransformerDestroyer>;

Dataset OpenRaster(const std::string& path);
// For reading pixels: a GeoTIFF decodes the blocks of one request on all cores (other formats
// ignore the option).
Dataset OpenRasterForPixels(const std::string& path);

// Refuses a VRT (and the VRTs it names, to any depth) that would copy a file that is no raster into
// the tile (a raw band) or run code (a pixel function in Python), or that names a network path while
// the network is off. Other formats pass.
Result<> CheckVrt(const std::string& path, GDALDatasetH dataset);

// Metres per unit of a band's heights from its unit name ("" is metres); nullopt for a unit that is
// not a length GDAL or PROJ names.
std::optional<double> MetresPerUnit(const std::string& unit);

// Longitude east, latitude north, whatever the axis order of EPSG:4326 says.
Srs Wgs84();
// A CRS from "EPSG:<code>" or WKT, in longitude/easting first order; null when GDAL cannot read it.
Srs SrsFromText(const std::string& text);

} // namespace hgt
