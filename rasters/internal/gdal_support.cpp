#include "rasters/internal/gdal_support.h"

#include <cpl_conv.h>

#include <cstdint>
#include <mutex>

namespace hgt {

void InitialiseGdal()
{
    static std::once_flag once;
    std::call_once(once, [] {
        GDALAllRegister();
        // The passes read each block a few times; a modest cache holds a row of blocks without
        // letting GDAL take its default share of the machine's memory.
        if (!CPLGetConfigOption("GDAL_CACHEMAX", nullptr))
            GDALSetCacheMax64(std::int64_t{24} << 20);
    });
}

std::string QuietGdal::lastMessage()
{
    const char* message = CPLGetLastErrorMsg();
    return message && *message ? message : "unbekannter Fehler";
}

NoFolderListing::NoFolderListing()
{
    const char* before = CPLGetThreadLocalConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", nullptr);
    if (before)
        m_before = before;
    CPLSetThreadLocalConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", "TRUE");
}

NoFolderListing::~NoFolderListing()
{
    CPLSetThreadLocalConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", m_before ? m_before->c_str() : nullptr);
}

Dataset OpenRaster(const std::string& path)
{
    return Dataset(GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
}

Dataset OpenRasterForPixels(const std::string& path)
{
    const char* options[] = {"NUM_THREADS=ALL_CPUS", nullptr};
    return Dataset(GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, options, nullptr));
}

Srs Wgs84()
{
    Srs srs(OSRNewSpatialReference(nullptr));
    OSRImportFromEPSG(srs.get(), 4326);
    OSRSetAxisMappingStrategy(srs.get(), OAMS_TRADITIONAL_GIS_ORDER);
    return srs;
}

Srs SrsFromText(const std::string& text)
{
    Srs srs(OSRNewSpatialReference(nullptr));
    if (OSRSetFromUserInput(srs.get(), text.c_str()) != OGRERR_NONE)
        return nullptr;
    OSRSetAxisMappingStrategy(srs.get(), OAMS_TRADITIONAL_GIS_ORDER);
    return srs;
}

} // namespace hgt
