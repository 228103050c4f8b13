// Times a raster source against gdalwarp, each in a child process of its own so that its peak memory
// is its own:
//   raster_bench [FOLDER]   makes (once) four Copernicus-like Float32 deflate GeoTIFFs around N47E011
//                           and 1,000 small GeoTIFFs in ETRS89/UTM 32N below FOLDER (default
//                           /tmp/hgtfill-raster-bench), then prints the best and the median of 5 runs of:
//                           the 1" source tile N47E011 from the four (whole, and only the samples of a
//                           void patch), the gdalwarp command for the same tile, and indexing the 1,000.
// The children: raster_bench --tile|--patch|--index FOLDER, each started by raster_bench --measure.
//   raster_bench FOLDER HGTFILL-CLI   also times the whole fill of a 1" tile with 14 % voids from the
//                           four, with --datum egm2008 (a test grid written into a PROJ folder of the
//                           bench's own) and without, alternating, and prints the medians and their ratio.

#include "rasters/raster_source.h"

#include <gdal.h>
#include <ogr_srs_api.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kRuns = 5;

double Height(double x, double y)
{
    const double broad = 1400 + 900 * std::sin(6.1 * x + 1.3) * std::cos(4.7 * y) + 300 * std::sin(23 * x * y + 9 * y);
    // A little hash noise, so that deflate sees what it sees in measured heights.
    std::uint32_t h = static_cast<std::uint32_t>(x * 3600 * 7919 + y * 3600 * 104729);
    h = (h ^ (h >> 13)) * 1274126177u;
    return broad + 120 * std::sin(61 * x + 37 * y) + ((h >> 8) & 0xFF) / 64.0;
}

bool WriteGeoTiff(const std::string& path, int width, int height, const double* gt, int epsg, GDALDataType type,
                  const char* const* options)
{
    GDALDatasetH ds =
        GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), width, height, 1, type, const_cast<char**>(options));
    if (!ds)
        return false;
    GDALSetGeoTransform(ds, const_cast<double*>(gt));
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRImportFromEPSG(srs, epsg);
    GDALSetSpatialRef(ds, srs);
    OSRDestroySpatialReference(srs);
    std::vector<double> row(static_cast<std::size_t>(width));
    bool ok = true;
    for (int r = 0; r < height && ok; ++r) {
        for (int c = 0; c < width; ++c)
            row[static_cast<std::size_t>(c)] = Height(gt[0] + (c + 0.5) * gt[1], gt[3] + (r + 0.5) * gt[5]);
        ok = GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Write, 0, r, width, 1, row.data(), width, 1, GDT_Float64, 0, 0)
             == CE_None;
    }
    GDALClose(ds);
    return ok;
}

// Copernicus' layout: 3600 rows and columns below 50°N, pixel centres from the north-west corner
// on, the last row and column belonging to the neighbours.
std::vector<std::string> MakeCopernicus(const std::string& folder)
{
    std::vector<std::string> files;
    fs::create_directories(folder);
    const char* options[] = {"COMPRESS=DEFLATE", "TILED=YES", "BLOCKXSIZE=1024", "BLOCKYSIZE=1024", nullptr};
    for (int lat : {46, 47})
        for (int lon : {11, 12}) {
            char name[96];
            std::snprintf(name, sizeof name, "Copernicus_DSM_10_N%02d_00_E%03d_00_DEM.tif", lat, lon);
            const std::string path = folder + "/" + name;
            files.push_back(path);
            if (fs::exists(path))
                continue;
            const double gt[6] = {lon - 0.5 / 3600, 1.0 / 3600, 0, lat + 1 + 0.5 / 3600, 0, -1.0 / 3600};
            if (!WriteGeoTiff(path, 3600, 3600, gt, 4326, GDT_Float32, options))
                std::fprintf(stderr, "cannot write %s\n", path.c_str());
        }
    return files;
}

// 1,000 small rasters of 200 x 200 pixels at 5 m in ETRS89/UTM 32N, as a national model comes.
void MakeSmallTiles(const std::string& folder)
{
    if (fs::exists(folder + "/done"))
        return;
    fs::create_directories(folder);
    const char* options[] = {"COMPRESS=DEFLATE", nullptr};
    for (int k = 0; k < 1000; ++k) {
        const double east = 650000 + (k % 40) * 1000.0, north = 5210000 + (k / 40) * 1000.0;
        const double gt[6] = {east, 5, 0, north + 1000, 0, -5};
        WriteGeoTiff(folder + "/dgm_" + std::to_string(k) + ".tif", 200, 200, gt, 25832, GDT_Float32, options);
    }
    std::fclose(std::fopen((folder + "/done").c_str(), "w"));
}

struct Run {
    double seconds = 0;
    double cpuSeconds = 0; // user + system: what a shared machine's load does not inflate
    long peakKiB = 0;
    int status = 0;
};

// Runs a command and reports its time and peak memory. A process's peak counts the memory of the
// process it was exec'd from, so the command is a grandchild: started by a small measuring process.
int Measure(char** command, const char* resultFile)
{
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(command[0], command);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    FILE* out = std::fopen(resultFile, "w");
    if (!out)
        return 1;
    const double cpu =
        usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
    std::fprintf(out, "%f %f %ld %d\n", std::chrono::duration<double>(Clock::now() - start).count(), cpu,
                 usage.ru_maxrss, status);
    std::fclose(out);
    return 0;
}

Run Spawn(const std::string& self, const std::string& resultFile, const std::vector<std::string>& args)
{
    std::vector<std::string> all{self, "--measure", resultFile};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (const auto& a : all)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    Run run{0, 0, 0, -1};
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return run;
    int status = 0;
    waitpid(pid, &status, 0);
    if (FILE* in = std::fopen(resultFile.c_str(), "r")) {
        if (std::fscanf(in, "%lf %lf %ld %d", &run.seconds, &run.cpuSeconds, &run.peakKiB, &run.status) != 4)
            run.status = -1;
        std::fclose(in);
    }
    return run;
}

void Report(const char* what, std::vector<Run> runs)
{
    std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.seconds < b.seconds; });
    long peak = 0;
    bool failed = false;
    double cpu = 1e9;
    for (const Run& r : runs) {
        cpu = std::min(cpu, r.cpuSeconds);
        peak = std::max(peak, r.peakKiB);
        failed = failed || r.status != 0;
    }
    std::printf("%-34s best %6.3f s  median %6.3f s  least CPU %6.3f s  peak %6.1f MiB%s\n", what, runs.front().seconds,
                runs[runs.size() / 2].seconds, cpu, peak / 1024.0, failed ? "  (FAILED)" : "");
}

int Child(const std::string& mode, const std::string& folder)
{
    const auto start = Clock::now();
    auto source = hgt::RasterSource::open(folder);
    if (!source) {
        std::fprintf(stderr, "%s\n", source.error().message.c_str());
        return 1;
    }
    if (mode == "--index")
        return source->rasterCount() == 1000 ? 0 : 2;
    std::vector<std::uint8_t> wanted;
    if (mode == "--patch") {
        // A void patch of 400 x 400 samples, as the fill would ask for.
        wanted.assign(static_cast<std::size_t>(3601) * 3601, 0);
        for (int r = 1000; r < 1400; ++r)
            std::fill_n(&wanted[static_cast<std::size_t>(r) * 3601 + 500], 400, 1);
    }
    auto tile = source->tileFor("N47E011.hgt", 3601, wanted.empty() ? nullptr : &wanted);
    if (!tile || !tile->has_value()) {
        std::fprintf(stderr, "no tile: %s\n", tile ? "not covered" : tile.error().message.c_str());
        return 1;
    }
    long peakKiB = 0;
    if (FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, status))
            if (std::sscanf(line, "VmHWM: %ld kB", &peakKiB) == 1)
                break;
        std::fclose(status);
    }
    std::int64_t voids = std::count((*tile)->values.begin(), (*tile)->values.end(), std::int16_t{-9999});
    // FNV-1a of the samples: a change of the resampling shows as a different sum.
    std::uint64_t sum = 14695981039346656037u;
    for (std::int16_t v : (*tile)->values)
        sum = (sum ^ static_cast<std::uint16_t>(v)) * 1099511628211u;
    std::fprintf(stderr, "  %s: %.3f s in process, peak %.1f MiB, %lld void, %zu files, samples %016llx\n",
                 mode.c_str(), std::chrono::duration<double>(Clock::now() - start).count(), peakKiB / 1024.0,
                 static_cast<long long>(voids), (*tile)->files.size(), static_cast<unsigned long long>(sum));
    return 0;
}

void PutBigEndian(FILE* out, std::uint64_t bits, int bytes)
{
    for (int shift = 8 * bytes - 8; shift >= 0; shift -= 8)
        std::fputc(static_cast<int>((bits >> shift) & 0xff), out);
}

// An EGM2008 grid of a smooth made-up geoid (GTX, 45° to 52° N, 5° to 12° E in 2.5' steps) under the
// name PROJ looks for, so that the conversion costs what the real grid costs.
void WriteEgm2008Grid(const std::string& file)
{
    constexpr double south = 45, west = 5, step = 2.5 / 60;
    constexpr int nodes = 169;
    FILE* out = std::fopen(file.c_str(), "wb");
    if (!out)
        return;
    for (const double value : {south, west, step, step})
        PutBigEndian(out, std::bit_cast<std::uint64_t>(value), 8);
    PutBigEndian(out, nodes, 4);
    PutBigEndian(out, nodes, 4);
    for (int row = 0; row < nodes; ++row)
        for (int column = 0; column < nodes; ++column) {
            const double lat = south + row * step, lon = west + column * step;
            const auto geoid =
                static_cast<float>(40 + 0.5 * (lat - 45) + 0.8 * std::sin(lat * 1.7) * std::cos(lon * 1.3));
            PutBigEndian(out, std::bit_cast<std::uint32_t>(geoid), 4);
        }
    std::fclose(out);
}

// A 1" primary tile N47E011 with 20 round voids of 170 samples' radius (14 % of the tile).
void WritePrimary(const std::string& file)
{
    FILE* out = std::fopen(file.c_str(), "wb");
    if (!out)
        return;
    for (int r = 0; r < 3601; ++r)
        for (int c = 0; c < 3601; ++c) {
            bool hole = false;
            for (int k = 0; k < 20 && !hole; ++k) {
                const int cr = 300 + (k / 5) * 800, cc = 300 + (k % 5) * 750;
                hole = (r - cr) * (r - cr) + (c - cc) * (c - cc) < 170 * 170;
            }
            const double height = hole ? -9999 : Height(11 + c / 3600.0, 48 - r / 3600.0);
            PutBigEndian(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(height))), 2);
        }
    std::fclose(out);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The fill with and without the conversion, in pairs, so that the machine's load falls on both alike.
void CompareDatumFill(const std::string& self, const std::string& folder, const std::string& cli)
{
    fs::create_directories(folder + "/proj/proj");
    fs::create_directories(folder + "/primary");
    WriteEgm2008Grid(folder + "/proj/proj/egm08_25.gtx");
    WritePrimary(folder + "/primary/N47E011.hgt");
    setenv("XDG_DATA_HOME", (folder + "/proj").c_str(), 1);
    setenv("PROJ_NETWORK", "OFF", 1);
    const std::vector<std::string> plain{
        cli, "fill", "-q", "-s", folder + "/copernicus", folder + "/primary/N47E011.hgt"};
    std::vector<std::string> converted = plain;
    converted.insert(converted.begin() + 5, {"--datum", "egm2008"});
    // More pairs than the other figures: the ratio's median moves by a few hundredths with the load.
    constexpr int pairs = 2 * kRuns + 1;
    std::vector<double> without, with, ratios, cpuRatios;
    for (int i = 0; i < pairs; ++i) {
        const Run a = Spawn(self, folder + "/result", plain);
        const Run b = Spawn(self, folder + "/result", converted);
        if (a.status != 0 || b.status != 0) {
            std::printf("datum fill FAILED (status %d, %d)\n", a.status, b.status);
            return;
        }
        without.push_back(a.seconds);
        with.push_back(b.seconds);
        ratios.push_back(b.seconds / a.seconds);
        cpuRatios.push_back(b.cpuSeconds / a.cpuSeconds);
    }
    std::printf("1\" fill from 4 Copernicus tiles      median %6.3f s\n", Median(without));
    std::printf("  the same with --datum egm2008      median %6.3f s  ratio %.3f, CPU %.3f (median of %d pairs; "
                "target <= 1.1)\n",
                Median(with), Median(ratios), Median(cpuRatios), pairs);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 3 && std::strcmp(argv[1], "--measure") == 0)
        return Measure(argv + 3, argv[2]);
    if (argc == 3 && argv[1][0] == '-')
        return Child(argv[1], argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "--datum-fill") == 0) { // only the fill with and without conversion
        GDALAllRegister();
        MakeCopernicus(std::string(argv[2]) + "/copernicus");
        CompareDatumFill(fs::canonical("/proc/self/exe").string(), argv[2], argv[3]);
        return 0;
    }
    const std::string folder = argc > 1 ? argv[1] : "/tmp/hgtfill-raster-bench";
    GDALAllRegister();
    std::printf("making the rasters in %s (once)\n", folder.c_str());
    const auto copernicus = MakeCopernicus(folder + "/copernicus");
    MakeSmallTiles(folder + "/small");
    const std::string self = fs::canonical("/proc/self/exe").string();

    std::vector<std::string> warp{"gdalwarp", "-q", "-overwrite", "-t_srs", "EPSG:4326", "-te"};
    const double h = 1.0 / 7200;
    for (double v : {11 - h, 47 - h, 12 + h, 48 + h}) {
        char text[40];
        std::snprintf(text, sizeof text, "%.12f", v);
        warp.push_back(text);
    }
    for (const char* a : {"-ts", "3601", "3601", "-r", "bilinear"})
        warp.push_back(a);
    warp.insert(warp.end(), copernicus.begin(), copernicus.end());
    warp.push_back(folder + "/warped.tif");

    std::vector<Run> tile, patch, gdal, index;
    for (int i = 0; i < kRuns; ++i) {
        const std::string result = folder + "/result";
        tile.push_back(Spawn(self, result, {self, "--tile", folder + "/copernicus"}));
        patch.push_back(Spawn(self, result, {self, "--patch", folder + "/copernicus"}));
        gdal.push_back(Spawn(self, result, warp));
        index.push_back(Spawn(self, result, {self, "--index", folder + "/small"}));
    }
    Report("1\" tile from 4 Copernicus tiles", tile);
    Report("  only a 400x400 void patch", patch);
    Report("gdalwarp, same tile", gdal);
    Report("index 1,000 small GeoTIFFs", index);
    if (argc > 2)
        CompareDatumFill(self, folder, argv[2]);
    return 0;
}
