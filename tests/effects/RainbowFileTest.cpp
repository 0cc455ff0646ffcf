// Rainbow files: the points and the shield through a round trip, and the messages for bad files.
#include "document/filters/rainbow/RainbowFile.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

using namespace Orvex::Document::Filters;
using namespace Orvex::DataStorage;
using Orvex::Ref;
using Orvex::Detail::RectI;
using Orvex::Detail::SizeT;

namespace {

void writeText(const QString& path, const QByteArray& text) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

QByteArray pngBase64(const QImage& image) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png.toBase64();
}

const QByteArray kPoints =
    "<points><pt0 x=\"0.1\" y=\"0.8\"/><pt1 x=\"0.5\" y=\"0.25\"/><pt2 x=\"0.9\" y=\"0.8\"/></points>";

} // namespace

TEST(RainbowFile, PointsAndShieldRoundTrip) {
    QTemporaryDir dir;
    const SizeT<int> size{200, 120};
    const RainbowParams::Point points[3] = {{20, 96}, {100, 30}, {180.5, 96}};
    Ref<DataChannel> shield(new DataChannel(size, TypeU8));
    const uint8_t marked = 255, half = 128;
    shield->fill(RectI{150, 0, 200, 120}, &marked);
    shield->fill(RectI{0, 100, 40, 120}, &half);
    const QString path = dir.filePath("bow.elemor");
    QString error;
    ASSERT_TRUE(writeRainbowFile(path, size, points, shield.get(), &error)) << error.toStdString();
    RainbowFileContent back = readRainbowFile(path, size);
    ASSERT_TRUE(back.ok) << back.reason.toStdString();
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(back.points[i].x, points[i].x, 1e-3);
        EXPECT_NEAR(back.points[i].y, points[i].y, 1e-3);
    }
    ASSERT_TRUE(back.shield);
    for (int y = 0; y < 120; y += 7)
        for (int x = 0; x < 200; x += 3)
            ASSERT_EQ(back.shield->value<uint8_t>(x, y), shield->value<uint8_t>(x, y));

    // Without a shield the file has no strokes and reads back without one; read into another
    // size, the points follow the picture.
    ASSERT_TRUE(writeRainbowFile(path, size, points, nullptr));
    back = readRainbowFile(path, {400, 240});
    ASSERT_TRUE(back.ok);
    EXPECT_FALSE(back.shield);
    EXPECT_NEAR(back.points[1].x, 200, 1e-3);
    EXPECT_NEAR(back.points[1].y, 60, 1e-3);
}

TEST(RainbowFile, BadFilesSayWhy) {
    QTemporaryDir dir;
    const QString path = dir.filePath("bow.elemor");
    auto messageFor = [&](const QByteArray& text) {
        writeText(path, text);
        const RainbowFileContent content = readRainbowFile(path, {200, 120});
        EXPECT_FALSE(content.ok);
        EXPECT_FALSE(content.shield);
        return rainbowFileMessage(content, path);
    };
    QImage rgb(200, 120, QImage::Format_RGB32), small(20, 12, QImage::Format_Grayscale8);
    rgb.fill(Qt::white), small.fill(Qt::white);
    EXPECT_EQ(messageFor("no xml"), "Error loading from bow.elemor: Cannot read the file");
    EXPECT_EQ(messageFor("<elemorama type=\"Rainbow\"><points><pt0 x=\"0.1\""),
              "Error loading from bow.elemor: Cannot read the file");
    EXPECT_EQ(messageFor("<elemorama type=\"Aurora\">" + kPoints + "</elemorama>"),
              "File bow.elemor is for Aurora effect");
    EXPECT_EQ(messageFor("<elemorama type=\"Rainbow\"><points><pt0 x=\"0.1\" y=\"0.8\"/><pt1 x=\"0.5\" "
                         "y=\"0.25\"/></points></elemorama>"),
              "Error loading from bow.elemor: No data for tool");
    EXPECT_EQ(messageFor("<elemorama type=\"Rainbow\">" + kPoints + "<strokes> </strokes></elemorama>"),
              "Error loading from bow.elemor: No data for map");
    EXPECT_EQ(messageFor("<elemorama type=\"Rainbow\">" + kPoints + "<strokes>" + pngBase64(rgb) +
                         "</strokes></elemorama>"),
              "Error loading from bow.elemor: Invalid format of map data");
    EXPECT_EQ(messageFor("<elemorama type=\"Rainbow\">" + kPoints + "<strokes>" + pngBase64(small) +
                         "</strokes></elemorama>"),
              "Error loading from bow.elemor: Invalid format of map data");
    EXPECT_EQ(rainbowFileMessage(readRainbowFile(dir.filePath("none"), {10, 10}), dir.filePath("none")),
              "Error loading from none: Cannot open file for read");
}
