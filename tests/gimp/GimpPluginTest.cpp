// The GIMP plug-in as GIMP drives it: GIMP runs headless (gimp -i) with a Script-Fu batch that
// loads a photo, selects, calls plug-in-elemorama and exports the layer; the pixels must be the
// ones elemorama-render gives for the same image, parameters and selection.
#include "imageio/ImageIO.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstring>

using namespace Orvex;

namespace {

struct GimpRun {
    bool finished = false;
    int exitCode = -1;
    QString err;
};

class GimpPlugin : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString gimp;

    QString path(const QString& name) const { return dir.filePath(name); }
    static QString q(const QString& text) { return '"' + text + '"'; }

    void SetUp() override {
        gimp = QStandardPaths::findExecutable(QStringLiteral("gimp"));
        if (gimp.isEmpty()) GTEST_SKIP() << "gimp is not installed";
        ASSERT_TRUE(dir.isValid());
        // A private GIMP profile that finds the plug-in in the build tree before the system's.
        QDir(dir.path()).mkpath(QStringLiteral("gimp/gradients"));
        QDir(dir.path()).mkpath(QStringLiteral("run"));
        QFile rc(path(QStringLiteral("gimp/gimprc")));
        ASSERT_TRUE(rc.open(QIODevice::WriteOnly));
        QDir plugins(QStringLiteral(ELEMORAMA_GIMP_PLUGIN_FOLDER));
        plugins.cdUp();
        rc.write(QStringLiteral("(plug-in-path \"%1:${gimp_plug_in_dir}/plug-ins\")\n")
                     .arg(plugins.absolutePath())
                     .toUtf8());
        rc.close();
        // The photo, small enough that GIMP's start dominates a run.
        QImage photo(QStringLiteral(ELEMORAMA_SHARED_SAMPLES_DIR "/evening_glow_lake_boats.jpg"));
        ASSERT_FALSE(photo.isNull());
        photo = photo.scaled(400, 300, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                    .convertToFormat(QImage::Format_RGB888);
        ASSERT_TRUE(photo.save(path(QStringLiteral("in.png"))));
    }

    QProcessEnvironment environment(const QString& fx) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("GIMP2_DIRECTORY"), path(QStringLiteral("gimp")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), path(QStringLiteral("run")));
        env.insert(QStringLiteral("ELEMORAMA_FX"), fx);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.remove(QStringLiteral("ELEMORAMA_AUTO"));
        return env;
    }

    // Runs the Script-Fu expressions in one headless GIMP; `done` is printed when all of them ran.
    GimpRun runGimp(const QString& script, QProcessEnvironment env = {}) {
        if (env.isEmpty()) env = environment(QStringLiteral(ELEMORAMA_BIN_DIR "/elemorama-fx"));
        QProcess p;
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::SeparateChannels);
        p.start(gimp, {QStringLiteral("-i"), QStringLiteral("-d"), QStringLiteral("-f"), QStringLiteral("-b"),
                       script + QStringLiteral(" (gimp-message \"elemorama-test-done\")"),
                       QStringLiteral("-b"), QStringLiteral("(gimp-quit 0)")});
        GimpRun run;
        run.finished = p.waitForFinished(180000);
        if (!run.finished) p.kill(), p.waitForFinished(5000);
        run.exitCode = p.exitCode();
        run.err = QString::fromUtf8(p.readAllStandardError()) + QString::fromUtf8(p.readAllStandardOutput());
        return run;
    }

    void expectRanThrough(const GimpRun& run) {
        EXPECT_TRUE(run.finished) << "GIMP did not end";
        EXPECT_TRUE(run.err.contains(QStringLiteral("elemorama-test-done"))) << run.err.toStdString();
        // Nothing of the link is left behind: the pad file lives in the runtime folder.
        EXPECT_TRUE(QDir(path(QStringLiteral("run"))).entryList(QDir::Files | QDir::Hidden).isEmpty());
    }

    // elemorama-render on the same image, selection and effect.
    void render(const QString& in, const QString& selection, const QString& effect, const QString& out,
                const QStringList& more = {}) {
        QProcess p;
        p.setProcessEnvironment(environment(QString()));
        QStringList args = QStringList{QStringLiteral("--effect"), effect, in, QStringLiteral("-o"), out} + more;
        if (!selection.isEmpty()) args << QStringLiteral("--selection") << selection;
        p.start(QStringLiteral(ELEMORAMA_BIN_DIR "/elemorama-render"), args);
        ASSERT_TRUE(p.waitForFinished(120000));
        ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    }

    // Script-Fu that loads `in`, runs `body` with `img` and its active drawable `d` bound, and
    // exports `d` to `out`.
    static QString onImage(const QString& in, const QString& body, const QString& out) {
        return QStringLiteral("(let* ((img (car (gimp-file-load RUN-NONINTERACTIVE %1 %1)))"
                              "       (d (car (gimp-image-get-active-drawable img))))"
                              "  %2"
                              "  (file-png-save RUN-NONINTERACTIVE img d %3 %3 0 9 0 0 0 0 0))")
            .arg(q(in), body, q(out));
    }

    // The params argument of a non-interactive call: a batch run of the effect's defaults.
    static QString batch(const QString& effect) {
        return QStringLiteral("\"batch { effect \\\"%1\\\" }\"").arg(effect);
    }
};

// The decoded samples are equal: layout and every byte.
void expectSameSamples(const QString& a, const QString& b) {
    const ImageIO::ImageRecord x = ImageIO::loadImage(a), y = ImageIO::loadImage(b);
    ASSERT_EQ(x.width, y.width);
    ASSERT_EQ(x.height, y.height);
    ASSERT_EQ(x.model, y.model) << ImageIO::describe(x).toStdString() << " vs " << ImageIO::describe(y).toStdString();
    ASSERT_EQ(x.sampleType, y.sampleType);
    ASSERT_EQ(x.hasAlpha, y.hasAlpha);
    size_t differing = 0;
    for (size_t i = 0; i < x.samples.size(); ++i) differing += x.samples[i] != y.samples[i];
    EXPECT_EQ(differing, 0u) << "of " << x.samples.size() << " bytes";
}

bool sameSamples(const QString& a, const QString& b) {
    const ImageIO::ImageRecord x = ImageIO::loadImage(a), y = ImageIO::loadImage(b);
    return x.width == y.width && x.height == y.height && x.samples == y.samples;
}

} // namespace

// An antialiased ellipse gives the selection soft edges: the effect blends them itself, so GIMP
// must not blend them again, nor clip the rain that falls out of the selection.
TEST_F(GimpPlugin, EightBitResultIsTheBatchRenderersByteForByte) {
    QString script;
    for (const QString& effect : {QStringLiteral("Rain"), QStringLiteral("Frost")}) {
        script += QStringLiteral(
                      "(let* ((img (car (gimp-file-load RUN-NONINTERACTIVE %1 %1)))"
                      "       (d (car (gimp-image-get-active-drawable img))))"
                      "  (gimp-image-select-ellipse img CHANNEL-OP-REPLACE 40 30 300 160)"
                      "  (let ((sel (car (gimp-selection-save img))))"
                      "    (file-png-save RUN-NONINTERACTIVE img sel %2 %2 0 9 0 0 0 0 0)"
                      "    (gimp-image-remove-channel img sel))"
                      "  (plug-in-elemorama RUN-NONINTERACTIVE img d %3)"
                      "  (file-png-save RUN-NONINTERACTIVE img d %4 %4 0 9 0 0 0 0 0)"
                      "  (gimp-message (if (= d (car (gimp-image-get-active-drawable img))) \"active-kept\" \"active-lost\"))"
                      "  (gimp-message (if (= TRUE (car (gimp-selection-is-empty img))) \"selection-lost\" \"selection-kept\")))")
                      .arg(q(path("in.png")), q(path("sel-" + effect + ".png")), batch(effect),
                           q(path("gimp-" + effect + ".png")));
    }
    const GimpRun run = runGimp(script);
    expectRanThrough(run);
    EXPECT_EQ(run.err.count(QStringLiteral("active-kept")), 2) << run.err.toStdString();
    EXPECT_EQ(run.err.count(QStringLiteral("selection-kept")), 2);
    for (const QString& effect : {QStringLiteral("Rain"), QStringLiteral("Frost")}) {
        SCOPED_TRACE(effect.toStdString());
        render(path("in.png"), path("sel-" + effect + ".png"), effect, path("render-" + effect + ".png"));
        expectSameSamples(path("gimp-" + effect + ".png"), path("render-" + effect + ".png"));
        EXPECT_FALSE(sameSamples(path("gimp-" + effect + ".png"), path("in.png"))) << "the effect drew nothing";
    }
}

// A layer that sticks out of the canvas at an offset, and a selection that covers part of it and
// part of the empty canvas: the selection is read in the layer's frame, unselected off the canvas.
TEST_F(GimpPlugin, LayerWithOffsetsAndSelectionPartlyOutside) {
    const int offsetX = 150, offsetY = 140;
    const QString script =
        QStringLiteral("(let* ((img (car (gimp-image-new 500 400 RGB)))"
                       "       (d (car (gimp-file-load-layer RUN-NONINTERACTIVE img %1))))"
                       "  (gimp-image-insert-layer img d 0 0)"
                       "  (gimp-layer-set-offsets d %2 %3)"
                       "  (gimp-image-select-rectangle img CHANNEL-OP-REPLACE 100 100 300 250)"
                       "  (let ((sel (car (gimp-selection-save img))))"
                       "    (file-png-save RUN-NONINTERACTIVE img sel %4 %4 0 9 0 0 0 0 0))"
                       "  (plug-in-elemorama RUN-NONINTERACTIVE img d %5)"
                       "  (file-png-save RUN-NONINTERACTIVE img d %6 %6 0 9 0 0 0 0 0))")
            .arg(q(path("in.png")))
            .arg(offsetX)
            .arg(offsetY)
            .arg(q(path("canvas-sel.png")), batch(QStringLiteral("Rain")), q(path("gimp.png")));
    expectRanThrough(runGimp(script));

    // The canvas selection moved into the layer's frame, nothing beyond the canvas.
    const QImage canvas = QImage(path("canvas-sel.png")).convertToFormat(QImage::Format_Grayscale8);
    ASSERT_EQ(canvas.size(), QSize(500, 400));
    QImage layerSel(400, 300, QImage::Format_Grayscale8);
    layerSel.fill(0);
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 400; ++x)
            if (x + offsetX < canvas.width() && y + offsetY < canvas.height())
                layerSel.scanLine(y)[x] = canvas.constScanLine(y + offsetY)[x + offsetX];
    ASSERT_TRUE(layerSel.save(path("layer-sel.png")));
    render(path("in.png"), path("layer-sel.png"), QStringLiteral("Rain"), path("render.png"));
    expectSameSamples(path("gimp.png"), path("render.png"));
}

// Greyscale with alpha, 16-bit and floating-point RGB go through the same way: the exported
// input, processed by the batch renderer, is what the plug-in made of it.
TEST_F(GimpPlugin, GreyWithAlphaSixteenBitAndFloat) {
    const QString rain = " (plug-in-elemorama RUN-NONINTERACTIVE img d " + batch(QStringLiteral("Rain")) + ")";
    auto exported = [&](const char* name) {
        return QStringLiteral(" (file-png-save RUN-NONINTERACTIVE img d %1 %1 0 9 0 0 0 0 0)").arg(q(path(name)));
    };
    const QString script =
        onImage(path("in.png"),
                "(gimp-image-convert-grayscale img) (gimp-layer-add-alpha d)" + exported("grey-in.png") + rain,
                path("grey.png")) +
        onImage(path("in.png"), "(gimp-image-convert-precision img PRECISION-U16-GAMMA)" + exported("u16-in.png") + rain,
                path("u16.png")) +
        onImage(path("in.png"),
                "(gimp-image-convert-precision img PRECISION-FLOAT-GAMMA)" + exported("float-in.png") + rain,
                path("float.png"));
    expectRanThrough(runGimp(script));
    {
        SCOPED_TRACE("grey with alpha");
        const ImageIO::ImageRecord in = ImageIO::loadImage(path("grey-in.png"));
        EXPECT_EQ(in.model, ImageIO::ColorModel::Grey);
        EXPECT_TRUE(in.hasAlpha);
        render(path("grey-in.png"), QString(), QStringLiteral("Rain"), path("grey-render.png"));
        expectSameSamples(path("grey.png"), path("grey-render.png"));
    }
    {
        SCOPED_TRACE("16-bit");
        EXPECT_EQ(ImageIO::loadImage(path("u16-in.png")).sampleType, ImageIO::UInt16);
        render(path("u16-in.png"), QString(), QStringLiteral("Rain"), path("u16-render.png"));
        expectSameSamples(path("u16.png"), path("u16-render.png"));
    }
    {
        // Floating point goes through the effect unquantised, so it matches the 16-bit render of
        // its export to within rounding, not byte for byte.
        SCOPED_TRACE("float");
        render(path("float-in.png"), QString(), QStringLiteral("Rain"), path("float-render.png"));
        const ImageIO::ImageRecord got = ImageIO::loadImage(path("float.png"));
        const ImageIO::ImageRecord want = ImageIO::loadImage(path("float-render.png"));
        const ImageIO::ImageRecord before = ImageIO::loadImage(path("float-in.png"));
        ASSERT_EQ(got.samples.size(), want.samples.size());
        ASSERT_EQ(got.sampleType, ImageIO::UInt16);
        const auto* g = reinterpret_cast<const uint16_t*>(got.samples.data());
        const auto* w = reinterpret_cast<const uint16_t*>(want.samples.data());
        const auto* b = reinterpret_cast<const uint16_t*>(before.samples.data());
        int worst = 0;
        size_t changed = 0;
        for (size_t k = 0; k < got.samples.size() / 2; ++k) {
            worst = std::max(worst, std::abs(int(g[k]) - int(w[k])));
            changed += g[k] != b[k];
        }
        EXPECT_LE(worst, 2 * 257) << "more than two 8-bit steps from the 16-bit render";
        EXPECT_GT(changed, got.samples.size() / 40) << "the effect drew little or nothing";
    }
}

// Whatever goes wrong, or when the user cancels, GIMP gets a message (or nothing, for a cancel),
// ends, and the layer keeps its pixels.
TEST_F(GimpPlugin, CancelAndFailuresLeaveTheLayerUnchanged) {
    // A process that dies the moment it starts.
    QFile crash(path("crashing-fx"));
    ASSERT_TRUE(crash.open(QIODevice::WriteOnly));
    crash.write("#!/bin/sh\nkill -SEGV $$\n");
    crash.close();
    crash.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    struct Case {
        const char* name;
        QString fx;
        const char* mode;
        const char* prepare;
        const char* message; // expected on GIMP's error output; empty for a cancel
    };
    const QString fx = QStringLiteral(ELEMORAMA_BIN_DIR "/elemorama-fx");
    const Case cases[] = {
        {"cancelled", fx, "RUN-INTERACTIVE", "", ""},
        {"missing", path("no-such-fx"), "RUN-NONINTERACTIVE", "", "is missing"},
        // Ending before or after the start is checked: either message names the process.
        {"crashing", path("crashing-fx"), "RUN-NONINTERACTIVE", "", "the effect process " "%1/crashing-fx"},
        {"not an effect", fx, "RUN-NONINTERACTIVE", "", "The effect failed"},
        {"indexed", fx, "RUN-NONINTERACTIVE",
         "(gimp-image-convert-indexed img CONVERT-DITHER-NONE CONVERT-PALETTE-GENERATE 255 FALSE FALSE \"\")",
         "convert this indexed image"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString out = path(QStringLiteral("out-%1.png").arg(QString::fromLatin1(c.name).replace(' ', '-')));
        const QString params = QString::fromLatin1(c.name) == QLatin1String("not an effect")
                                   ? batch(QStringLiteral("NoSuchEffect"))
                                   : batch(QStringLiteral("Rain"));
        const QString script =
            onImage(path("in.png"),
                    QStringLiteral("%1 (gimp-image-select-rectangle img CHANNEL-OP-REPLACE 10 10 200 150)"
                                   " (catch (gimp-message \"call-failed\") (plug-in-elemorama %2 img d %3))")
                        .arg(QString::fromLatin1(c.prepare), QString::fromLatin1(c.mode), params),
                    out);
        QProcessEnvironment env = environment(c.fx);
        if (QString::fromLatin1(c.name) == QLatin1String("cancelled"))
            env.insert(QStringLiteral("ELEMORAMA_AUTO"), QStringLiteral("cancel"));
        const GimpRun run = runGimp(script, env);
        expectRanThrough(run);
        if (*c.message) {
            EXPECT_TRUE(run.err.contains(QString::fromLatin1(c.message).replace(QLatin1String("%1"), dir.path())))
                << run.err.toStdString();
            EXPECT_TRUE(run.err.contains(QStringLiteral("call-failed")));
        }
        if (QString::fromLatin1(c.name) != QLatin1String("indexed")) { // the palette changed its pixels
            EXPECT_TRUE(sameSamples(out, path("in.png")));
        }
    }
}

// The smallest drawable there is.
TEST_F(GimpPlugin, OnePixelLayer) {
    QImage one(1, 1, QImage::Format_RGB888);
    one.fill(QColor(90, 120, 200));
    ASSERT_TRUE(one.save(path("one.png")));
    const QString script = onImage(path("one.png"),
                                   "(plug-in-elemorama RUN-NONINTERACTIVE img d " + batch(QStringLiteral("Rain")) + ")",
                                   path("gimp-one.png"));
    expectRanThrough(runGimp(script));
    render(path("one.png"), QString(), QStringLiteral("Rain"), path("render-one.png"));
    expectSameSamples(path("gimp-one.png"), path("render-one.png"));
}

// "Repeat Last" (run with last values) reruns the last call's parameters without a window.
TEST_F(GimpPlugin, RepeatLastRerunsTheLastParameters) {
    const QString select = QStringLiteral("(gimp-image-select-rectangle img CHANNEL-OP-REPLACE 50 20 250 120)");
    const QString first =
        onImage(path("in.png"), select + " (plug-in-elemorama RUN-NONINTERACTIVE img d " + batch(QStringLiteral("Frost")) + ")",
                path("first.png"));
    const QString again =
        onImage(path("in.png"), select + " (plug-in-elemorama RUN-WITH-LAST-VALS img d \"\")", path("again.png"));
    const GimpRun run = runGimp(first + again);
    expectRanThrough(run);
    EXPECT_FALSE(sameSamples(path("first.png"), path("in.png")));
    expectSameSamples(path("again.png"), path("first.png"));
}

// The interactive run, with a window that a script drives (choose Rain, density 8, paint a stroke,
// Apply): the layer gets what elemorama-render gives for the same choices and the window's
// selection, and Repeat Last gives the same again from the parameter text the window answered.
TEST_F(GimpPlugin, InteractiveApplyAndRepeatLast) {
    auto call = [&](const char* mode, const char* out) {
        return onImage(path("in.png"),
                       QStringLiteral("(gimp-image-select-rectangle img CHANNEL-OP-REPLACE 0 0 400 150)"
                                      " (plug-in-elemorama %1 img d \"\")")
                           .arg(QString::fromLatin1(mode)),
                       path(out));
    };
    QProcessEnvironment env = environment(QStringLiteral(ELEMORAMA_BIN_DIR "/elemorama-fx-scripted"));
    env.insert(QStringLiteral("ELEMORAMA_TEST_SCRIPT"), QStringLiteral("apply"));
    env.insert(QStringLiteral("ELEMORAMA_TEST_MASK_OUT"), path("painted.png"));
    const GimpRun run = runGimp(call("RUN-INTERACTIVE", "window.png") + call("RUN-WITH-LAST-VALS", "again.png"), env);
    expectRanThrough(run);
    EXPECT_TRUE(run.err.contains(QStringLiteral("script: density 8, commit 1"))) << run.err.toStdString();
    ASSERT_TRUE(QFile::exists(path("painted.png")));

    const QStringList density{QStringLiteral("--set"), QStringLiteral("Den=8")};
    render(path("in.png"), path("painted.png"), QStringLiteral("Rain"), path("render.png"), density);
    EXPECT_FALSE(sameSamples(path("window.png"), path("in.png"))) << "the window applied nothing";
    expectSameSamples(path("window.png"), path("render.png"));
    // Repeat Last runs without the window, with the window's effect and values, on GIMP's own
    // selection (not the stroke the script added).
    QImage rectangle(400, 300, QImage::Format_Grayscale8);
    rectangle.fill(0);
    for (int y = 0; y < 150; ++y) memset(rectangle.scanLine(y), 255, 400);
    ASSERT_TRUE(rectangle.save(path("rectangle.png")));
    render(path("in.png"), path("rectangle.png"), QStringLiteral("Rain"), path("render-again.png"), density);
    expectSameSamples(path("again.png"), path("render-again.png"));
}
