#pragma once

// How the command line reports what render drew: a German block for people, a JSON line for programs.

#include "pictures/picture.h"
#include "pictures/provenance_picture.h"
#include "platform/error.h"

#include <string>

namespace hgt::cli {

// What render drew: the tile's figures and the picture file.
struct PictureReport {
    std::string path;   // the tile as given
    std::string output; // the PNG
    TileSummary summary;
    int width = 0; // of the PNG, the legend's margin included
    int height = 0;
    bool legend = false;
};

std::string PictureJson(const PictureReport& picture);
std::string PictureErrorJson(const std::string& path, const Error& error);
std::string PictureText(const PictureReport& picture);

// What render drew from a provenance file: the picture's size and the samples of each code.
struct ProvenanceReport {
    std::string path;
    std::string output;
    ProvenanceMap map;
    int width = 0;
    int height = 0;
    bool legend = false;
};
std::string ProvenanceJson(const ProvenanceReport& report);
std::string ProvenanceText(const ProvenanceReport& report);

} // namespace hgt::cli
