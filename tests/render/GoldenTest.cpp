// Golden images: small renders of the sample photo compared with reviewed references.
//
// The comparator's numbers (8-bit samples):
//   per-sample threshold  2     a sample may differ by up to this much without counting
//   allowed fraction      0.001 of all samples may exceed the threshold
//   hard limit            24    no sample may differ by more
// On failure the actual image, the expected image and an amplified difference are written next to
// the test binary (golden_<case>.actual.png, .expected.png, .diff.png). References change only
// through scripts/update-golden (ELEMORAMA_UPDATE_GOLDEN=1), committed with the reason.
#include "document/filters/frost/FrostCrystals.h"
#include "main/render/RenderJob.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTextStream>

#include <algorithm>
#include <cstdlib>

using namespace Orvex;
using namespace Orvex::Render;

namespace {

constexpr int SampleThreshold = 2;
constexpr double AllowedFraction = 0.001;
constexpr int HardLimit = 24;

const QString goldenDir = QStringLiteral(ELEMORAMA_TEST_DATA_DIR "/golden");
bool updating() {
    return qEnvironmentVariableIsSet("ELEMORAMA_UPDATE_GOLDEN");
}

// The inputs: the sample photo and its sky mask at 320 x 240, made once from samples/ on update.
void ensureInputs() {
    const QString input = goldenDir + "/input.png", sky = goldenDir + "/input.sky.png";
    if (!updating() && QFile::exists(input) && QFile::exists(sky)) return;
    QDir().mkpath(goldenDir);
    const QImage photo(QStringLiteral(ELEMORAMA_SAMPLES_DIR "/evening_glow_lake_boats.jpg"));
    const QImage mask(QStringLiteral(ELEMORAMA_SAMPLES_DIR "/evening_glow_lake_boats.sky.png"));
    ASSERT_FALSE(photo.isNull());
    ASSERT_FALSE(mask.isNull());
    photo.convertToFormat(QImage::Format_RGB888)
        .scaled(320, 240, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .save(input);
    mask.convertToFormat(QImage::Format_Grayscale8)
        .scaled(320, 240, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .save(sky);
}

// Where a case's picture comes from: the stored photo (optionally resampled to another size) or a
// synthetic dusk scene drawn here, which stays small as a PNG however large it is.
struct GoldenCase {
    QString name;
    RenderRequest request;
    QString input = QStringLiteral("photo");
    QSize size;                                // empty: the input's own size
    QString selection = QStringLiteral("sky"); // sky, ground, hill (dusk only) or all
};

// The dusk scene: a sky darkening upwards over a strip of dark ground with a hill in the middle;
// `ground` receives the strip and the hill as a selection, `hill` the hill alone (255 selected).
QImage duskScene(const QSize& size, QImage* ground, QImage* hill) {
    QImage image(size, QImage::Format_RGB888);
    ground->operator=(QImage(size, QImage::Format_Grayscale8));
    hill->operator=(QImage(size, QImage::Format_Grayscale8));
    const int w = size.width(), h = size.height();
    for (int y = 0; y < h; ++y) {
        uchar* px = image.scanLine(y);
        uchar* g = ground->scanLine(y);
        uchar* m = hill->scanLine(y);
        for (int x = 0; x < w; ++x) {
            // Integer arithmetic only, so that the scene is the same on every machine. The hill's
            // flanks fall linearly from its top at 3/5 of the height to the foot at 11/12.
            const int top = h * 3 / 5, foot = h * 11 / 12;
            const int fromCentre = std::abs(2 * x - w);
            const int slope = top + (foot - top) * fromCentre / std::max(1, w * 2 / 5);
            const bool onHill = y >= slope && y < foot;
            const bool onGround = onHill || y >= foot;
            const int t = 255 * y / h;
            px[3 * x + 0] = uchar(onGround ? 28 : 20 + t * 3 / 4);
            px[3 * x + 1] = uchar(onGround ? 24 + (onHill ? 6 : 0) : 24 + t / 3);
            px[3 * x + 2] = uchar(onGround ? 22 : 70 + t / 4);
            g[x] = onGround ? 255 : 0;
            m[x] = onHill ? 255 : 0;
        }
    }
    return image;
}

// A .params file: "effect: Rain", "preset: ORVEX Storm", "set: Den=8" (repeatable), "input: photo"
// or "input: dusk" with an optional size ("input: dusk 640x480"), "selection: sky" (the default),
// "selection: ground" (what is not sky), "selection: hill" (the dusk scene's hill) or
// "selection: all", "horizon: 92" (Water), "line: X1,Y1,X2,Y2" (repeatable), "lines: FILE" or a
// built-in line set (Aurora, Lightning) and "points: X0,Y0,X1,Y1,X2,Y2" (Rainbow).
GoldenCase readCase(const QString& paramsPath) {
    GoldenCase c;
    c.name = QFileInfo(paramsPath).completeBaseName();
    QFile file(paramsPath);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith('#')) continue;
        const QString key = line.section(':', 0, 0).trimmed(), value = line.section(':', 1).trimmed();
        const QStringList words = value.split(' ', Qt::SkipEmptyParts);
        if (key == "effect")
            c.request.spec.effect = value;
        else if (key == "preset")
            c.request.spec.preset = value;
        else if (key == "set")
            c.request.spec.overrides.push_back({value.section('=', 0, 0), value.section('=', 1)});
        else if (key == "selection" &&
                 (value == "all" || value == "sky" || value == "ground" || value == "hill"))
            c.selection = value;
        else if (key == "input" && !words.isEmpty() && (words[0] == "photo" || words[0] == "dusk")) {
            c.input = words[0];
            if (words.size() > 1) {
                const QStringList wh = words[1].split('x');
                c.size = wh.size() == 2 ? QSize(wh[0].toInt(), wh[1].toInt()) : QSize();
                EXPECT_FALSE(c.size.isEmpty()) << "bad size in " << paramsPath.toStdString();
            }
        } else if (key == "horizon")
            c.request.horizon = value;
        else if (key == "line")
            c.request.geometry.lines << value;
        else if (key == "lines")
            c.request.geometry.linesFile = value;
        else if (key == "points")
            c.request.geometry.points = value;
        else
            ADD_FAILURE() << "unknown line in " << paramsPath.toStdString() << ": " << line.toStdString();
    }
    return c;
}

// Writes the case's input and selection next to the test binary and points the request at them.
void prepareInputs(GoldenCase& c, const QString& outDir) {
    QImage image, sky, ground, hill;
    if (c.input == "dusk") {
        image = duskScene(c.size.isEmpty() ? QSize(320, 240) : c.size, &ground, &hill);
        sky = ground;
        sky.invertPixels();
    } else {
        image = QImage(goldenDir + "/input.png");
        sky = QImage(goldenDir + "/input.sky.png").convertToFormat(QImage::Format_Grayscale8);
        if (!c.size.isEmpty() && c.size != image.size()) {
            image = image.scaled(c.size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            sky = sky.scaled(c.size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        }
        ground = sky;
        ground.invertPixels();
    }
    ASSERT_FALSE(image.isNull());
    c.request.input = outDir + "/golden_" + c.name + ".input.png";
    ASSERT_TRUE(image.save(c.request.input));
    if (c.selection == "all") {
        c.request.selection.clear();
    } else {
        c.request.selection = outDir + "/golden_" + c.name + ".selection.png";
        const QImage& mask = c.selection == "sky" ? sky : c.selection == "hill" ? hill : ground;
        ASSERT_FALSE(mask.isNull()) << "no " << c.selection.toStdString() << " selection for this input";
        ASSERT_TRUE(mask.save(c.request.selection));
    }
}

} // namespace

TEST(Golden, RendersMatchTheReferences) {
    ensureInputs();
    const QStringList cases = QDir(goldenDir).entryList({"*.params"}, QDir::Files, QDir::Name);
    ASSERT_GE(cases.size(), 4);
    const QString outDir = QStringLiteral(ELEMORAMA_BIN_DIR);
    for (const QString& file : cases) {
        GoldenCase c = readCase(goldenDir + "/" + file);
        SCOPED_TRACE(c.name.toStdString());
        ASSERT_NO_FATAL_FAILURE(prepareInputs(c, outDir));
        RenderRequest request = c.request;
        // Frost's crust generator runs on from one growth to the next within a process; each case
        // starts from the state of a fresh elemorama-render process, whatever ran before it.
        Document::Filters::setFrostCrustState(1);
        const QString expectedPath = goldenDir + "/" + c.name + ".png";
        request.output = updating() ? expectedPath : outDir + "/golden_" + c.name + ".actual.png";
        ASSERT_NO_THROW(runRender(request));
        QFile::remove(c.request.input);
        if (!c.request.selection.isEmpty()) QFile::remove(c.request.selection);
        if (updating()) continue;
        QImage actual(request.output), expected(expectedPath);
        ASSERT_FALSE(expected.isNull()) << "missing reference; run scripts/update-golden";
        actual = actual.convertToFormat(QImage::Format_RGB888);
        expected = expected.convertToFormat(QImage::Format_RGB888);
        ASSERT_EQ(actual.size(), expected.size());
        QImage diff(actual.size(), QImage::Format_RGB888);
        long over = 0, samples = 0;
        int worst = 0;
        for (int y = 0; y < actual.height(); ++y) {
            const uchar* a = actual.constScanLine(y);
            const uchar* e = expected.constScanLine(y);
            uchar* d = diff.scanLine(y);
            for (int i = 0; i < actual.width() * 3; ++i) {
                const int delta = std::abs(int(a[i]) - int(e[i]));
                worst = std::max(worst, delta);
                over += delta > SampleThreshold;
                ++samples;
                d[i] = uchar(std::min(255, delta * 16));
            }
        }
        const bool ok = worst <= HardLimit && double(over) / double(samples) <= AllowedFraction;
        if (!ok) {
            expected.save(outDir + "/golden_" + c.name + ".expected.png");
            diff.save(outDir + "/golden_" + c.name + ".diff.png");
        } else {
            QFile::remove(request.output);
        }
        EXPECT_TRUE(ok) << "worst difference " << worst << ", " << over << " of " << samples
                        << " samples above the threshold; see " << outDir.toStdString() << "/golden_"
                        << c.name.toStdString() << ".*.png";
    }
}
