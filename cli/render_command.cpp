#include "cli/render_command.h"

#include "cli/exit_status.h"
#include "cli/picture_report.h"
#include "cli/text_escape.h"
#include "pictures/picture_file.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "tiles/tile_folder.h"
#include "tiles/tile_error.h"
#include "pictures/provenance_picture.h"

#include <QGuiApplication>

#include <algorithm>
#include <optional>
#include <thread>
#include <vector>

namespace hgt::cli {

namespace {

QtMessageHandler g_qtMessages = nullptr;

// Qt's notes about the platform it starts (no runtime folder, no display) mean nothing to a user
// of render, whose own errors come back as results; only Qt's serious messages get through.
void onlySeriousMessages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if ((type == QtCriticalMsg || type == QtFatalMsg) && g_qtMessages)
        g_qtMessages(type, context, message);
}

// The legend's text needs Qt's font database, which only an application object sets up. The
// offscreen platform needs no display, so render also runs where there is none; PNG files alone
// need no application object.
class LegendFonts {
public:
    LegendFonts()
    {
        if (QGuiApplication::instance())
            return;
        g_qtMessages = qInstallMessageHandler(onlySeriousMessages);
        m_application.emplace(m_argc, m_argv);
    }
    LegendFonts(const LegendFonts&) = delete;
    LegendFonts& operator=(const LegendFonts&) = delete;
    ~LegendFonts()
    {
        if (!m_application)
            return;
        m_application.reset();
        qInstallMessageHandler(g_qtMessages);
    }

private:
    char m_program[12] = "hgtfill-cli";
    char m_platformOption[10] = "-platform";
    char m_platform[10] = "offscreen";
    char* m_argv[4] = {m_program, m_platformOption, m_platform, nullptr};
    int m_argc = 3;
    std::optional<QGuiApplication> m_application;
};

// Bands of rows on the available cores: a full 1" tile is 13 million pixels.
TilePicture draw(const TileRenderer& renderer)
{
    TilePicture picture = renderer.blankPicture();
    const int rows = renderer.height();
    const int bands = std::clamp(static_cast<int>(UsableProcessors()), 1, std::max(1, rows / 64));
    std::vector<std::jthread> workers;
    for (int band = 1; band < bands; ++band)
        workers.emplace_back(
            [&, band] { renderer.renderRows(rows * band / bands, rows * (band + 1) / bands, picture); });
    renderer.renderRows(0, rows / bands, picture);
    workers.clear(); // joins: the picture is complete before it is handed on
    return picture;
}

int fail(const Invocation& invocation, const Error& error, const Console& console)
{
    if (invocation.json)
        console.out << PictureErrorJson(invocation.operands.front(), error) << '\n';
    else
        console.err << "hgtfill-cli: " << Printable(error.message) << '\n';
    console.out.flush();
    return kExitFailed;
}

// What render says once the picture is on disk: its JSON report, its text, or nothing (-q).
template <typename Json, typename Text>
int sayWritten(const Invocation& invocation, const Console& console, Json json, Text text)
{
    if (invocation.json)
        console.out << json() << '\n';
    else if (!invocation.quiet)
        console.out << text();
    console.out.flush();
    return kExitOk;
}

// A provenance file (fill --provenance) drawn as a map of where each sample came from.
int renderProvenance(const Invocation& invocation, const Console& console)
{
    const std::string& path = invocation.operands.front();
    Result<ProvenanceMap> map = ReadProvenance(path);
    if (!map)
        return fail(invocation, map.error(), console);
    ProvenanceReport report;
    report.path = path;
    report.output = invocation.output;
    report.legend = invocation.legend;
    report.map = std::move(*map);
    const TilePicture picture = RenderProvenance(report.map, invocation.size);
    std::optional<LegendFonts> fonts;
    if (report.legend)
        fonts.emplace();
    const Result<int> written = WriteProvenancePng(picture, report.map, report.legend, invocation.output);
    if (!written)
        return fail(invocation, written.error(), console);
    report.width = *written;
    report.height = picture.height;
    return sayWritten(
        invocation, console, [&] { return ProvenanceJson(report); }, [&] { return ProvenanceText(report); });
}

} // namespace

int RenderTile(const Invocation& invocation, const Console& console)
{
    const std::string& path = invocation.operands.front();
    // "-o" naming the tile itself would replace the tile by its picture.
    const std::optional<FileIdentity> tile = IdentityOf(path);
    if (tile && tile == IdentityOf(invocation.output))
        return fail(
            invocation,
            {TileErrorKind::SameFile, "Die Bilddatei " + invocation.output + " ist die Kachel " + path + " selbst"},
            console);
    if (IsProvenancePath(path))
        return renderProvenance(invocation, console);
    const PictureKind kind =
        invocation.difference || LiesInDifferenceFolder(path) ? PictureKind::Difference : PictureKind::Relief;
    // diff marks a void with -9999 whatever void values its inputs had.
    const std::vector<std::int16_t> voids =
        kind == PictureKind::Difference ? std::vector<std::int16_t>{kVoidValue} : invocation.voidValues;
    const Result<TileSamples> samples = ReadTileSamples(path, voids);
    if (!samples)
        return fail(invocation, samples.error(), console);

    PictureReport report;
    report.path = path;
    report.output = invocation.output;
    report.summary = SummarizeTile(*samples, kind);
    report.legend = invocation.legend && report.summary.difference.has_value();
    const TileRenderer renderer(*samples, report.summary, invocation.size);
    const TilePicture picture = draw(renderer);

    std::optional<LegendFonts> fonts;
    if (report.legend)
        fonts.emplace();
    if (Result<> written = WritePicturePng(picture, report.summary, report.legend, invocation.output); !written)
        return fail(invocation, written.error(), console);
    report.width = picture.width + (report.legend ? LegendWidth(picture.height) : 0);
    report.height = picture.height;
    return sayWritten(
        invocation, console, [&] { return PictureJson(report); }, [&] { return PictureText(report); });
}

} // namespace hgt::cli
