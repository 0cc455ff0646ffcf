#include "main/render/RenderCommandLine.h"

#include <QCommandLineParser>

namespace Orvex::Render {

namespace {

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

RenderGeometry geometryFrom(const QCommandLineParser& parser, const GeometryOptions& options) {
    RenderGeometry geometry;
    geometry.lines = parser.values(options.line);
    geometry.linesFile = parser.value(options.lines);
    geometry.points = parser.value(options.points);
    return geometry;
}

} // namespace

bool parseRenderCommandLine(const QStringList& arguments, RenderCommandLine& out, QString& error) {
    out = RenderCommandLine();
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
    if (!parser.parse(arguments)) {
        error = parser.errorText();
        return false;
    }
    if (parser.isSet(help)) {
        out.action = RenderCommandLine::Action::Help;
        out.helpText = parser.helpText();
        return true;
    }
    if (parser.isSet(list)) {
        out.action = RenderCommandLine::Action::List;
        return true;
    }
    out.quiet = parser.isSet(quiet);

    RenderRequest& request = out.request;
    auto usage = [&error](const QString& text) {
        error = text;
        return false;
    };
    const QStringList inputs = parser.positionalArguments();
    if (inputs.size() != 1)
        return usage(inputs.isEmpty() ? QStringLiteral("no input image given")
                                      : QStringLiteral("more than one input image given"));
    if (!parser.isSet(effect)) return usage(QStringLiteral("no effect given (--effect; see --list)"));
    if (!parser.isSet(output)) return usage(QStringLiteral("no output file given (-o)"));
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
        if (at <= 0) return usage(QStringLiteral("--set expects KEY=VALUE, not '%1'").arg(assignment));
        request.spec.overrides.push_back({assignment.left(at).trimmed(), assignment.mid(at + 1)});
    }
    bool ok = true;
    if (parser.isSet(threads)) {
        request.threads = parser.value(threads).toInt(&ok);
        if (!ok || request.threads < 1) return usage(QStringLiteral("--threads expects a positive number"));
    }
    if (parser.isSet(quality)) {
        request.jpegQuality = parser.value(quality).toInt(&ok);
        if (!ok || request.jpegQuality < 1 || request.jpegQuality > 100)
            return usage(QStringLiteral("--quality expects 1-100"));
    }

    return true;
}

} // namespace Orvex::Render
