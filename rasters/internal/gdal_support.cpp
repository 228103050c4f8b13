#include "rasters/internal/gdal_support.h"

#include "platform/file_system.h"
#include "tiles/tile_error.h"

#include <cpl_conv.h>
#include <cpl_minixml.h>
#include <cpl_vsi_virtual.h>

#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string_view>
#include <vector>

namespace hgt {

namespace {

// The last error any thread reported, for failures whose reason was reported on a decoding thread.
struct ErrorRecord {
    std::mutex mutex;
    std::string text;
    CPLErrorNum number = CPLE_None;
    std::atomic<std::uint64_t> count{0};
    std::string refusedPath; // the last network path refused, with the count it was refused at
    std::uint64_t refusedAt = 0;
};

ErrorRecord& Errors()
{
    static ErrorRecord record;
    return record;
}

void CPL_STDCALL RecordError(CPLErr level, CPLErrorNum number, const char* text)
{
    if (level < CE_Failure)
        return;
    ErrorRecord& errors = Errors();
    std::lock_guard lock(errors.mutex);
    errors.text = text ? text : "";
    errors.number = number;
    ++errors.count;
}

std::atomic<bool> g_networkAllowed{false};

// How a refusal for the network says why, after the address.
const char kNetworkOff[] = ", und Netzwerkzugriff ist ausgeschaltet (HGTFILL_NETWORK=1 schaltet ihn ein)";

void RecordRefusal(const char* path)
{
    CPLError(CE_Failure, CPLE_OpenFailed, "network access is off: %s", path);
    ErrorRecord& errors = Errors();
    std::lock_guard lock(errors.mutex);
    errors.refusedPath = path;
    errors.refusedAt = ++errors.count;
}

// Stands in front of one of GDAL's network file systems: while the network is off it refuses every
// path before a connection is made, whatever GDAL's options or the environment say.
class NetworkGate final : public VSIFilesystemHandler {
public:
    explicit NetworkGate(VSIFilesystemHandler* inner) : m_inner(inner) {}

    VSIVirtualHandle* Open(const char* path, const char* access, bool setError, CSLConstList options) override
    {
        if (!g_networkAllowed) {
            RecordRefusal(path);
            errno = EACCES;
            return nullptr;
        }
        return m_inner->Open(path, access, setError, options);
    }
    int Stat(const char* path, VSIStatBufL* buffer, int flags) override
    {
        if (!g_networkAllowed) {
            RecordRefusal(path);
            errno = EACCES;
            return -1;
        }
        return m_inner->Stat(path, buffer, flags);
    }
    char** ReadDirEx(const char* path, int maxFiles) override
    {
        return g_networkAllowed ? m_inner->ReadDirEx(path, maxFiles) : nullptr;
    }
    char** SiblingFiles(const char* path) override { return g_networkAllowed ? m_inner->SiblingFiles(path) : nullptr; }
    VSIDIR* OpenDir(const char* path, int depth, const char* const* options) override
    {
        return g_networkAllowed ? m_inner->OpenDir(path, depth, options) : nullptr;
    }
    int IsCaseSensitive(const char* path) override { return m_inner->IsCaseSensitive(path); }
    int HasOptimizedReadMultiRange(const char* path) override { return m_inner->HasOptimizedReadMultiRange(path); }
    const char* GetActualURL(const char* path) override { return m_inner->GetActualURL(path); }
    const char* GetOptions() override { return m_inner->GetOptions(); }
    std::string GetStreamingFilename(const std::string& path) const override
    {
        return m_inner->GetStreamingFilename(path);
    }
    bool IsLocal(const char*) override { return false; }

private:
    VSIFilesystemHandler* m_inner;
};

// GDAL's file systems that reach the network, streaming forms included; whatever else GDAL has that is
// not local is gated too.
constexpr std::array kNetworkPrefixes{"/vsicurl/",
                                      "/vsicurl_streaming/",
                                      "/vsis3/",
                                      "/vsis3_streaming/",
                                      "/vsigs/",
                                      "/vsigs_streaming/",
                                      "/vsiaz/",
                                      "/vsiaz_streaming/",
                                      "/vsiadls/",
                                      "/vsioss/",
                                      "/vsioss_streaming/",
                                      "/vsiswift/",
                                      "/vsiswift_streaming/",
                                      "/vsiwebhdfs/",
                                      "/vsihdfs/"};

// Drivers that fetch over HTTP or talk to servers themselves, from a local file or a source name.
constexpr std::array kNetworkDrivers{"WMS",           "WMTS",          "WCS",        "HTTP",         "DAAS",   "EEDA",
                                     "EEDAI",         "PLMOSAIC",      "OGCAPI",     "STACTA",       "STACIT", "NGW",
                                     "PLSCENES",      "PostGISRaster", "GeoRaster",  "WFS",          "OAPIF",  "CSW",
                                     "Elasticsearch", "CARTO",         "AmigoCloud", "MSSQLSpatial", "MySQL",  "OCI",
                                     "PostgreSQL",    "MongoDBv3",     "HANA",       "TileDB"};

void GateNetworkFileSystems()
{
    std::set<std::string> prefixes(kNetworkPrefixes.begin(), kNetworkPrefixes.end());
    char** all = VSIFileManager::GetPrefixes();
    for (char** p = all; p && *p; ++p)
        if (VSIFilesystemHandler* handler = VSIFileManager::GetHandler(*p);
            handler && !handler->IsLocal((std::string(*p) + "x").c_str()))
            prefixes.insert(*p);
    CSLDestroy(all);
    for (const std::string& prefix : prefixes) {
        VSIFilesystemHandler* handler = VSIFileManager::GetHandler(prefix.c_str());
        // An unknown prefix falls through to the local file system: nothing to gate.
        if (!handler || handler == VSIFileManager::GetHandler("/"))
            continue;
        VSIFileManager::InstallHandler(prefix, new NetworkGate(handler)); // lives as long as GDAL
    }
}

// Unregisters the network drivers, or registers them again.
void ApplyDriverRule(bool allowed)
{
    // Never destroyed: the drivers it holds live as long as the process, like those GDAL holds.
    static auto& removed = *new std::vector<GDALDriverH>;
    if (allowed) {
        for (GDALDriverH driver : removed)
            if (!GDALGetDriverByName(GDALGetDriverShortName(driver)))
                GDALRegisterDriver(driver);
        removed.clear();
        return;
    }
    for (const char* name : kNetworkDrivers)
        if (GDALDriverH driver = GDALGetDriverByName(name)) {
            GDALDeregisterDriver(driver);
            removed.push_back(driver);
        }
}

void ApplyNetworkRule()
{
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    const char* chosen = std::getenv("HGTFILL_NETWORK");
    const bool allowed = chosen && std::string_view(chosen) == "1";
    // The drivers every time: GDALAllRegister elsewhere in the process registers them again.
    ApplyDriverRule(allowed);
    static std::optional<bool> applied;
    if (applied == allowed)
        return;
    applied = allowed;
    g_networkAllowed = allowed;
    OSRSetPROJEnableNetwork(allowed ? TRUE : FALSE);
    if (allowed) {
        // A server that accepts and never answers must not hold a run forever.
        for (const auto& [name, value] :
             {std::pair{"GDAL_HTTP_CONNECTTIMEOUT", "15"}, std::pair{"GDAL_HTTP_TIMEOUT", "60"},
              std::pair{"GDAL_HTTP_MAX_RETRY", "2"}, std::pair{"GDAL_HTTP_LOW_SPEED_TIME", "30"},
              std::pair{"GDAL_HTTP_LOW_SPEED_LIMIT", "1"}})
            if (const char* set = CPLGetConfigOption(name, nullptr); !set || std::atoi(set) <= 0)
                CPLSetConfigOption(name, value);
    }
}

} // namespace

void InitialiseGdal()
{
    static std::once_flag once;
    std::call_once(once, [] {
        GDALAllRegister();
        // The passes read each block a few times; a modest cache holds a row of blocks without
        // letting GDAL take its default share of the machine's memory.
        if (!CPLGetConfigOption("GDAL_CACHEMAX", nullptr))
            GDALSetCacheMax64(std::int64_t{24} << 20);
        CPLSetErrorHandler(RecordError);
        // A raster is data: its pixel functions never run code, whatever the environment says (a
        // config option set here wins over the environment).
        CPLSetConfigOption("GDAL_VRT_ENABLE_PYTHON", "NO");
        GateNetworkFileSystems();
    });
    ApplyNetworkRule();
}

bool NetworkAllowed()
{
    return g_networkAllowed;
}

std::optional<std::string> RefusedNetworkPath(std::uint64_t since)
{
    ErrorRecord& errors = Errors();
    std::lock_guard lock(errors.mutex);
    if (errors.refusedAt <= since)
        return std::nullopt;
    return errors.refusedPath;
}

QuietGdal::QuietGdal() : m_since(Errors().count)
{
    CPLPushErrorHandler(CPLQuietErrorHandler);
    CPLErrorReset();
}

std::string QuietGdal::gdalText() const
{
    if (const char* message = CPLGetLastErrorMsg(); message && *message)
        return message;
    ErrorRecord& errors = Errors();
    std::lock_guard lock(errors.mutex);
    return errors.count > m_since ? errors.text : std::string();
}

std::string QuietGdal::reason() const
{
    if (const auto refused = RefusedNetworkPath(m_since))
        return "sie verweist auf die Netzwerkadresse " + *refused + kNetworkOff;
    CPLErrorNum number = CPLGetLastErrorNo();
    std::string text = gdalText();
    if (number == CPLE_None && !text.empty()) {
        ErrorRecord& errors = Errors();
        std::lock_guard lock(errors.mutex);
        number = errors.number;
    }
    std::string german;
    switch (number) {
    case CPLE_None:
        return "GDAL nennt keinen Grund";
    case CPLE_OpenFailed:
        german = "eine Datei lässt sich nicht öffnen";
        break;
    case CPLE_FileIO:
        german = "Lesefehler, die Datei ist beschädigt oder unvollständig";
        break;
    case CPLE_OutOfMemory:
        german = "zu wenig Arbeitsspeicher";
        break;
    case CPLE_NotSupported:
        german = "sie enthält etwas, das GDAL nicht unterstützt";
        break;
    case CPLE_UserInterrupt:
        german = "angehalten";
        break;
    case CPLE_HttpResponse:
        german = "Netzwerkfehler";
        break;
    default:
        german = "die Datei ist beschädigt, unvollständig oder unverständlich";
        break;
    }
    return text.empty() ? german : german + " (" + text + ")";
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

namespace {

struct XmlDestroyer {
    void operator()(CPLXMLNode* node) const { CPLDestroyXMLNode(node); }
};
using Xml = std::unique_ptr<CPLXMLNode, XmlDestroyer>;

constexpr int kDeepestVrt = 16;

bool NamesNetwork(const std::string& name)
{
    for (const char* prefix : kNetworkPrefixes)
        if (name.find(std::string_view(prefix).substr(0, std::string_view(prefix).size() - 1)) != std::string::npos)
            return true;
    return name.find("://") != std::string::npos && !name.starts_with("vrt://");
}

bool IsVrtFile(const std::string& path)
{
    const char* only[] = {"VRT", nullptr};
    return GDALIdentifyDriverEx(path.c_str(), GDAL_OF_RASTER, only, nullptr) != nullptr;
}

bool IsRaster(const std::string& path)
{
    return GDALIdentifyDriverEx(path.c_str(), GDAL_OF_RASTER, nullptr, nullptr) != nullptr;
}

// Checks the VRT `root` read from `file` (relative names are relative to `folder`) and the VRTs it names.
class VrtCheck {
public:
    explicit VrtCheck(std::string top) : m_top(std::move(top)) {}

    Result<> file(const std::string& path, int depth)
    {
        if (depth > kDeepestVrt || !m_seen.insert(path).second)
            return {};
        Xml root(CPLParseXMLFile(path.c_str()));
        if (!root)
            return {}; // GDAL reports what it cannot read when it opens the file
        return tree(root.get(), CPLGetPath(path.c_str()), depth);
    }

private:
    Result<> tree(const CPLXMLNode* node, const std::string& folder, int depth)
    {
        for (; node; node = node->psNext) {
            if (node->eType != CXT_Element)
                continue;
            if (EQUAL(node->pszValue, "VRTRasterBand"))
                if (auto band = this->band(node, folder); !band)
                    return band;
            if (EQUAL(node->pszValue, "SourceFilename") || EQUAL(node->pszValue, "SourceDataset"))
                if (auto source = this->source(node, folder, depth); !source)
                    return source;
            if (auto below = tree(node->psChild, folder, depth); !below)
                return below;
        }
        return {};
    }

    static std::string nameOf(const CPLXMLNode* node, const std::string& folder)
    {
        const char* name = CPLGetXMLValue(node, nullptr, "");
        if (CPLTestBool(CPLGetXMLValue(node, "relativeToVRT", "0")) && CPLIsFilenameRelative(name))
            return CPLProjectRelativeFilename(folder.c_str(), name);
        return name;
    }

    Result<> band(const CPLXMLNode* node, const std::string& folder)
    {
        const char* kind = CPLGetXMLValue(node, "subClass", "");
        if (EQUAL(kind, "VRTDerivedRasterBand")
            && (EQUAL(CPLGetXMLValue(node, "PixelFunctionLanguage", ""), "Python")
                || CPLGetXMLNode(node, "PixelFunctionCode")))
            return Error{TileErrorKind::NotATile,
                         "Die Rasterdatei " + m_top
                             + " enthält Python-Code als Pixelfunktion; Code aus Rasterdateien "
                               "wird nicht ausgeführt."};
        if (EQUAL(kind, "VRTRawRasterBand")) {
            const CPLXMLNode* file = CPLGetXMLNode(node, "SourceFilename");
            const std::string raw = file ? nameOf(file, folder) : std::string();
            if (!NetworkAllowed() && NamesNetwork(raw))
                return networkRefused(raw);
            if (raw.empty() || !IsRaster(raw))
                return Error{TileErrorKind::NotATile, "Die Rasterdatei " + m_top + " liest die Datei " + raw
                                                          + " roh als Höhen, und die ist keine Rasterdatei; so ein "
                                                            "Verweis wird nicht gelesen."};
        }
        return {};
    }

    Result<> source(const CPLXMLNode* node, const std::string& folder, int depth)
    {
        const std::string name = nameOf(node, folder);
        if (!NetworkAllowed() && NamesNetwork(name))
            return networkRefused(name);
        if (name.starts_with("<")) { // a VRT written inline
            Xml inner(CPLParseXMLString(name.c_str()));
            return inner && depth < kDeepestVrt ? tree(inner.get(), folder, depth + 1) : Result<>{};
        }
        std::string path = name;
        if (path.starts_with("vrt://"))
            path = path.substr(6, path.find('?') == std::string::npos ? std::string::npos : path.find('?') - 6);
        // A plain file name (not "NETCDF:file:var" and the like) that names nothing is said here, by name.
        VSIStatBufL stat;
        if (!path.empty() && path.find(':') == std::string::npos && VSIStatL(path.c_str(), &stat) != 0)
            return Error{ErrorKind::NotFound,
                         "Die Rasterdatei " + m_top + " verweist auf die Datei " + path + ", die es nicht gibt."};
        if (IsVrtFile(path))
            return file(path, depth + 1);
        return {};
    }

    Error networkRefused(const std::string& name) const
    {
        return Error{TileErrorKind::NotATile,
                     "Die Rasterdatei " + m_top + " verweist auf die Netzwerkadresse " + name + kNetworkOff + "."};
    }

    std::string m_top;
    std::set<std::string> m_seen;
};

} // namespace

Result<> CheckVrt(const std::string& path, GDALDatasetH dataset)
{
    GDALDriverH driver = GDALGetDatasetDriver(dataset);
    if (!driver || !EQUAL(GDALGetDriverShortName(driver), "VRT"))
        return {};
    return VrtCheck(path).file(path, 0);
}

std::optional<double> MetresPerUnit(const std::string& unit)
{
    struct Unit {
        const char* name;
        double metres;
    };
    constexpr double kUsFoot = 1200.0 / 3937.0;
    static constexpr Unit kUnits[] = {
        {"", 1},
        {"m", 1},
        {"metre", 1},
        {"meter", 1},
        {"metres", 1},
        {"meters", 1},
        {"km", 1000},
        {"kilometre", 1000},
        {"kilometer", 1000},
        {"dm", 0.1},
        {"decimetre", 0.1},
        {"decimeter", 0.1},
        {"cm", 0.01},
        {"centimetre", 0.01},
        {"centimeter", 0.01},
        {"mm", 0.001},
        {"millimetre", 0.001},
        {"millimeter", 0.001},
        {"ft", 0.3048},
        {"foot", 0.3048},
        {"feet", 0.3048},
        {"international foot", 0.3048},
        {"ft-i", 0.3048},
        {"us-ft", kUsFoot},
        {"ftus", kUsFoot},
        {"us_ft", kUsFoot},
        {"us survey foot", kUsFoot},
        {"us foot", kUsFoot},
        {"foot_us", kUsFoot},
        {"foot (us survey)", kUsFoot},
        {"survey foot", kUsFoot},
        {"us-yd", 3 * kUsFoot},
        {"yd", 0.9144},
        {"yard", 0.9144},
        {"fathom", 1.8288},
    };
    std::string trimmed = unit;
    while (!trimmed.empty() && std::isspace(static_cast<unsigned char>(trimmed.back())))
        trimmed.pop_back();
    while (!trimmed.empty() && std::isspace(static_cast<unsigned char>(trimmed.front())))
        trimmed.erase(trimmed.begin());
    for (const Unit& known : kUnits)
        if (EQUAL(trimmed.c_str(), known.name))
            return known.metres;
    return std::nullopt;
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
