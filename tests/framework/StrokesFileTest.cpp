// The strokes file: export and import of the mask, resampling, type checks, the safe write and
// damaged or hostile files.
#include "FilterTestSupport.h"

#include "document/filters/RenderSupport.h"
#include "document/framework/StrokesFile.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace FilterTest;
using ::Orvex::Detail::RectI;

namespace {

std::vector<uint8_t> maskOf(const ToolFilter& filter) {
    const auto channel = filter.maskPlane(ToolFilter::Mask)->channel(DataStorage::ChannelMask);
    return maskBytes(channel.get(), channel->bounds());
}

// A mask with a gradient block and a solid block, so that copies show every byte.
Ref<DataStorage::DataChannel> patternMask(int w, int h) {
    auto channel = maskChannel(w, h, 0);
    for (int y = 0; y < h / 2; ++y)
        for (int x = 0; x < w / 2; ++x) channel->setValue<uint8_t>(x, y, uint8_t((x * 7 + y * 3) % 256));
    channel->fill(RectI{w / 2, h / 2, w, h}, "\xff");
    return channel;
}

QByteArray strokesXml(const QByteArray& root, const QByteArray& typeAttribute, const QByteArray& text) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + root + typeAttribute + ">" + text + "</" + root +
           ">\n";
}

QByteArray pngOf(const QImage& image) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "png").write(image);
    return png;
}

uint32_t crc32(const QByteArray& data) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : data) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray bigEndian(uint32_t v) {
    return QByteArray(1, char(v >> 24)) + char(v >> 16) + char(v >> 8) + char(v);
}

// A PNG whose header claims `width` x `height` 8-bit grey pixels and holds no data.
QByteArray claimedPng(uint32_t width, uint32_t height) {
    const QByteArray ihdr =
        "IHDR" + bigEndian(width) + bigEndian(height) + QByteArray("\x08\x00\x00\x00\x00", 5);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + bigEndian(13) + ihdr + bigEndian(crc32(ihdr)) + bigEndian(0) +
           "IEND" + bigEndian(crc32("IEND"));
}

struct StrokesFixture : ::testing::Test {
    TestSettings settings;
    CapturedMessages boxes;
    QTemporaryDir folder;
    FilterDocument document{rgbaPlane(96, 80)};
    Rain rain;

    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        rain.setDocument(&document);
        rain.Activate();
        rain.setAutoRun(false);
    }
    void TearDown() override { rain.Deactivate(); }

    QString path(const QString& name) const { return folder.filePath(name); }
    void writeFile(const QString& name, const QByteArray& bytes) {
        QFile file(path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    QString lastText() const { return boxes.messages.empty() ? QString() : boxes.messages.back().text; }

    // Loading `name` fails with "Error loading from" and leaves mask and document alone.
    void expectRefused(const QString& name) {
        SCOPED_TRACE(name.toStdString());
        const auto before = maskOf(rain);
        const int steps = document.undoCount();
        const size_t shown = boxes.messages.size();
        EXPECT_FALSE(rain.LoadStrokes(path(name)));
        ASSERT_EQ(boxes.messages.size(), shown + 1);
        EXPECT_EQ(boxes.messages.back().kind, FilterMessage::Critical);
        EXPECT_EQ(lastText(), "Error loading from " + name);
        EXPECT_EQ(maskOf(rain), before);
        EXPECT_EQ(document.undoCount(), steps);
    }
};

TEST_F(StrokesFixture, ExportThenImportRestoresTheMaskExactly) {
    rain.setMaskChannel(ToolFilter::Mask, patternMask(96, 80));
    const auto saved = maskOf(rain);
    ASSERT_TRUE(rain.SaveStrokes(path("sel.elemor")));
    EXPECT_FALSE(QFile::exists(path("sel.elemor.tmp")));

    QFile file(path("sel.elemor"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
    EXPECT_TRUE(text.contains("<elemorama type=\"mask\">"));
    StrokesFile::Content content;
    ASSERT_EQ(StrokesFile::read(path("sel.elemor"), false, content), StrokesFile::Ok);
    EXPECT_EQ(content.image.format(), QImage::Format_Indexed8);
    EXPECT_EQ(content.image.colorCount(), 256);
    EXPECT_EQ(content.image.color(77), qRgba(77, 77, 77, 255));

    rain.setMaskChannel(ToolFilter::Mask, maskChannel(96, 80, 0));
    const int steps = document.undoCount();
    ASSERT_TRUE(rain.LoadStrokes(path("sel.elemor")));
    EXPECT_EQ(maskOf(rain), saved);
    EXPECT_EQ(document.undoCount(), steps + 1);
    EXPECT_EQ(document.lastStepName(), "Load selection");
    EXPECT_EQ(maskBytes(document.selection().get(), RectI{0, 0, 96, 80}), saved);
    EXPECT_TRUE(boxes.messages.empty());

    // Saving again replaces the old file.
    rain.setMaskChannel(ToolFilter::Mask, maskChannel(96, 80, 9));
    ASSERT_TRUE(rain.SaveStrokes(path("sel.elemor")));
    ASSERT_TRUE(rain.LoadStrokes(path("sel.elemor")));
    EXPECT_EQ(maskOf(rain)[0], 9);
}

TEST_F(StrokesFixture, AFileOfAnotherSizeIsResampledToTheLayer) {
    // Left half selected, at half and at twice the layer's size.
    for (int scale : {1, 4}) {
        SCOPED_TRACE(scale);
        const int w = 48 * scale, h = 40 * scale;
        auto channel = maskChannel(w, h, 0);
        channel->fill(RectI{0, 0, w / 2, h}, "\xff");
        QString reason;
        ASSERT_TRUE(StrokesFile::write(path("other.elemor"), "mask", channel.get(), reason))
            << reason.toStdString();
        ASSERT_TRUE(rain.LoadStrokes(path("other.elemor")));
        const auto bytes = maskOf(rain);
        EXPECT_EQ(bytes[40 * 96 + 10], 255);
        EXPECT_EQ(bytes[40 * 96 + 46], 255);
        EXPECT_EQ(bytes[40 * 96 + 50], 0);
        EXPECT_EQ(bytes[40 * 96 + 90], 0);
    }
}

TEST_F(StrokesFixture, TypeMustFitTheEffect) {
    QString reason;
    auto labels = maskChannel(96, 80, 1);
    ASSERT_TRUE(StrokesFile::write(path("sky.elemor"), "duomask", labels.get(), reason));
    rain.setMaskChannel(ToolFilter::Mask, patternMask(96, 80));
    const auto before = maskOf(rain);
    EXPECT_FALSE(rain.LoadStrokes(path("sky.elemor")));
    EXPECT_EQ(lastText(), "File sky.elemor is for NightSky effect");
    EXPECT_EQ(maskOf(rain), before);

    writeFile("trunks.elemor", strokesXml("elemorama", " type=\"TrunkList\"", ""));
    EXPECT_FALSE(rain.LoadStrokes(path("trunks.elemor")));
    EXPECT_EQ(lastText(), "File trunks.elemor is for Aurora, Lightning effect");

    // A mask file into the night sky is refused the other way round; its own file is taken.
    FilterDocument skyDocument{rgbaPlane(96, 80)};
    NightSky sky;
    sky.setDocument(&skyDocument);
    sky.Activate();
    sky.setAutoRun(false);
    ASSERT_TRUE(rain.SaveStrokes(path("rain.elemor")));
    EXPECT_FALSE(sky.LoadStrokes(path("rain.elemor")));
    EXPECT_TRUE(lastText().startsWith("File rain.elemor is for Rain"));
    ASSERT_TRUE(sky.LoadStrokes(path("sky.elemor")));
    const auto duo = sky.maskPlane(ToolFilter::DuoMask)->channel(DataStorage::ChannelMask);
    EXPECT_EQ(duo->value<uint8_t>(50, 50), 1);
    StrokesFile::Content content;
    ASSERT_EQ(StrokesFile::read(path("sky.elemor"), true, content), StrokesFile::Ok);
    EXPECT_EQ(content.image.colorCount(), 3);
    EXPECT_EQ(content.image.color(2), qRgba(0, 0, 255, 255));
    sky.Deactivate();
}

TEST_F(StrokesFixture, StrokesTypeIsBinarised) {
    auto channel = patternMask(96, 80);
    const QByteArray png = StrokesFile::encodePng(channel.get(), "mask");
    writeFile("old.elemor", strokesXml("elemorama", " type=\"strokes\"", png.toBase64()));
    ASSERT_TRUE(rain.LoadStrokes(path("old.elemor")));
    const auto source = maskBytes(channel.get(), channel->bounds());
    const auto loaded = maskOf(rain);
    ASSERT_EQ(loaded.size(), source.size());
    for (size_t i = 0; i < source.size(); ++i) ASSERT_EQ(loaded[i], source[i] ? 255 : 0) << i;
}

TEST_F(StrokesFixture, DamagedAndHostileFilesLeaveTheMaskUntouched) {
    rain.setMaskChannel(ToolFilter::Mask, patternMask(96, 80));
    ASSERT_TRUE(rain.SaveStrokes(path("good.elemor")));
    QFile good(path("good.elemor"));
    ASSERT_TRUE(good.open(QIODevice::ReadOnly));
    const QByteArray goodBytes = good.readAll();
    const QByteArray png = StrokesFile::encodePng(patternMask(96, 80).get(), "mask");

    writeFile("root.elemor", strokesXml("strokes", " type=\"mask\"", png.toBase64()));
    writeFile("notype.elemor", strokesXml("elemorama", "", png.toBase64()));
    writeFile("emptytype.elemor", strokesXml("elemorama", " type=\"\"", png.toBase64()));
    writeFile("case.elemor", strokesXml("Elemorama", " type=\"mask\"", png.toBase64()));
    writeFile("truncated.elemor", goodBytes.left(goodBytes.size() / 2));
    writeFile("notxml.elemor", QByteArray("\x00\x01\x02 this is not a strokes file \xff\xfe", 34));
    writeFile("empty.elemor", QByteArray());
    writeFile("child.elemor", strokesXml("elemorama", " type=\"mask\"", "<png/>"));
    writeFile("base64.elemor", strokesXml("elemorama", " type=\"mask\"", "@@@@not base64!!"));
    writeFile("notpng.elemor",
              strokesXml("elemorama", " type=\"mask\"", QByteArray("GIF89a....").toBase64()));
    writeFile("cutpng.elemor",
              strokesXml("elemorama", " type=\"mask\"", png.left(png.size() - 20).toBase64()));
    writeFile("claimed.elemor",
              strokesXml("elemorama", " type=\"mask\"", claimedPng(100000, 100000).toBase64()));
    writeFile("zero.elemor", strokesXml("elemorama", " type=\"mask\"", claimedPng(0, 10).toBase64()));
    QImage wide(30001, 1, QImage::Format_Grayscale8);
    wide.fill(255);
    writeFile("wide.elemor", strokesXml("elemorama", " type=\"mask\"", pngOf(wide).toBase64()));
    QImage colour(96, 80, QImage::Format_RGB32);
    colour.fill(Qt::white);
    writeFile("colour.elemor", strokesXml("elemorama", " type=\"mask\"", pngOf(colour).toBase64()));
    QImage deep(96, 80, QImage::Format_Grayscale16);
    deep.fill(Qt::white);
    writeFile("deep.elemor", strokesXml("elemorama", " type=\"mask\"", pngOf(deep).toBase64()));

    for (const char* name :
         {"root.elemor", "notype.elemor", "emptytype.elemor", "case.elemor", "truncated.elemor",
          "notxml.elemor", "empty.elemor", "child.elemor", "base64.elemor", "notpng.elemor", "cutpng.elemor",
          "claimed.elemor", "zero.elemor", "wide.elemor", "colour.elemor", "deep.elemor", "missing.elemor"})
        expectRefused(name);

    // An 8-bit grey PNG is as good as the palette one.
    QImage grey(96, 80, QImage::Format_Grayscale8);
    grey.fill(128);
    writeFile("grey.elemor", strokesXml("elemorama", " type=\"mask\"", pngOf(grey).toBase64()));
    ASSERT_TRUE(rain.LoadStrokes(path("grey.elemor")));
    EXPECT_EQ(maskOf(rain)[100], 128);
}

TEST_F(StrokesFixture, SavingOverAReadOnlyFileKeepsIt) {
    rain.setMaskChannel(ToolFilter::Mask, patternMask(96, 80));
    writeFile("locked.elemor", "the user's old file");
    ASSERT_TRUE(
        QFile::setPermissions(path("locked.elemor"), QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    EXPECT_FALSE(rain.SaveStrokes(path("locked.elemor")));
    ASSERT_EQ(boxes.messages.size(), 1u);
    EXPECT_EQ(boxes.messages[0].kind, FilterMessage::Critical);
    EXPECT_EQ(lastText(), "Write error of file:\n locked.elemor\nCannot remove the old file.");
    QFile old(path("locked.elemor"));
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), "the user's old file");
    EXPECT_FALSE(QFile::exists(path("locked.elemor.tmp")));

    // A folder that does not exist: the temporary file cannot be opened.
    EXPECT_FALSE(rain.SaveStrokes(path("no/such/folder/x.elemor")));
    EXPECT_EQ(lastText(), "Write error of file:\n x.elemor\nCannot open temporary file for write.");
}

} // namespace
