#include "rasters/height_conversion.h"
#include "rasters/raster_plugin.h"
#include "rasters/raster_tile_source.h"

#include <exception>
#include <type_traits>

// Looked up with dlsym by the name in raster_plugin.h; the signature is checked there at compile time.
extern "C" __attribute__((visibility("default"))) void hgtfill_open_raster_source(int version, const std::string* path,
                                                                                  hgt::RasterSourceResult* result)
{
    using namespace hgt;
    static_assert(std::is_same_v<decltype(&hgtfill_open_raster_source), RasterPluginEntry>);
    if (version != kRasterPluginVersion) {
        *result = Error{ErrorKind::Internal,
                        std::string(kRasterPluginFile) + " passt nicht zu diesem Programm (Version "
                            + std::to_string(kRasterPluginVersion) + " statt " + std::to_string(version) + ")"};
        return;
    }
    // No exception may cross into the loading program.
    try {
        *result = OpenRasterTileSource(*path);
    } catch (const std::exception& error) {
        *result = Error{ErrorKind::Internal, "Interner Fehler bei der Rasterquelle " + *path + ": " + error.what()};
    } catch (...) {
        *result = Error{ErrorKind::Internal, "Interner Fehler bei der Rasterquelle " + *path};
    }
}

extern "C" __attribute__((visibility("default"))) void hgtfill_open_height_conversion(int version,
                                                                                      const std::string* source,
                                                                                      const std::string* tile,
                                                                                      hgt::ConversionResult* result)
{
    using namespace hgt;
    static_assert(std::is_same_v<decltype(&hgtfill_open_height_conversion), ConversionEntry>);
    if (version != kRasterPluginVersion) {
        *result = Error{ErrorKind::Internal,
                        std::string(kRasterPluginFile) + " passt nicht zu diesem Programm (Version "
                            + std::to_string(kRasterPluginVersion) + " statt " + std::to_string(version) + ")"};
        return;
    }
    try {
        *result = OpenHeightConversion(*source, *tile);
    } catch (const std::exception& error) {
        *result = Error{ErrorKind::Internal, "Interner Fehler beim Höhenbezug " + *source + ": " + error.what()};
    } catch (...) {
        *result = Error{ErrorKind::Internal, "Interner Fehler beim Höhenbezug " + *source};
    }
}
