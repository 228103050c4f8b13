#pragma once

// GDAL behind handles that close themselves, initialised once, quiet, and the two CRSs a raster
// source needs.

#include <cpl_error.h>
#include <gdal.h>
#include <gdal_alg.h>
#include <ogr_srs_api.h>

#include <memory>
#include <optional>
#include <string>

namespace hgt {

// Registers GDAL's drivers on the first call only: runs without raster sources never pay for it.
void InitialiseGdal();

// GDAL's messages go to the error we return, not to stderr.
class QuietGdal {
public:
    QuietGdal()
    {
        CPLPushErrorHandler(CPLQuietErrorHandler);
        CPLErrorReset();
    }
    ~QuietGdal() { CPLPopErrorHandler(); }
    QuietGdal(const QuietGdal&) = delete;
    QuietGdal& operator=(const QuietGdal&) = delete;

    static std::string lastMessage();
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

// Longitude east, latitude north, whatever the axis order of EPSG:4326 says.
Srs Wgs84();
// A CRS from "EPSG:<code>" or WKT, in longitude/easting first order; null when GDAL cannot read it.
Srs SrsFromText(const std::string& text);

} // namespace hgt
