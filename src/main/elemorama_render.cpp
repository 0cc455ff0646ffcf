// elemorama-render: applies one effect to an image file, headless.
#include "document/filters/PresetFile.h"
#include "main/render/RenderJob.h"
#include "settings/Settings.h"
#include "settings/SettingsGroup.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSettings>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <unistd.h>

using namespace Orvex;
using namespace Orvex::Document::Filters;

namespace {

std::atomic<bool> g_cancel{false};

void onSignal(int) {
    g_cancel = true;
}

int fail(int code, const QString& reason) {
    std::fprintf(stderr, "elemorama-render: %s\n", qPrintable(reason));
    return code;
}

void listEffects(const SettingsGroupRO& root) {
    for (const EffectInfo& e : EffectRegistry::all()) {
        const bool available = EffectRegistry::hasRenderer(e.id);
        std::printf("%s%s\n", e.shortName, available ? "" : "  (not available yet)");
        if (!EffectRegistry::createParams(e.id)) continue;
        std::printf("  parameters:");
        for (const FieldInfo& f : EffectRegistry::fields(e.id))
            if (f.settingsKey) {
                if (f.hasRange())
                    std::printf(" %s=%g..%g", f.settingsKey, f.minValue, f.maxValue);
                else
                    std::printf(" %s", f.settingsKey);
            }
        std::printf("\n");
        for (const PresetRecord& p : builtInPresets(e.id))
            std::printf("  preset \"%s\"\n", qPrintable(p.name));
        const SettingsGroupRO group(root, EffectRegistry::settingsGroup(e.id));
        for (const PresetRecord& p : readUserPresets(group, e.id))
            std::printf("  user preset \"%s\"\n", qPrintable(p.name));
    }
}

void drawBar(double fraction) {
    const int width = 40;
    const int filled = int(fraction * width + 0.5);
    std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(size_t(filled), '#').c_str(),
                 std::string(size_t(width - filled), ' ').c_str(), int(fraction * 100 + 0.5));
    std::fflush(stderr);
}

// The lines and points of the effects drawn along them (aurora, lightning, rainbow).
struct GeometryOptions {
    QCommandLineOption line{QStringLiteral("line"),
                            QStringLiteral("Aurora, Lightning: a line from X1,Y1 to X2,Y2 in image pixels "
                                           "(repeatable, drawn in the order given)."),
                            QStringLiteral("X1,Y1,X2,Y2")};
    QCommandLineOption lines{
        QStringLiteral("lines"),
        QStringLiteral("Aurora, Lightning: the lines of a trunk list file, or the built-in line set 1-10 "
                       "(before any --line)."),
        QStringLiteral("file|set")};
    QCommandLineOption points{QStringLiteral("points"),
                              QStringLiteral("Rainbow: the ends of the arc and a point between them, in "
                                             "image pixels, or a rainbow file (default: a half circle low "
                                             "in the image)."),
                              QStringLiteral("X0,Y0,X1,Y1,X2,Y2|file")};
};

GeometryOptions addGeometryOptions(QCommandLineParser& parser) {
    GeometryOptions options;
    parser.addOptions({options.line, options.lines, options.points});
    return options;
}

Render::RenderGeometry geometryFrom(const QCommandLineParser& parser, const GeometryOptions& options) {
    Render::RenderGeometry geometry;
    geometry.lines = parser.values(options.line);
    geometry.linesFile = parser.value(options.lines);
    geometry.points = parser.value(options.points);
    return geometry;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("elemorama-render"));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Applies one Elemorama effect to an image file.\n\n"
                       "Example: elemorama-render --effect Rain --preset \"ORVEX Storm\" --set Den=8 "
                       "--selection sky.png in.jpg -o "
                       "out.png\n\n"
                       "Images: 8/16-bit PNG, JPEG, TIFF (8/16-bit, float), PPM/PGM; grey, RGB, CMYK and "
                       "Lab. The selection is an "
                       "image whose alpha, grey or luminance selects (a different size is resampled); "
                       "without it the whole image "
                       "is selected. Out-of-range values are clamped and reported. Exit codes: 0 done, 1 "
                       "failed, 2 bad usage."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    const QCommandLineOption effect({QStringLiteral("e"), QStringLiteral("effect")},
                                    QStringLiteral("The effect (Rain, Cumulus, ...; see --list)."),
                                    QStringLiteral("name"));
    const QCommandLineOption preset({QStringLiteral("p"), QStringLiteral("preset")},
                                    QStringLiteral("A built-in or user preset of the effect."),
                                    QStringLiteral("name"));
    const QCommandLineOption set(
        {QStringLiteral("s"), QStringLiteral("set")},
        QStringLiteral("Sets a parameter by its settings key (repeatable), e.g. Den=8."),
        QStringLiteral("key=value"));
    const QCommandLineOption selection({QStringLiteral("m"), QStringLiteral("selection")},
                                       QStringLiteral("The selection mask image."), QStringLiteral("file"));
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("The output image; its extension picks the format."),
                                    QStringLiteral("file"));
    const QCommandLineOption list({QStringLiteral("l"), QStringLiteral("list")},
                                  QStringLiteral("Lists the effects, their parameters and presets."));
    const QCommandLineOption threads({QStringLiteral("j"), QStringLiteral("threads")},
                                     QStringLiteral("At most this many worker threads (default: all cores)."),
                                     QStringLiteral("n"));
    const QCommandLineOption quality(QStringLiteral("quality"),
                                     QStringLiteral("JPEG quality 1-100 (default 95)."), QStringLiteral("q"));
    const QCommandLineOption horizon(
        QStringLiteral("horizon"),
        QStringLiteral("Water: the horizon as an image row (305; negative: above the image) or an angle "
                       "(45deg; 90deg is the bottom row)."),
        QStringLiteral("row|angle"));
    const QCommandLineOption sunCenter(
        QStringLiteral("sun-center"),
        QStringLiteral("Sun: the centre in pixels (300,120) or percent of the width and height (75%,10%); "
                       "default: an eighth of the shorter side from the top-left corner."),
        QStringLiteral("x,y"));
    const QCommandLineOption sunRadius(
        QStringLiteral("sun-radius"),
        QStringLiteral(
            "Sun: the disc's radius in pixels (40) or percent of the shorter side (3%); default 2.5%."),
        QStringLiteral("r"));
    const QCommandLineOption sunAngle(
        QStringLiteral("sun-angle"), QStringLiteral("Sun: the rays' turn in degrees, clockwise (default 0)."),
        QStringLiteral("degrees"));
    const QCommandLineOption sunFile(
        QStringLiteral("sun-file"),
        QStringLiteral(
            "Sun: a sun file with the placement; --sun-center, --sun-radius and --sun-angle win over it."),
        QStringLiteral("file"));
    const QCommandLineOption nebulaZones(
        QStringLiteral("nebula-zones"),
        QStringLiteral("NightSky: an image selecting the nebula zones (as --selection does); the selection "
                       "then holds the star zones. Without it the selection takes stars and nebulas."),
        QStringLiteral("file"));
    const QCommandLineOption quiet({QStringLiteral("q"), QStringLiteral("quiet")},
                                   QStringLiteral("No progress bar and no notes."));
    parser.addOptions({help, effect, preset, set, selection, output, list, threads, quality, horizon,
                       sunCenter, sunRadius, sunAngle, sunFile, nebulaZones, quiet});
    const GeometryOptions geometry = addGeometryOptions(parser);
    parser.addPositionalArgument(QStringLiteral("input"), QStringLiteral("The image to process."));
    if (!parser.parse(QCoreApplication::arguments())) return fail(2, parser.errorText());
    if (parser.isSet(help)) {
        std::printf("%s", qPrintable(parser.helpText()));
        return 0;
    }
    QSettings qsettings(QStringLiteral("ORVEX"), QStringLiteral("Elemorama"));
    TSettings<QSettings> store(&qsettings);
    const SettingsGroupRO root(&store, QStringLiteral("Filters/OXF/Elemorama"));
    if (parser.isSet(list)) {
        listEffects(root);
        return 0;
    }

    Render::RenderRequest request;
    const QStringList inputs = parser.positionalArguments();
    if (inputs.size() != 1)
        return fail(2, inputs.isEmpty() ? "no input image given" : "more than one input image given");
    if (!parser.isSet(effect)) return fail(2, "no effect given (--effect; see --list)");
    if (!parser.isSet(output)) return fail(2, "no output file given (-o)");
    request.input = inputs.first();
    request.output = parser.value(output);
    request.selection = parser.value(selection);
    request.horizon = parser.value(horizon);
    request.geometry = geometryFrom(parser, geometry);
    request.nebulaZones = parser.value(nebulaZones);
    request.spec.sun.center = parser.value(sunCenter);
    request.spec.sun.radius = parser.value(sunRadius);
    request.spec.sun.angle = parser.value(sunAngle);
    request.spec.sun.file = parser.value(sunFile);
    request.spec.effect = parser.value(effect);
    request.spec.preset = parser.value(preset);
    for (const QString& assignment : parser.values(set)) {
        const int at = assignment.indexOf(QLatin1Char('='));
        if (at <= 0) return fail(2, QStringLiteral("--set expects KEY=VALUE, not '%1'").arg(assignment));
        request.spec.overrides.push_back({assignment.left(at).trimmed(), assignment.mid(at + 1)});
    }
    bool ok = true;
    if (parser.isSet(threads)) {
        request.threads = parser.value(threads).toInt(&ok);
        if (!ok || request.threads < 1) return fail(2, "--threads expects a positive number");
    }
    if (parser.isSet(quality)) {
        request.jpegQuality = parser.value(quality).toInt(&ok);
        if (!ok || request.jpegQuality < 1 || request.jpegQuality > 100)
            return fail(2, "--quality expects 1-100");
    }

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    const bool chatty = !parser.isSet(quiet);
    const bool bar = chatty && isatty(STDERR_FILENO);
    Render::RenderHooks hooks;
    hooks.cancel = &g_cancel;
    bool barShown = false;
    int ticks = 0;
    if (bar)
        hooks.progress = [&](double fraction) {
            // Quick runs stay silent; the bar appears once a run takes longer than about half a second.
            if (++ticks < 5 && fraction < 1.0) return;
            if (!barShown && fraction >= 1.0) return;
            barShown = true;
            drawBar(fraction);
        };
    if (chatty)
        hooks.note = [](const QString& note) {
            std::fprintf(stderr, "elemorama-render: note: %s\n", qPrintable(note));
        };
    try {
        Render::runRender(request, hooks);
    } catch (const EffectJobError& e) {
        if (barShown) std::fprintf(stderr, "\n");
        return fail(2, QString::fromUtf8(e.what()));
    } catch (const std::bad_alloc&) {
        if (barShown) std::fprintf(stderr, "\n");
        return fail(1, "out of memory");
    } catch (const std::exception& e) {
        if (barShown) std::fprintf(stderr, "\n");
        return fail(1, QString::fromUtf8(e.what()));
    }
    if (barShown) std::fprintf(stderr, "\n");
    return 0;
}
