#include "rasters/raster_sources.h"

#include "platform/file_system.h"
#include "platform/shared_library.h"
#include "rasters/raster_plugin.h"
#include "rasters/raster_source.h"

#include <cstdlib>

namespace hgt {

namespace {

bool g_loaded = false;

struct PluginEntries {
    RasterPluginEntry raster = nullptr;
    ConversionEntry conversion = nullptr;
};

// The plugin's entries, or why they cannot be had; loaded once for the life of the process.
const Result<PluginEntries>& Plugin()
{
    static const Result<PluginEntries> entry = []() -> Result<PluginEntries> {
#ifdef HGTFILL_NO_RASTERS
        return Error{ErrorKind::NotFound, "Diese Ausgabe von hgtfill hat keine Rasterquellen (GeoTIFF, VRT, …); "
                                          "nur Ordner mit HGT-Kacheln können Quellen sein"};
#else
        std::string reasons;
        std::string looked;
        for (const std::string& candidate : RasterPluginCandidates()) {
            looked += (looked.empty() ? "" : ", ") + candidate;
            if (!FileExists(candidate))
                continue;
            const Result<SharedLibrary> library = SharedLibrary::load(candidate);
            if (!library) {
                reasons += "; " + library.error().message;
                continue;
            }
            g_loaded = true;
            void* raster = library->symbol(kRasterPluginEntry);
            void* conversion = library->symbol(kConversionEntry);
            if (raster && conversion)
                return PluginEntries{reinterpret_cast<RasterPluginEntry>(raster),
                                     reinterpret_cast<ConversionEntry>(conversion)};
            reasons += "; " + candidate + " ohne " + (raster ? kConversionEntry : kRasterPluginEntry);
        }
        if (reasons.empty())
            reasons = "; " + std::string(kRasterPluginFile) + " nicht gefunden (gesucht: " + looked + ")";
        return Error{ErrorKind::NotFound, "Rasterquellen können nicht gelesen werden: " + reasons.substr(2)};
#endif
    }();
    return entry;
}

} // namespace

bool IsRasterSource(const std::string& path)
{
    return RasterSource::looksLikeRasterSource(path);
}

std::vector<std::string> RasterPluginCandidates()
{
    std::vector<std::string> candidates;
    if (const char* chosen = std::getenv("HGTFILL_RASTER_PLUGIN"); chosen && *chosen)
        candidates.emplace_back(chosen);
    if (const std::string folder = ExecutableFolder(); !folder.empty()) {
        candidates.push_back(folder + "/" + kRasterPluginFile);
        candidates.push_back(folder + "/" HGTFILL_PLUGIN_FROM_BINDIR "/" + kRasterPluginFile);
    }
    return candidates;
}

Result<std::shared_ptr<const TileSource>> OpenRasterSource(const std::string& path)
{
    const Result<PluginEntries>& entry = Plugin();
    if (!entry)
        return entry.error();
    RasterSourceResult result = Error{ErrorKind::Internal, "Rasterquelle " + path + " nicht geöffnet"};
    entry->raster(kRasterPluginVersion, &path, &result);
    return result;
}

Result<std::vector<FillSource>> OpenFillSources(const std::vector<std::string>& paths)
{
    std::vector<bool> raster;
    // A raster file that has gone is a raster source that cannot be opened, not a folder without tiles.
    for (const std::string& path : paths)
        raster.push_back(IsRasterSource(path) || (IsRasterPath(path) && !EntryExists(path)));
    std::vector<FillSource> sources;
    for (std::size_t s = 0; s < paths.size(); ++s) {
        if (!raster[s]) {
            sources.push_back({paths[s], nullptr});
            continue;
        }
        Result<std::shared_ptr<const TileSource>> opened = OpenRasterSource(paths[s]);
        if (!opened)
            return opened.error();
        sources.push_back({paths[s], std::move(*opened)});
    }
    return sources;
}

Result<> PrepareConversions(std::vector<FillSource>& sources, const std::string& tileDatum)
{
    if (!ConvertsHeights(sources, tileDatum))
        return {};
#ifdef HGTFILL_NO_RASTERS
    return Error{ErrorKind::NotFound, "Diese Ausgabe von hgtfill rechnet keine Höhenbezüge um (EGM2008, ellipsoidische "
                                      "Höhen, …); nur Quellen im Höhenbezug der Kacheln können Quellen sein"};
#else
    const Result<PluginEntries>& entry = Plugin();
    if (!entry)
        return entry.error();
    for (FillSource& source : sources) {
        source.conversion.reset();
        const std::string datum = !source.datum.empty() ? source.datum
                                  : source.tiles ? source.tiles->verticalDatum()
                                                 : std::string();
        if (datum.empty())
            continue;
        ConversionResult result = Error{ErrorKind::Internal, "Höhenbezug " + datum + " nicht geöffnet"};
        entry->conversion(kRasterPluginVersion, &datum, &tileDatum, &result);
        if (!result)
            return result.error();
        source.conversion = std::move(*result);
    }
    return {};
#endif
}

bool RasterPluginLoaded()
{
    return g_loaded;
}

} // namespace hgt
