#pragma once

// Rasters generated with GDAL for the tests of raster sources: a steep terrain written as GeoTIFF,
// and what gdalwarp makes of them on a tile's grid.

#include "rasters/raster_source.h" // TileHeight: a sample rounded as the source rounds it
#include "tiles/tile_folder.h"
#include "tiles/tile_format.h"

#include <cpl_conv.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <numbers>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace hgt {

inline constexpr double kTwoPi = 2 * std::numbers::pi;

// Mountains steep enough that half a pixel of misregistration moves a 3" sample by metres.
inline double Terrain(double lon, double lat)
{
    return 1000 + 600 * std::sin(kTwoPi * 1.7 * lon) * std::cos(kTwoPi * 1.3 * lat)
           + 80 * std::sin(kTwoPi * (23 * lon + 17 * lat)) + 15 * std::cos(kTwoPi * (61 * lon - 47 * lat));
}

struct RasterLayout {
    int width = 0;
    int height = 0;
    std::array<double, 6> geoTransform{}; // GDAL's convention: pixel corners
    GDALDataType type = GDT_Float32;
    std::optional<double> nodata;
    bool pointRegistered = false;
    std::function<bool(int column, int row)> hole; // pixels written as nodata
};

inline void WriteRaster(const std::string& path, const RasterLayout& layout)
{
    GDALAllRegister();
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    const char* options[] = {"TILED=YES", nullptr};
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), layout.width, layout.height, 1,
                                 layout.type, const_cast<char**>(options));
    ASSERT_NE(ds, nullptr) << CPLGetLastErrorMsg();
    // Set before the georeferencing, so that the file's tie point names the pixel centre.
    if (layout.pointRegistered)
        GDALSetMetadataItem(ds, "AREA_OR_POINT", "Point", nullptr);
    GDALSetGeoTransform(ds, const_cast<double*>(layout.geoTransform.data()));
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRImportFromEPSG(srs, 4326);
    GDALSetSpatialRef(ds, srs);
    OSRDestroySpatialReference(srs);
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    if (layout.nodata)
        GDALSetRasterNoDataValue(band, *layout.nodata);
    const auto& gt = layout.geoTransform;
    std::vector<double> row(static_cast<std::size_t>(layout.width));
    for (int r = 0; r < layout.height; ++r) {
        for (int c = 0; c < layout.width; ++c)
            row[static_cast<std::size_t>(c)] = layout.hole && layout.hole(c, r)
                                                   ? *layout.nodata
                                                   : Terrain(gt[0] + (c + 0.5) * gt[1], gt[3] + (r + 0.5) * gt[5]);
        ASSERT_EQ(GDALRasterIO(band, GF_Write, 0, r, layout.width, 1, row.data(), layout.width, 1, GDT_Float64, 0, 0),
                  CE_None);
    }
    GDALClose(ds);
}

// A raster of `perDegree` pixels a degree over [west, east] x [south, north], area-registered.
inline RasterLayout Geographic(double west, double south, double east, double north, double perDegreeX,
                               double perDegreeY)
{
    RasterLayout layout;
    layout.width = static_cast<int>(std::lround((east - west) * perDegreeX));
    layout.height = static_cast<int>(std::lround((north - south) * perDegreeY));
    layout.geoTransform = {west, 1 / perDegreeX, 0, north, 0, -1 / perDegreeY};
    return layout;
}

inline bool HaveGdalwarp()
{
    return std::system("gdalwarp --version > /dev/null 2>&1") == 0;
}

// What gdalwarp makes of the inputs on the tile's grid, rounded like a tile sample; nullopt = no value.
inline std::vector<std::optional<std::int16_t>> Gdalwarp(const std::vector<std::string>& inputs, const std::string& out,
                                                         const TileOrigin& origin, int side)
{
    const double h = 0.5 / (side - 1);
    std::ostringstream command;
    command.precision(17);
    command << "gdalwarp -q -overwrite -t_srs EPSG:4326 -te " << origin.longitude - h << ' ' << origin.latitude - h
            << ' ' << origin.longitude + 1 + h << ' ' << origin.latitude + 1 + h << " -ts " << side << ' ' << side
            << " -r bilinear -ot Float32 -dstnodata -99999";
    for (const auto& input : inputs)
        command << " '" << input << "'";
    command << " '" << out << "'";
    EXPECT_EQ(std::system(command.str().c_str()), 0) << command.str();
    std::vector<std::optional<std::int16_t>> samples(static_cast<std::size_t>(side) * side);
    GDALDatasetH ds = GDALOpen(out.c_str(), GA_ReadOnly);
    if (!ds) {
        ADD_FAILURE() << "gdalwarp wrote nothing";
        return samples;
    }
    std::vector<float> values(samples.size());
    EXPECT_EQ(
        GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Read, 0, 0, side, side, values.data(), side, side, GDT_Float32, 0, 0),
        CE_None);
    GDALClose(ds);
    for (std::size_t i = 0; i < values.size(); ++i)
        if (values[i] != -99999.0f)
            samples[i] = TileHeight(values[i]);
    return samples;
}

} // namespace hgt
