// Whole sessions as a user has them: our host (`elemorama edit` without --batch) starts the effect
// process, whose window a script drives with key and mouse events (a preset, a typed value, a
// brush stroke). What Apply writes must equal the batch renderer's output for the same effect,
// parameters and selection; Cancel and closing during
// a render leave no output file and no process behind.
#include "imageio/ImageIO.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Orvex;

namespace {

struct Outcome {
    int exitCode = -1;
    QString err;
};

class Session : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }

    Outcome run(const QString& program, const QStringList& args, const QString& script = QString()) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", dir.path()); // a private settings store for every process
        env.insert("HOME", dir.path());
        env.insert("XDG_RUNTIME_DIR", dir.path());
        env.remove("ELEMORAMA_AUTO");
        if (!script.isEmpty()) env.insert("ELEMORAMA_TEST_SCRIPT", script);
        env.insert("ELEMORAMA_TEST_MASK_OUT", path("painted.png"));
        p.setProcessEnvironment(env);
        p.start(program, args);
        EXPECT_TRUE(p.waitForFinished(180000)) << program.toStdString();
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardError())};
    }
    Outcome edit(const QStringList& args, const QString& script) {
        return run(QStringLiteral(ELEMORAMA_BIN_DIR "/elemorama"),
                   QStringList{"edit"} + args + QStringList{"--fx", ELEMORAMA_BIN_DIR "/elemorama-fx-scripted"},
                   script);
    }

    // A photo-like RGB image and a selection of its upper part with a soft edge.
    void writeInputs(int w = 260, int h = 180) {
        ImageIO::ImageRecord img;
        img.width = w, img.height = h, img.model = ImageIO::ColorModel::RGB, img.sampleType = -1;
        img.allocate();
        for (int y = 0; y < img.height; ++y)
            for (int x = 0; x < img.width; ++x) {
                uint8_t* p = img.row(y) + 3 * x;
                p[0] = uint8_t(40 + x / 3), p[1] = uint8_t(60 + y / 2), p[2] = uint8_t(150 + (x + y) % 60);
            }
        ImageIO::saveImage(img, path("in.png"));
        ImageIO::ImageRecord mask;
        mask.width = w, mask.height = h, mask.model = ImageIO::ColorModel::Grey, mask.sampleType = -1;
        mask.allocate();
        for (int y = 0; y < mask.height; ++y)
            for (int x = 0; x < mask.width; ++x)
                mask.row(y)[x] = uint8_t(y < h / 2 ? 255 : y < h / 2 + 20 ? (h / 2 + 20 - y) * 12 : 0);
        ImageIO::saveImage(mask, path("sky.png"));
    }
};

} // namespace

TEST_F(Session, ApplyWritesWhatTheBatchRendererGivesForTheSameChoices) {
    writeInputs();
    const Outcome session = edit({path("in.png"), "-o", path("window.png"), "--selection", path("sky.png")}, "apply");
    ASSERT_EQ(session.exitCode, 0) << session.err.toStdString();
    EXPECT_TRUE(session.err.contains("script: density 8, commit 1")) << session.err.toStdString();
    // The window's selection: the host's, plus the stroke the script painted.
    ASSERT_TRUE(QFile::exists(path("painted.png")));
    const ImageIO::ImageRecord painted = ImageIO::loadImage(path("painted.png"));
    const ImageIO::ImageRecord sky = ImageIO::loadImage(path("sky.png"));
    EXPECT_TRUE(painted.samples != sky.samples) << "the stroke painted nothing";
    const Outcome render = run(QStringLiteral(ELEMORAMA_BIN_DIR "/elemorama-render"),
                           {"--effect", "Rain", "--set", "Den=8", "--selection", path("painted.png"), path("in.png"),
                            "-o", path("render.png")});
    ASSERT_EQ(render.exitCode, 0) << render.err.toStdString();
    const ImageIO::ImageRecord window = ImageIO::loadImage(path("window.png"));
    const ImageIO::ImageRecord batch = ImageIO::loadImage(path("render.png"));
    const ImageIO::ImageRecord original = ImageIO::loadImage(path("in.png"));
    ASSERT_EQ(window.samples.size(), batch.samples.size());
    EXPECT_TRUE(window.samples != original.samples) << "the window applied nothing";
    EXPECT_TRUE(window.samples == batch.samples);
}

TEST_F(Session, CancelAndClosingDuringARenderWriteNothing) {
    writeInputs(1800, 1200); // large enough that the render is still running when the close comes
    for (const char* script : {"cancel", "close"}) {
        SCOPED_TRACE(script);
        const QString out = path(QStringLiteral("out_%1.png").arg(script));
        const Outcome session = edit({path("in.png"), "-o", out, "--selection", path("sky.png")}, script);
        EXPECT_EQ(session.exitCode, 1) << session.err.toStdString();
        EXPECT_FALSE(QFile::exists(out));
        if (QLatin1String(script) == QLatin1String("close")) {
            EXPECT_TRUE(session.err.contains("Interrupt image processing?")) << session.err.toStdString();
        }
    }
    // Both processes are gone and the pad with them.
    EXPECT_TRUE(QDir(dir.path()).entryList({"elemorama-*"}, QDir::Dirs).isEmpty());
}
