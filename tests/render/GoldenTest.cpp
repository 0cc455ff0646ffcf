// Golden images: small renders of the sample photo compared with reviewed references.
//
// The comparator's numbers (8-bit samples):
//   per-sample threshold  2     a sample may differ by up to this much without counting
//   allowed fraction      0.001 of all samples may exceed the threshold
//   hard limit            24    no sample may differ by more
// On failure the actual image, the expected image and an amplified difference are written next to
// the test binary (golden_<case>.actual.png, .expected.png, .diff.png). References change only
// through scripts/update-golden (ELEMORAMA_UPDATE_GOLDEN=1), committed with the reason.
#include "main/render/RenderJob.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTextStream>

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

struct GoldenCase {
    QString name;
    RenderRequest request;
};

// A .params file: "effect: Rain", "preset: ORVEX Storm", "set: Den=8" (repeatable) and
// "selection: sky" (the sky mask) or "selection: all".
GoldenCase readCase(const QString& paramsPath) {
    GoldenCase c;
    c.name = QFileInfo(paramsPath).completeBaseName();
    c.request.input = goldenDir + "/input.png";
    c.request.selection = goldenDir + "/input.sky.png";
    QFile file(paramsPath);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith('#')) continue;
        const QString key = line.section(':', 0, 0).trimmed(), value = line.section(':', 1).trimmed();
        if (key == "effect")
            c.request.spec.effect = value;
        else if (key == "preset")
            c.request.spec.preset = value;
        else if (key == "set")
            c.request.spec.overrides.push_back({value.section('=', 0, 0), value.section('=', 1)});
        else if (key == "selection" && value == "all")
            c.request.selection.clear();
        else
            ADD_FAILURE() << "unknown line in " << paramsPath.toStdString() << ": " << line.toStdString();
    }
    return c;
}

} // namespace

TEST(Golden, RendersMatchTheReferences) {
    ensureInputs();
    const QStringList cases = QDir(goldenDir).entryList({"*.params"}, QDir::Files, QDir::Name);
    ASSERT_GE(cases.size(), 4);
    const QString outDir = QStringLiteral(ELEMORAMA_BIN_DIR);
    for (const QString& file : cases) {
        const GoldenCase c = readCase(goldenDir + "/" + file);
        SCOPED_TRACE(c.name.toStdString());
        RenderRequest request = c.request;
        const QString expectedPath = goldenDir + "/" + c.name + ".png";
        request.output = updating() ? expectedPath : outDir + "/golden_" + c.name + ".actual.png";
        ASSERT_NO_THROW(runRender(request));
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
