// elemorama-render as a user meets it: options, messages, exit codes, files in and out.
#include "document/filters/PresetFile.h"
#include "document/filters/rain/RainParams.h"
#include "document/filters/sun/SunFile.h"
#include "imageio/ImageIO.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>

using namespace Orvex;

namespace {

struct Result {
    int exitCode = -1;
    QString out, err;
};

class RenderCli : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }

    Result run(const QStringList& args) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", dir.path()); // a private settings store
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(ELEMORAMA_BIN_DIR "/elemorama-render"), args);
        EXPECT_TRUE(p.waitForFinished(120000));
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }

    // A w x h image with a gradient; grey, RGB or RGB with alpha, 8 or 16 bits.
    QString writeImage(const QString& name, int w, int h, ImageIO::ColorModel model, int type,
                       bool alpha = false) {
        ImageIO::ImageRecord img;
        img.width = w, img.height = h, img.model = model, img.sampleType = type, img.hasAlpha = alpha;
        img.allocate();
        const int n = img.channels();
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < n; ++c) {
                    const int v = (x * 3 + y * 5 + c * 40) % 256;
                    if (type == -1)
                        img.row(y)[(x * n + c)] = uint8_t(v);
                    else
                        reinterpret_cast<uint16_t*>(img.row(y))[x * n + c] = uint16_t(v * 257 + c);
                }
        ImageIO::saveImage(img, path(name));
        return path(name);
    }
};

} // namespace

TEST_F(RenderCli, HelpAndListDescribeEffectsAndPresets) {
    Result r = run({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains("--effect"));
    EXPECT_TRUE(r.out.contains("--selection"));
    r = run({"--list"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains("Rain\n"));
    EXPECT_TRUE(r.out.contains("preset \"ORVEX Storm\""));
    EXPECT_TRUE(r.out.contains("Den=0..20"));
    EXPECT_TRUE(r.out.contains("Ice  (not available yet)"));
    EXPECT_TRUE(r.out.contains("Snow  (not available yet)"));
}

TEST_F(RenderCli, BadUsageExitsTwoWithOneLineReason) {
    const QString in = writeImage("in.png", 64, 48, ImageIO::ColorModel::RGB, -1);
    const QString out = path("out.png");
    struct Case {
        QStringList args;
        QString message;
    } cases[] = {
        {{in, "-o", out}, "no effect given"},
        {{"--effect", "Rain", in}, "no output file given"},
        {{"--effect", "Hail", in, "-o", out}, "unknown effect 'Hail'"},
        {{"--effect", "Ice", in, "-o", out}, "effect 'Ice' is not available yet"},
        {{"--effect", "Rain", "--preset", "ORVEX Hail", in, "-o", out},
         "effect Rain has no preset 'ORVEX Hail'"},
        {{"--effect", "Rain", "--set", "Wind=3", in, "-o", out}, "unknown parameter 'Wind' of Rain"},
        {{"--effect", "Rain", "--set", "Den", in, "-o", out}, "--set expects KEY=VALUE"},
        {{"--effect", "Rain", "--set", "Den=lots", in, "-o", out}, "'lots' is not a valid value for Den"},
        {{"--effect", "Rain", in, "-o", path("out.webp")}, "cannot tell the output format"},
        {{"--bogus"}, "Unknown option"},
    };
    for (const Case& c : cases) {
        const Result r = run(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.startsWith("elemorama-render: ")) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(c.message)) << r.err.toStdString();
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(out));
}

TEST_F(RenderCli, FailuresExitOneAndLeaveNoFile) {
    QFile broken(path("broken.png"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("\x89PNG\r\n\x1a\n this is not really a png");
    broken.close();
    const QString out = path("out.png");
    Result r = run({"--effect", "Rain", broken.fileName(), "-o", out});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(QFile::exists(out));
    r = run({"--effect", "Rain", path("missing.png"), "-o", out});
    EXPECT_EQ(r.exitCode, 1);
    const QString in = writeImage("in.png", 64, 48, ImageIO::ColorModel::RGB, -1);
    r = run({"--effect", "Rain", "--selection", broken.fileName(), in, "-o", out});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(QFile::exists(out));
    r = run({"--effect", "Rain", in, "-o", path("no/such/dir/out.png")});
    EXPECT_EQ(r.exitCode, 1);
}

TEST_F(RenderCli, ClampedValuesAreReportedAndTheRunSucceeds) {
    const QString in = writeImage("in.png", 80, 60, ImageIO::ColorModel::RGB, -1);
    const Result r =
        run({"--effect", "Rain", "--set", "Den=50", "--set", "SizeRain=0.5", in, "-o", path("o.png")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("Den=50 is out of range, clamped to 20")) << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(path("o.png")));
}

TEST_F(RenderCli, KeepsModelDepthAndUntouchedPixels) {
    // Grey 8-bit in, density 0: the file's samples come back exactly (through RGB and back).
    const QString grey = writeImage("grey.pgm", 90, 70, ImageIO::ColorModel::Grey, -1);
    Result r = run({"--effect", "Rain", "--set", "Den=0", grey, "-o", path("grey_out.pgm")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    auto a = ImageIO::loadImage(grey), b = ImageIO::loadImage(path("grey_out.pgm"));
    EXPECT_EQ(b.model, ImageIO::ColorModel::Grey);
    EXPECT_EQ(a.samples, b.samples);

    // 16-bit RGBA PNG with a smaller mask: resampled, 16-bit alpha output, changes only at the top.
    const QString deep = writeImage("deep.png", 120, 90, ImageIO::ColorModel::RGB, -2, true);
    ImageIO::ImageRecord mask;
    mask.width = 12, mask.height = 9, mask.model = ImageIO::ColorModel::Grey;
    mask.allocate();
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 12; ++x) mask.row(y)[x] = 255;
    ImageIO::saveImage(mask, path("mask.png"));
    r = run({"--effect", "Rain", "--preset", "ORVEX Wall of Rain", "--selection", path("mask.png"), deep,
             "-o", path("deep_out.png")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("selection 12x9 resampled to 120x90"));
    b = ImageIO::loadImage(path("deep_out.png"));
    a = ImageIO::loadImage(deep);
    EXPECT_EQ(b.sampleType, -2);
    EXPECT_TRUE(b.hasAlpha);
    ASSERT_EQ(a.byteSize(), b.byteSize());
    EXPECT_NE(a.samples, b.samples);
    // Rows well below the selection and its margin are untouched.
    const int lastChangedRow = [&] {
        int last = -1;
        for (int y = 0; y < 90; ++y)
            if (memcmp(a.row(y), b.row(y), a.rowBytes()) != 0) last = y;
        return last;
    }();
    EXPECT_GT(lastChangedRow, 10);
    EXPECT_LT(lastChangedRow, 30 + 2 * 60);

    // JPEG output of a 16-bit image is converted to 8 bits and says so.
    r = run({"--effect", "Rain", deep, "-o", path("deep.jpg")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("samples converted to 8-bit"));
    EXPECT_TRUE(r.err.contains("transparency dropped"));
}

TEST_F(RenderCli, UserPresetsFromTheSettingsStore) {
    {
        QSettings settings(dir.filePath("ORVEX/Elemorama.conf"), QSettings::IniFormat);
        Document::Filters::RainParams p;
        p.density = 0;
        settings.setValue("Filters/OXF/Elemorama/Filters/Rain/Presets/versionPreset", 2);
        settings.setValue("Filters/OXF/Elemorama/Filters/Rain/Presets/presetCount", 1);
        settings.setValue("Filters/OXF/Elemorama/Filters/Rain/Presets/preset1",
                          Document::Filters::presetToText(p.toPreset("Dry spell")));
    }
    Result r = run({"--list"});
    EXPECT_TRUE(r.out.contains("user preset \"Dry spell\"")) << r.out.toStdString();
    const QString in = writeImage("in.ppm", 50, 40, ImageIO::ColorModel::RGB, -1);
    r = run({"--effect", "Rain", "--preset", "Dry spell", in, "-o", path("out.ppm")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(ImageIO::loadImage(in).samples, ImageIO::loadImage(path("out.ppm")).samples);
}

TEST_F(RenderCli, BatchRunsOverTheLinkMatchTheRenderer) {
    const QString in = writeImage("in.png", 160, 100, ImageIO::ColorModel::RGB, -1);
    ImageIO::ImageRecord sky;
    sky.width = 160, sky.height = 100, sky.model = ImageIO::ColorModel::Grey;
    sky.allocate();
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 160; ++x) sky.row(y)[x] = 255;
    ImageIO::saveImage(sky, path("sky.png"));
    Result r = run({"--effect", "Rain", "--preset", "ORVEX Storm", "--set", "Den=8", "--selection",
                    path("sky.png"), in, "-o", path("render.png")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();

    QProcess host;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", dir.path());
    host.setProcessEnvironment(env);
    host.start(QStringLiteral(ELEMORAMA_BIN_DIR "/elemorama"),
               {"edit", in, "-o", path("link.png"), "--effect", "Rain", "--preset", "ORVEX Storm", "--set",
                "Den=8", "--selection", path("sky.png")});
    ASSERT_TRUE(host.waitForFinished(120000));
    ASSERT_EQ(host.exitCode(), 0) << host.readAllStandardError().toStdString();
    const auto viaRender = ImageIO::loadImage(path("render.png"));
    auto viaLink = ImageIO::loadImage(path("link.png"));
    ASSERT_EQ(viaLink.width, 160);
    // The link may hand back an opaque alpha channel; compare the colour samples.
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 160; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(viaRender.row(y)[x * viaRender.channels() + c],
                          viaLink.row(y)[x * viaLink.channels() + c])
                    << x << "," << y;

    host.start(QStringLiteral(ELEMORAMA_BIN_DIR "/elemorama"),
               {"edit", in, "-o", path("bad.png"), "--effect", "Hail"});
    ASSERT_TRUE(host.waitForFinished(120000));
    EXPECT_NE(host.exitCode(), 0);
    EXPECT_TRUE(QString::fromUtf8(host.readAllStandardError()).contains("unknown effect 'Hail'"));
    EXPECT_FALSE(QFile::exists(path("bad.png")));
}

TEST_F(RenderCli, SunPlacementOptionsFilesAndDefaults) {
    const QString in = writeImage("in.png", 200, 120, ImageIO::ColorModel::RGB, -1);
    auto render = [&](const QString& out, QStringList extra) {
        Result r = run(QStringList{"--effect", "Sun", "--preset", "ORVEX Star"} + extra +
                       QStringList{in, "-o", path(out)});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        return ImageIO::loadImage(path(out)).samples;
    };
    // Percentages, pixels and --set members place the sun alike; without any it sits where a new
    // document puts it: (m/8, m/8) with radius m/40 for m = 120.
    const auto byPercent =
        render("a.png", {"--sun-center", "25%,50%", "--sun-radius", "10", "--sun-angle", "30"});
    const auto byPixels =
        render("b.png", {"--sun-center", "50,60", "--sun-radius", "10", "--sun-angle", "30"});
    const auto bySet = render("c.png", {"--set", "centerX=50", "--set", "centerY=60", "--set", "radius=10",
                                        "--set", "angle=0.5235987756"});
    EXPECT_EQ(byPercent, byPixels);
    EXPECT_EQ(byPercent, bySet);
    EXPECT_EQ(render("d.png", {}), render("e.png", {"--sun-center", "15,15", "--sun-radius", "3"}));

    // A sun file holds the placement; the options win over it.
    Document::Filters::SunParams placed = Document::Filters::SunParams::defaults();
    placed.centerX = 50, placed.centerY = 60, placed.radius = 10, placed.angle = 0.5235987756f;
    QString error;
    ASSERT_TRUE(Document::Filters::saveSunFile(path("sun.elemor"), placed, 200, 120, &error));
    // Six significant digits of the radius' share of the diagonal, read back to the thousandth of a
    // pixel, keep the disc; the angle's six digits may move a ray's edge by a level.
    const auto fromFile = render("f.png", {"--sun-file", path("sun.elemor")});
    ASSERT_EQ(fromFile.size(), byPixels.size());
    int worst = 0;
    for (size_t i = 0; i < fromFile.size(); ++i)
        worst = std::max(worst, std::abs(int(fromFile[i]) - int(byPixels[i])));
    EXPECT_LE(worst, 2);
    EXPECT_NE(render("g.png", {"--sun-file", path("sun.elemor"), "--sun-radius", "20"}), byPixels);

    // A centre beyond the picture is moved to its edge, with a note.
    Result r = run({"--effect", "Sun", "--sun-center", "-40,300", in, "-o", path("h.png")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains("moved to its edge (0,120)")) << r.err.toStdString();

    QFile damaged(path("damaged.elemor"));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write("<elemorama type=\"Sun\"><sun><center x=\"0.1\"");
    damaged.close();
    struct Case {
        QStringList args;
        QString message;
    } cases[] = {
        {{"--effect", "Sun", "--sun-center", "middle"}, "the sun's centre must be X,Y"},
        {{"--effect", "Sun", "--sun-radius", "-4"}, "the sun's radius must be a positive length"},
        {{"--effect", "Sun", "--sun-angle", "10%"}, "the sun's angle must be in degrees"},
        {{"--effect", "Sun", "--sun-file", path("damaged.elemor")}, "Error loading from damaged.elemor: "},
        {{"--effect", "Sun", "--sun-file", path("none.elemor")}, "Cannot open file for read"},
        {{"--effect", "Rain", "--sun-radius", "4"}, "applies to the Sun effect only"},
        {{"--effect", "Rain", "--nebula-zones", in}, "applies to the NightSky effect only"},
    };
    for (const Case& c : cases) {
        const Result bad = run(c.args + QStringList{in, "-o", path("bad.png")});
        EXPECT_EQ(bad.exitCode, 2) << c.args.join(' ').toStdString();
        EXPECT_TRUE(bad.err.contains(c.message)) << bad.err.toStdString();
        EXPECT_EQ(bad.err.count('\n'), 1) << bad.err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(path("bad.png")));
}

TEST_F(RenderCli, NightSkyZonesFromTheSelectionAndTheNebulaImage) {
    const QString in = writeImage("in.png", 160, 100, ImageIO::ColorModel::RGB, -1);
    auto band = [&](const QString& name, int top, int bottom) {
        ImageIO::ImageRecord mask;
        mask.width = 160, mask.height = 100, mask.model = ImageIO::ColorModel::Grey;
        mask.allocate();
        for (int y = top; y < bottom; ++y)
            for (int x = 0; x < 160; ++x) mask.row(y)[x] = 255;
        ImageIO::saveImage(mask, path(name));
        return path(name);
    };
    const QString sky = band("sky.png", 0, 50), nebula = band("nebula.png", 0, 20);
    Result r = run({"--effect", "NightSky", "--selection", sky, in, "-o", path("both.png")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    r = run(
        {"--effect", "NightSky", "--selection", sky, "--nebula-zones", nebula, in, "-o", path("two.png")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const auto original = ImageIO::loadImage(in), both = ImageIO::loadImage(path("both.png")),
               two = ImageIO::loadImage(path("two.png"));
    EXPECT_NE(both.samples, two.samples);
    int changedInZones = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 160; ++x)
            for (int c = 0; c < 3; ++c) {
                const bool changed =
                    two.row(y)[x * two.channels() + c] != original.row(y)[x * original.channels() + c];
                if (y >= 50) {
                    ASSERT_FALSE(changed) << x << "," << y;
                }
                changedInZones += changed;
            }
    EXPECT_GT(changedInZones, 100);
}

TEST_F(RenderCli, SunBatchRunsOverTheLinkMatchTheRenderer) {
    const QString in = writeImage("in.png", 160, 100, ImageIO::ColorModel::RGB, -1);
    Result r = run({"--effect", "Sun", "--preset", "ORVEX Sunset", "--sun-center", "70%,25%", "--sun-radius",
                    "9", in, "-o", path("render.png")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    QFile params(path("batch.txt"));
    ASSERT_TRUE(params.open(QIODevice::WriteOnly));
    params.write(
        "batch\n{\n    effect Sun\n    preset \"ORVEX Sunset\"\n    sun\n    {\n        center \"70%,25%\"\n"
        "        radius 9\n    }\n}\n");
    params.close();
    QProcess host;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", dir.path());
    host.setProcessEnvironment(env);
    host.start(QStringLiteral(ELEMORAMA_BIN_DIR "/elemorama"),
               {"edit", in, "-o", path("link.png"), "--batch", "--params", path("batch.txt")});
    ASSERT_TRUE(host.waitForFinished(120000));
    ASSERT_EQ(host.exitCode(), 0) << host.readAllStandardError().toStdString();
    const auto viaRender = ImageIO::loadImage(path("render.png")),
               viaLink = ImageIO::loadImage(path("link.png"));
    ASSERT_EQ(viaLink.width, 160);
    int changed = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 160; ++x)
            for (int c = 0; c < 3; ++c) {
                ASSERT_EQ(viaRender.row(y)[x * viaRender.channels() + c],
                          viaLink.row(y)[x * viaLink.channels() + c])
                    << x << "," << y;
                changed += viaRender.row(y)[x * viaRender.channels() + c] != 0;
            }
    EXPECT_GT(changed, 0);
}

TEST_F(RenderCli, LinesAndPointsForTheEffectsDrawnAlongThem) {
    const QString in = writeImage("in.png", 160, 100, ImageIO::ColorModel::RGB, -1);
    QFile rain(path("rain.xml"));
    ASSERT_TRUE(rain.open(QIODevice::WriteOnly));
    rain.write("<elemorama type=\"Rain\"><trunk x1=\"0\" y1=\"0.5\" x2=\"1\" y2=\"0.5\"/></elemorama>");
    rain.close();
    QFile lines(path("lines.xml"));
    ASSERT_TRUE(lines.open(QIODevice::WriteOnly));
    // Fractions of the width and height: (0, 80) - (160, 70) and (40, 90) - (120, 60) on 160 x 100.
    lines.write("<elemorama type=\"TrunkList\">\n  <trunk x1=\"0\" y1=\"0.8\" x2=\"1\" y2=\"0.7\"/>\n"
                "  <trunk><begin x=\"0.25\" y=\"0.9\"/><end x=\"0.75\" y=\"0.6\"/></trunk>\n</elemorama>\n");
    lines.close();
    const QString out = path("out.png");

    struct Case {
        QStringList args;
        QString message;
    } bad[] = {
        {{"--effect", "Aurora", in, "-o", out}, "Aurora is drawn along lines: give at least one"},
        {{"--effect", "Lightning", "--line", "10,20,30", in, "-o", out},
         "--line: '10,20,30' is not a line X1,Y1,X2,Y2"},
        {{"--effect", "Aurora", "--line", "5,5,5.2,5", in, "-o", out},
         "--line: the line '5,5,5.2,5' has no length"},
        {{"--effect", "Aurora", "--line", "0,0,1e12,5", in, "-o", out}, "is not a line"},
        {{"--effect", "Aurora", "--lines", path("none.xml"), in, "-o", out},
         "--lines: Error loading from none.xml"},
        {{"--effect", "Aurora", "--lines", rain.fileName(), in, "-o", out},
         "--lines: File rain.xml is for Rain effect"},
        {{"--effect", "Rain", "--line", "0,0,10,10", in, "-o", out}, "Rain takes no lines"},
        {{"--effect", "Aurora", "--line", "0,0,10,10", "--points", "1,2,3,4,5,6", in, "-o", out},
         "Aurora takes no points"},
        {{"--effect", "Rainbow", "--points", "1,2,3,4,5", in, "-o", out},
         "--points: '1,2,3,4,5' is not three points"},
    };
    for (const Case& c : bad) {
        const Result r = run(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(c.message)) << r.err.toStdString();
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(out));

    // Lines given one by one and the same lines from a file draw the same picture.
    Result r = run({"--effect", "Aurora", "--line", "0,80,160,70", "--line", "40 90 120 60", in, "-o",
                    path("by_line.png")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    r = run({"--effect", "Aurora", "--lines", lines.fileName(), in, "-o", path("by_file.png")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const auto original = ImageIO::loadImage(in), byLine = ImageIO::loadImage(path("by_line.png")),
               byFile = ImageIO::loadImage(path("by_file.png"));
    EXPECT_EQ(byLine.samples, byFile.samples);
    EXPECT_NE(byLine.samples, original.samples);

    // A built-in line set by number; the rainbow placed as on a fresh picture, or by its points.
    r = run({"--effect", "Lightning", "--lines", "3", in, "-o", path("set.png")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_NE(ImageIO::loadImage(path("set.png")).samples, original.samples);
    r = run({"--effect", "Rainbow", in, "-o", path("bow.png")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_NE(ImageIO::loadImage(path("bow.png")).samples, original.samples);
    r = run({"--effect", "Rainbow", "--points", "10,90,80,20,150,90", in, "-o", path("bow2.png")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_NE(ImageIO::loadImage(path("bow2.png")).samples, ImageIO::loadImage(path("bow.png")).samples);
    r = run({"--effect", "Rainbow", "--points", "10,50,80,50,150,50", in, "-o", path("flat.png")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("admit no arc")) << r.err.toStdString();
    EXPECT_EQ(ImageIO::loadImage(path("flat.png")).samples, original.samples);

    // Over the link: a `lines` node in the batch node draws what the batch renderer draws.
    auto viaLink = [&](const QByteArray& node, const QString& output) {
        QFile params(path("params.info"));
        EXPECT_TRUE(params.open(QIODevice::WriteOnly | QIODevice::Truncate));
        params.write(node);
        params.close();
        QProcess host;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", dir.path());
        host.setProcessEnvironment(env);
        host.start(QStringLiteral(ELEMORAMA_BIN_DIR "/elemorama"),
                   {"edit", in, "-o", output, "--params", params.fileName()});
        EXPECT_TRUE(host.waitForFinished(120000));
        return Result{host.exitCode(), {}, QString::fromUtf8(host.readAllStandardError())};
    };
    r = viaLink("batch\n{\n    effect Aurora\n    lines\n    {\n        line \"0,80,160,70\"\n"
                "        line \"40,90,120,60\"\n    }\n}\n",
                path("link.png"));
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const auto linked = ImageIO::loadImage(path("link.png"));
    ASSERT_EQ(linked.width, 160);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 160; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(byLine.row(y)[x * byLine.channels() + c], linked.row(y)[x * linked.channels() + c])
                    << x << "," << y;
    r = viaLink("batch { effect Aurora\nlines { line \"1,2,3\" } }\n", path("link_bad.png"));
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains("is not a line")) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(path("link_bad.png")));
}

TEST_F(RenderCli, RainbowFilesPlaceTheBowAndShieldThePicture) {
    const QString in = writeImage("in.png", 160, 100, ImageIO::ColorModel::RGB, -1);
    // The shield covers the right half; grey 8-bit, as the marker leaves it.
    QImage shield(160, 100, QImage::Format_Grayscale8);
    shield.fill(0);
    for (int y = 0; y < 100; ++y) std::fill_n(shield.scanLine(y) + 80, 80, uchar(255));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    shield.save(&buffer, "PNG");
    QFile bow(path("bow.elemor"));
    ASSERT_TRUE(bow.open(QIODevice::WriteOnly));
    bow.write("<elemorama type=\"Rainbow\"><points><pt0 x=\"0.0625\" y=\"0.9\"/><pt1 x=\"0.5\" y=\"0.2\"/>"
              "<pt2 x=\"0.9375\" y=\"0.9\"/></points><strokes>" +
              png.toBase64() + "</strokes></elemorama>");
    bow.close();
    Result r = run({"--effect", "Rainbow", "--points", bow.fileName(), in, "-o", path("shielded.png")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    r = run({"--effect", "Rainbow", "--points", "10,90,80,20,150,90", in, "-o", path("free.png")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const auto original = ImageIO::loadImage(in), shielded = ImageIO::loadImage(path("shielded.png")),
               free = ImageIO::loadImage(path("free.png"));
    int changed = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 160; ++x)
            for (int c = 0; c < 3; ++c) {
                const int i = x * 3 + c;
                if (x >= 80) {
                    ASSERT_EQ(shielded.row(y)[i], original.row(y)[i]) << x << "," << y;
                } else {
                    ASSERT_EQ(shielded.row(y)[i], free.row(y)[i]) << x << "," << y;
                    changed += shielded.row(y)[i] != original.row(y)[i];
                }
            }
    EXPECT_GT(changed, 100);
    bow.open(QIODevice::WriteOnly | QIODevice::Truncate);
    bow.write("<elemorama type=\"Rainbow\"><points/></elemorama>");
    bow.close();
    r = run({"--effect", "Rainbow", "--points", bow.fileName(), in, "-o", path("none.png")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("--points: Error loading from bow.elemor: No data for tool"))
        << r.err.toStdString();
}

// An effect process killed at some moment of the run, from its start to the write-back: the host
// says so, exits with a failure, and both its input and the output it would have replaced are byte
// for byte as before.
TEST_F(RenderCli, EditKeepsInputAndOutputWhenTheEffectProcessDies) {
    const QString in = writeImage("in.png", 1200, 800, ImageIO::ColorModel::RGB, -1);
    const QString out = writeImage("out.png", 40, 30, ImageIO::ColorModel::Grey, -1); // the previous file
    auto bytesOf = [](const QString& file) {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    // The host's children, from the kernel's list of its main thread's.
    auto childOf = [](qint64 pid) {
        QFile f(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
        if (!f.open(QIODevice::ReadOnly)) return qint64(0);
        return f.readAll().trimmed().split(' ').first().toLongLong();
    };
    const QByteArray inBefore = bytesOf(in), outBefore = bytesOf(out);
    int failed = 0;
    for (const int delayMs : {0, 50, 150, 300, 500, 800, 1200}) {
        SCOPED_TRACE(delayMs);
        QProcess host;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", dir.path());
        env.insert("ORVEX_OXF_TIMEOUTS_MS", "10000,10000,250"); // a dead process is noticed in 250 ms
        host.setProcessEnvironment(env);
        host.start(QStringLiteral(ELEMORAMA_BIN_DIR "/elemorama"),
                   {"edit", in, "-o", out, "--effect", "Rain", "--preset", "ORVEX Storm"});
        ASSERT_TRUE(host.waitForStarted());
        QThread::msleep(delayMs);
        qint64 fx = 0;
        for (int i = 0; i < 200 && !fx && host.state() == QProcess::Running; ++i) {
            fx = childOf(host.processId());
            if (!fx) QThread::msleep(5);
        }
        if (fx) kill(pid_t(fx), SIGKILL);
        ASSERT_TRUE(host.waitForFinished(60000));
        const QString err = QString::fromUtf8(host.readAllStandardError());
        if (host.exitCode() == 0) {
            // The run finished before the kill: the output is the complete new picture.
            EXPECT_EQ(ImageIO::loadImage(out).width, 1200);
        } else {
            ++failed;
            EXPECT_TRUE(err.contains("elemorama-fx") || err.contains("the effect process")) << err.toStdString();
            EXPECT_EQ(bytesOf(out), outBefore);
        }
        EXPECT_EQ(bytesOf(in), inBefore);
        // Put the previous output back for the next case.
        QFile::remove(out);
        QFile f(out);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(outBefore);
    }
    EXPECT_GT(failed, 0) << "no kill came during a run";
}
