#include "rasters/height_conversion.h"
#include "rasters/raster_plugin.h"
#include "rasters/raster_tile_source.h"

#include <exception>
#include <string>
#include <type_traits>

namespace {

// What every entry point does around its work: a plugin of another version refuses, and no exception
// crosses into the loading program ("Interner Fehler bei <subject>").
template <class Outcome, class Work>
void Guarded(int version, Outcome* result, const std::string& subject, Work&& work)
{
    using namespace hgt;
    if (version != kRasterPluginVersion) {
        *result = Error{ErrorKind::Internal,
                        std::string(kRasterPluginFile) + " passt nicht zu diesem Programm (Version "
                            + std::to_string(kRasterPluginVersion) + " statt " + std::to_string(version) + ")"};
        return;
    }
    try {
        *result = work();
    } catch (const std::exception& error) {
        *result = Error{ErrorKind::Internal, "Interner Fehler " + subject + ": " + error.what()};
    } catch (...) {
        *result = Error{ErrorKind::Internal, "Interner Fehler " + subject};
    }
}

} // namespace

// Looked up with dlsym by the names in raster_plugin.h; the signatures are checked there at compile time.
extern "C" __attribute__((visibility("default"))) void hgtfill_open_raster_source(int version, const std::string* path,
                                                                                  hgt::RasterSourceResult* result)
{
    static_assert(std::is_same_v<decltype(&hgtfill_open_raster_source), hgt::RasterPluginEntry>);
    Guarded(version, result, "bei der Rasterquelle " + *path, [&] { return hgt::OpenRasterTileSource(*path); });
}

extern "C" __attribute__((visibility("default"))) void hgtfill_open_height_conversion(int version,
                                                                                      const std::string* source,
                                                                                      const std::string* tile,
                                                                                      hgt::ConversionResult* result)
{
    static_assert(std::is_same_v<decltype(&hgtfill_open_height_conversion), hgt::ConversionEntry>);
    Guarded(version, result, "beim Höhenbezug " + *source, [&] { return hgt::OpenHeightConversion(*source, *tile); });
}
