#include "rasters/raster_sources.h"

#include "platform/file_system.h"
#include "platform/shared_library.h"
#include "rasters/raster_plugin.h"
#include "rasters/raster_source.h"

#include <cstdlib>
#include <future>
#include <optional>
#include <system_error>

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

namespace {

// The conversion from `datum` to the tiles' datum through the plugin: null where the heights need none.
ConversionResult OpenConversion(const PluginEntries& entry, const std::string& datum, const std::string& tileDatum)
{
    ConversionResult result = Error{ErrorKind::Internal, "Höhenbezug " + datum + " nicht geöffnet"};
    entry.conversion(kRasterPluginVersion, &datum, &tileDatum, &result);
    return result;
}

// The conversions of the datums given for sources, started beside the opening of the rasters: PROJ's
// search for them takes about as long as GDAL's opening. Where no thread is to be had, they are made
// when taken.
class EarlyConversions {
public:
    EarlyConversions(const PluginEntries* entry, const std::vector<FillSource>& wanted, const std::string& tileDatum)
    {
        for (const FillSource& source : wanted) {
            if (!entry || source.datum.empty()) {
                m_made.emplace_back();
                continue;
            }
            const auto make = [entry, datum = source.datum, tileDatum] {
                return OpenConversion(*entry, datum, tileDatum);
            };
            try {
                m_made.push_back(std::async(std::launch::async, make));
            } catch (const std::system_error&) {
                m_made.push_back(std::async(std::launch::deferred, make));
            }
        }
    }

    // The conversion for source s, once made; nullopt where none was started for it.
    std::optional<ConversionResult> take(std::size_t s)
    {
        if (s >= m_made.size() || !m_made[s].valid())
            return std::nullopt;
        return m_made[s].get();
    }

private:
    std::vector<std::future<ConversionResult>> m_made;
};

} // namespace

Result<std::vector<FillSource>> OpenFillSources(const std::vector<FillSource>& wanted, const std::string& tileDatum)
{
    const bool converts = ConvertsHeights(wanted, tileDatum);
    const PluginEntries* entry = nullptr;
#ifndef HGTFILL_NO_RASTERS
    if (converts) {
        if (const Result<PluginEntries>& loaded = Plugin(); loaded)
            entry = &*loaded;
        else
            return loaded.error();
    }
#endif
    EarlyConversions early(entry, wanted, tileDatum);

    std::vector<FillSource> sources;
    for (const FillSource& source : wanted) {
        // A raster file that has gone is a raster source that cannot be opened, not a folder without tiles.
        const std::string& path = source.folder;
        const bool raster = IsRasterSource(path) || (IsRasterPath(path) && !EntryExists(path));
        sources.push_back({path, nullptr, source.datum});
        if (!raster)
            continue;
        Result<std::shared_ptr<const TileSource>> opened = OpenRasterSource(path);
        if (!opened)
            return opened.error();
        sources.back().tiles = std::move(*opened);
    }
    if (!converts)
        return sources;
#ifdef HGTFILL_NO_RASTERS
    return Error{ErrorKind::NotFound, "Diese Ausgabe von hgtfill rechnet keine Höhenbezüge um (EGM2008, ellipsoidische "
                                      "Höhen, …); nur Quellen im Höhenbezug der Kacheln können Quellen sein"};
#else
    // Each source in another datum than the tiles gets its conversion: the datum given for it, else the
    // one its rasters name, else none. The first that cannot be made is the error.
    for (std::size_t s = 0; s < sources.size(); ++s) {
        FillSource& source = sources[s];
        std::optional<ConversionResult> made = early.take(s);
        if (!made && source.tiles && !source.tiles->verticalDatum().empty())
            made = OpenConversion(*entry, source.tiles->verticalDatum(), tileDatum);
        if (!made)
            continue;
        if (!*made)
            return made->error();
        source.conversion = std::move(**made);
    }
    return sources;
#endif
}

bool RasterPluginLoaded()
{
    return g_loaded;
}

} // namespace hgt
