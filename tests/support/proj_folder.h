#pragma once

// An EGM2008 grid of a known smooth field, written by the tests themselves, and a PROJ folder of a
// test's own: the datum tests then hang on nothing of the machine's user folder or the network.

#include <gtest/gtest.h>

#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

namespace hgt::test {

namespace fs = std::filesystem;

// The EGM2008 geoid of the tests: smooth, and different along latitude and longitude so that a grid
// read upside down or transposed shows.
inline double TestGeoid(double latitude, double longitude)
{
    return 40 + 0.5 * (latitude - 45) + 0.25 * (longitude - 5)
           + 0.8 * std::sin(latitude * 1.7) * std::cos(longitude * 1.3);
}
inline constexpr double kGridSouth = 45, kGridWest = 5, kGridStep = 2.5 / 60;
inline constexpr int kGridNodes = 169; // 7 degrees

inline void WriteBigEndian(std::ofstream& out, auto value)
{
    auto bits = std::bit_cast<std::conditional_t<sizeof(value) == 8, std::uint64_t, std::uint32_t>>(value);
    for (int shift = 8 * sizeof(value) - 8; shift >= 0; shift -= 8)
        out.put(static_cast<char>((bits >> shift) & 0xff));
}

// GTX: latitude and longitude of the south-western node and the steps as big-endian doubles, rows
// and columns as big-endian int32, then float32 rows from south to north.
inline void WriteEgm2008Grid(const fs::path& file)
{
    std::ofstream out(file, std::ios::binary);
    for (const double value : {kGridSouth, kGridWest, kGridStep, kGridStep})
        WriteBigEndian(out, value);
    WriteBigEndian(out, std::int32_t{kGridNodes});
    WriteBigEndian(out, std::int32_t{kGridNodes});
    for (int row = 0; row < kGridNodes; ++row)
        for (int column = 0; column < kGridNodes; ++column)
            WriteBigEndian(out,
                           static_cast<float>(TestGeoid(kGridSouth + row * kGridStep, kGridWest + column * kGridStep)));
}

// A PROJ folder of the test's own as the user's (XDG_DATA_HOME/proj), the network off, and PROJ's
// data from the system; with `egm2008` the grid file under the name PROJ looks for. Returns the folder
// whose proj/ it is.
inline fs::path UsePrivateProjFolder(const std::string& name, bool egm2008)
{
    const fs::path home = fs::temp_directory_path() / (name + "-" + std::to_string(::getpid()));
    fs::remove_all(home);
    fs::create_directories(home / "proj");
    if (egm2008)
        WriteEgm2008Grid(home / "proj" / "egm08_25.gtx");
    ::setenv("XDG_DATA_HOME", home.c_str(), 1);
    ::setenv("PROJ_DATA", "/usr/share/proj", 1);
    ::setenv("PROJ_LIB", "/usr/share/proj", 1);
    ::setenv("PROJ_NETWORK", "OFF", 1);
    return home;
}

// A place and a height in a reference system, for cs2cs.
struct Point {
    double latitude;
    double longitude;
    double height = 0;
};

// What PROJ's own tool cs2cs makes of the points' heights from `from` in `to`, in the same
// environment: one height per point, not a number where it gives none.
inline std::vector<double> Cs2cs(const std::string& from, const std::string& to, const std::vector<Point>& points)
{
    const fs::path input = fs::temp_directory_path() / ("hgt-cs2cs-" + std::to_string(::getpid()));
    {
        std::ofstream out(input);
        out.precision(12);
        for (const auto& point : points)
            out << point.latitude << ' ' << point.longitude << ' ' << point.height << '\n';
    }
    const std::string command = "cs2cs -f %.6f " + from + " " + to + " < '" + input.string() + "'";
    std::vector<double> heights;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, pipe)) {
            std::istringstream fields(line);
            std::string latitude, longitude, height;
            fields >> latitude >> longitude >> height;
            const bool none = latitude == "*" || height == "*" || height == "inf";
            heights.push_back(none ? NAN : std::stod(height));
        }
        ::pclose(pipe);
    }
    fs::remove(input);
    if (heights.size() != points.size())
        ADD_FAILURE() << "cs2cs (proj-bin) gave " << heights.size() << " of " << points.size() << " heights";
    return heights;
}

} // namespace hgt::test
