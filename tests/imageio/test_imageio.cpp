#include "imageio/ImageIO.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <random>
#include <tiffio.h>

#include <gtest/gtest.h>

using namespace Orvex::ImageIO;

namespace {

QString sample(const char* name) {
    return QStringLiteral(ELEMORAMA_SHARED_SAMPLES_DIR "/") + name;
}

ImageRecord makeImage(int w, int h, ColorModel model, int type, bool alpha, uint32_t seed = 1) {
    ImageRecord image;
    image.width = w;
    image.height = h;
    image.model = model;
    image.sampleType = type;
    image.hasAlpha = alpha;
    image.allocate();
    std::mt19937 rng(seed);
    if (type == Float32) {
        std::uniform_real_distribution<float> d(0.0f, 1.0f);
        for (size_t i = 0; i < image.samples.size(); i += 4) {
            const float v = d(rng);
            std::memcpy(&image.samples[i], &v, 4);
        }
    } else {
        for (uint8_t& b : image.samples) b = uint8_t(rng());
    }
    return image;
}

void expectSameLayout(const ImageRecord& a, const ImageRecord& b) {
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.height, b.height);
    EXPECT_EQ(int(a.model), int(b.model));
    EXPECT_EQ(a.sampleType, b.sampleType);
    EXPECT_EQ(a.hasAlpha, b.hasAlpha);
}

// Writes `content` to `path` and loads it: the loader's message, or "loaded".
std::string loadError(const QString& path, const QByteArray& content) {
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(content);
    f.close();
    try {
        loadImage(path);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "loaded";
}

} // namespace

TEST(ImageIO, LoadsTheSampleKinds) {
    struct Case {
        const char* file;
        ColorModel model;
        int type;
        bool alpha;
        int width;
    } cases[] = {
        {"evening_glow_lake_boats.jpg", ColorModel::RGB, UInt8, false, 1280},
        {"grey_architecture_L.jpg", ColorModel::Grey, UInt8, false, 640},
        {"evening_glow_cmyk.jpg", ColorModel::CMYK, UInt8, false, 640},
        {"evening_glow_rgb16.png", ColorModel::RGB, UInt16, false, 512},
        {"storm_road_grey16.png", ColorModel::Grey, UInt16, false, 480},
        {"garching_field_transparent_sky.png", ColorModel::RGB, UInt8, true, 640},
        {"evening_glow_lab8.tif", ColorModel::Lab, UInt8, false, 480},
        {"kite_float32.tif", ColorModel::RGB, Float32, false, 256},
        {"cameraman_grey.sky.png", ColorModel::Grey, UInt8, false, 512},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const ImageRecord image = loadImage(sample(c.file));
        EXPECT_EQ(int(image.model), int(c.model));
        EXPECT_EQ(image.sampleType, c.type);
        EXPECT_EQ(image.hasAlpha, c.alpha);
        EXPECT_EQ(image.width, c.width);
        EXPECT_EQ(image.samples.size(), image.byteSize());
    }
}

TEST(ImageIO, InvertedCmykJpegIsReadAsInk) {
    const ImageRecord image = loadImage(sample("evening_glow_cmyk.jpg"));
    // A photograph of an evening sky holds far more paper than ink on average.
    double sum = 0;
    for (uint8_t s : image.samples) sum += s;
    EXPECT_LT(sum / double(image.samples.size()), 128.0);
    // The Lab sample decodes to a plausible lightness with a and b around neutral.
    const ImageRecord lab = loadImage(sample("evening_glow_lab8.tif"));
    double a = 0;
    for (size_t i = 1; i < lab.samples.size(); i += 3) a += lab.samples[i];
    EXPECT_NEAR(a / double(lab.samples.size() / 3), 128.0, 40.0);
}

TEST(ImageIO, LosslessFormatsRoundTripExactly) {
    QTemporaryDir dir;
    struct Case {
        const char* name;
        ColorModel model;
        int type;
        bool alpha;
    } cases[] = {
        {"g8.png", ColorModel::Grey, UInt8, false},     {"ga16.png", ColorModel::Grey, UInt16, true},
        {"rgb16.png", ColorModel::RGB, UInt16, false},  {"rgba8.png", ColorModel::RGB, UInt8, true},
        {"g8.tif", ColorModel::Grey, UInt8, true},      {"rgb16.tif", ColorModel::RGB, UInt16, true},
        {"rgbf.tif", ColorModel::RGB, Float32, true},   {"cmyk8.tif", ColorModel::CMYK, UInt8, false},
        {"cmyk16.tif", ColorModel::CMYK, UInt16, true}, {"lab8.tif", ColorModel::Lab, UInt8, false},
        {"lab16.tif", ColorModel::Lab, UInt16, true},   {"gf.tif", ColorModel::Grey, Float32, false},
        {"rgb8.ppm", ColorModel::RGB, UInt8, false},    {"g16.pgm", ColorModel::Grey, UInt16, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImageRecord image = makeImage(37, 23, c.model, c.type, c.alpha);
        image.iccProfile = {1, 2, 3};
        const QString path = dir.filePath(c.name);
        saveImage(image, path);
        const ImageRecord back = loadImage(path);
        expectSameLayout(image, back);
        EXPECT_TRUE(back.samples == image.samples);
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), int(std::size(cases)));
}

TEST(ImageIO, JpegAndFloatLabRoundTripClosely) {
    QTemporaryDir dir;
    for (ColorModel model : {ColorModel::Grey, ColorModel::RGB, ColorModel::CMYK}) {
        ImageRecord image = makeImage(64, 48, model, UInt8, false);
        for (size_t i = 0; i < image.samples.size(); ++i) image.samples[i] = uint8_t((i / 7) % 200 + 20);
        const QString path = dir.filePath("x.jpg");
        saveImage(image, path, {100});
        const ImageRecord back = loadImage(path);
        expectSameLayout(image, back);
        double err = 0;
        for (size_t i = 0; i < image.samples.size(); ++i)
            err += std::abs(int(image.samples[i]) - int(back.samples[i]));
        EXPECT_LT(err / double(image.samples.size()), 6.0) << int(model);
    }
    ImageRecord lab = makeImage(9, 5, ColorModel::Lab, Float32, false);
    saveImage(lab, dir.filePath("labf.tif"));
    const ImageRecord back = loadImage(dir.filePath("labf.tif"));
    for (size_t i = 0; i < lab.samples.size(); i += 4) {
        float a, b;
        std::memcpy(&a, &lab.samples[i], 4);
        std::memcpy(&b, &back.samples[i], 4);
        EXPECT_NEAR(a, b, 1e-5);
    }
}

TEST(ImageIO, RefusesWhatAFormatCannotHold) {
    QTemporaryDir dir;
    auto refused = [&](const ImageRecord& image, const char* name) {
        try {
            saveImage(image, dir.filePath(name));
        } catch (const std::runtime_error&) {
            return !QFile::exists(dir.filePath(name));
        }
        return false;
    };
    EXPECT_TRUE(refused(makeImage(4, 4, ColorModel::RGB, Float32, false), "a.png"));
    EXPECT_TRUE(refused(makeImage(4, 4, ColorModel::CMYK, UInt8, false), "a.png"));
    EXPECT_TRUE(refused(makeImage(4, 4, ColorModel::RGB, UInt16, false), "a.jpg"));
    EXPECT_TRUE(refused(makeImage(4, 4, ColorModel::RGB, UInt8, true), "a.jpg"));
    EXPECT_TRUE(refused(makeImage(4, 4, ColorModel::RGB, UInt8, true), "a.ppm"));
    EXPECT_TRUE(refused(makeImage(4, 4, ColorModel::RGB, UInt8, false), "a.bmp"));
    ImageRecord broken = makeImage(4, 4, ColorModel::RGB, UInt8, false);
    broken.samples.pop_back();
    EXPECT_TRUE(refused(broken, "b.png"));
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty()); // no temporary left
}

TEST(ImageIO, SavingReplacesAtomically) {
    QTemporaryDir dir;
    const QString path = dir.filePath("out.png");
    saveImage(makeImage(8, 8, ColorModel::RGB, UInt8, false, 1), path);
    const QByteArray before = [&] {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();
    // A failing save leaves the old file as it was.
    EXPECT_THROW(saveImage(makeImage(8, 8, ColorModel::CMYK, UInt8, false), path), std::runtime_error);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before);
    saveImage(makeImage(8, 8, ColorModel::RGB, UInt8, false, 2), path);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"out.png"});
    EXPECT_THROW(saveImage(makeImage(8, 8, ColorModel::RGB, UInt8, false), dir.filePath("no/such/dir/x.png")),
                 std::runtime_error);
}

TEST(ImageIO, SavingRemovesTemporariesOfKilledWritersOnly) {
    QTemporaryDir dir;
    auto touch = [&](const QString& name) {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("partial");
    };
    // Left by writers that died: nobody holds them.
    touch(".out.png.a1B2c3.tmp");
    touch(".out.png.zzzzzz.tmp");
    // Not temporaries of out.png: other targets, other shapes of name.
    touch(".other.png.a1B2c3.tmp");
    touch(".out.png.a1B2c.tmp");
    touch(".out.png.a1B2c3");
    touch("out.png.a1B2c3.tmp");
    // One that a live writer holds (its lock) stays.
    touch(".out.png.LiVe00.tmp");
    const int live = open(QFile::encodeName(dir.filePath(".out.png.LiVe00.tmp")).constData(), O_RDONLY);
    ASSERT_GE(live, 0);
    ASSERT_EQ(flock(live, LOCK_EX), 0);

    for (const char* name : {"out.png", "out.jpg", "out.tif", "out.ppm"})
        saveImage(makeImage(8, 8, ColorModel::RGB, UInt8, false), dir.filePath(name));
    const QString left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name).join(' ');
    EXPECT_EQ(left.toStdString(), ".other.png.a1B2c3.tmp .out.png.LiVe00.tmp .out.png.a1B2c.tmp .out.png.a1B2c3 "
                                  "out.jpg out.png out.png.a1B2c3.tmp out.ppm out.tif");
    close(live);
    saveImage(makeImage(8, 8, ColorModel::RGB, UInt8, false), dir.filePath("out.png"));
    EXPECT_FALSE(QFile::exists(dir.filePath(".out.png.LiVe00.tmp")));
}

TEST(ImageIO, BrokenFilesGiveClearErrors) {
    QTemporaryDir dir;
    auto errorOf = [](const QString& path) -> std::string {
        try {
            loadImage(path);
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "loaded";
    };
    EXPECT_NE(errorOf(dir.filePath("missing.png")).find("no such file"), std::string::npos);
    EXPECT_NE(errorOf(dir.path()).find("directory"), std::string::npos);
    QFile text(dir.filePath("text.png"));
    text.open(QIODevice::WriteOnly);
    text.write("hello, not an image");
    text.close();
    EXPECT_NE(errorOf(text.fileName()).find("not a supported image file"), std::string::npos);

    // Every format cut short at many points: an error or (for cuts inside trailing metadata) an
    // image, never a crash.
    saveImage(makeImage(50, 40, ColorModel::RGB, UInt16, true), dir.filePath("s.png"));
    saveImage(makeImage(50, 40, ColorModel::RGB, UInt8, false), dir.filePath("s.jpg"));
    saveImage(makeImage(50, 40, ColorModel::CMYK, UInt16, true), dir.filePath("s.tif"));
    saveImage(makeImage(50, 40, ColorModel::RGB, UInt8, false), dir.filePath("s.ppm"));
    for (const char* name : {"s.png", "s.jpg", "s.tif", "s.ppm"}) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray whole = f.readAll();
        int errors = 0;
        for (int cut = 0; cut < whole.size() - 1; cut += std::max(1, whole.size() / 97)) {
            const QString path = dir.filePath(QStringLiteral("cut_") + name);
            QFile out(path);
            out.open(QIODevice::WriteOnly);
            out.write(whole.left(cut));
            out.close();
            if (errorOf(path) != "loaded") ++errors;
        }
        EXPECT_GT(errors, 90) << name;
    }
    // Flipped bytes in the compressed data of a JPEG and a PNG.
    for (const char* name : {"s.png", "s.jpg"}) {
        QFile f(dir.filePath(name));
        f.open(QIODevice::ReadOnly);
        QByteArray data = f.readAll();
        std::mt19937 rng(5);
        for (int round = 0; round < 30; ++round) {
            QByteArray broken = data;
            for (int k = 0; k < 8; ++k) broken[int(rng() % uint32_t(broken.size()))] = char(rng());
            QFile out(dir.filePath("flip"));
            out.open(QIODevice::WriteOnly);
            out.write(broken);
            out.close();
            errorOf(out.fileName()); // must not crash
        }
    }
}

TEST(ImageIO, PnmHeadersAndScaling) {
    QTemporaryDir dir;
    auto write = [&](const char* content, int size = -1) {
        QFile f(dir.filePath("t.pgm"));
        f.open(QIODevice::WriteOnly);
        f.write(content, size < 0 ? int(strlen(content)) : size);
        f.close();
        return f.fileName();
    };
    ImageRecord a = loadImage(write("P2\n# comment\n3 1\n# another\n15\n0 15 7\n"));
    EXPECT_EQ(a.sampleType, UInt8);
    EXPECT_EQ(a.samples, (std::vector<uint8_t>{0, 255, 119}));
    ImageRecord b = loadImage(write("P5 2 1 1000\n\x03\xe8\x00\x00", 16));
    EXPECT_EQ(b.sampleType, UInt16);
    uint16_t first;
    std::memcpy(&first, b.samples.data(), 2);
    EXPECT_EQ(first, 65535);
    EXPECT_THROW(loadImage(write("P2 2 1 15\n0 16\n")), std::runtime_error);
    EXPECT_THROW(loadImage(write("P5 99999999 99999999 255\n")), std::runtime_error);
    EXPECT_THROW(loadImage(write("P5 0 4 255\n")), std::runtime_error);
    EXPECT_THROW(loadImage(write("P5 4 4 70000\n")), std::runtime_error);
}

TEST(ImageIO, PnmHeadersNamingMoreSamplesThanTheFileHoldsAreRefusedUnallocated) {
    QTemporaryDir dir;
    auto errorOf = [&](const char* content) { return loadError(dir.filePath("t.pgm"), content); };
    // Found by fuzzing: 3.2 billion 16-bit samples announced by a 23-byte file (6.5 GB allocated
    // before the first sample was read).
    EXPECT_NE(errorOf("P2\n226 14444442\n4444\xcb\xca\n").find("truncated PNM data"), std::string::npos);
    EXPECT_NE(errorOf("P5 60000 60000 65535\n\x01\x02").find("truncated PNM data"), std::string::npos);
    EXPECT_NE(errorOf("P3 2 1 255\n1 2 3 4 5").find("truncated PNM data"), std::string::npos);
    // The shortest text data still loads: one digit per sample, single blanks, no final newline.
    EXPECT_EQ(errorOf("P2 1 1 255\n7"), "loaded");
    EXPECT_EQ(errorOf("P3 2 1 9\n1 2 3 4 5 6"), "loaded");
}

TEST(ImageIO, TiffHeadersNamingMoreDataThanTheFileHoldsAreRefusedUnallocated) {
    QTemporaryDir dir;
    auto errorOf = [&](const QByteArray& content) { return loadError(dir.filePath("t.tif"), content); };
    // Found by fuzzing: 54 523 x 24 579 uncompressed pixels in a 300-byte file (4 GB allocated
    // before the first strip was read).
    const QByteArray fuzzed = QByteArray::fromBase64(
        "SUkqADYAAAAAAGQyAGRkAGSWAGTIAGQAUGQyUGRkUGSWUGTIUGQAoGQyoGRkoGSWoGTIoGQADgAAAQMAAQAAAPvUAAABAQMAAQAAAANg"
        "AAACAQMAAwAAAPQAAAADAQMAAQAAAAEAAAAGAQMAAQAAAAIAAAARAQQAAQAAAAgAAAASAQMAAQAAAAEAAAAVAQMAAQAAAAMAAAAWAQQA"
        "AQAAAEREBAAXAQQAAQAAACQAAAAaAQUAAeQbAAAAAAAAHBcAAQAAAOwAAAAcAQMAAQAAAAIAAAAoAQIAAQAAAAIAAAAAAAAAZAAAAAEA"
        "AABkAAAAAQAAAAgACAAIAA==");
    EXPECT_NE(errorOf(fuzzed).find("truncated TIFF"), std::string::npos) << errorOf(fuzzed);

    // A compressed file cut short is refused too, whichever check meets it first.
    ImageRecord image = makeImage(256, 256, ColorModel::RGB, UInt16, false);
    for (size_t i = 0; i < image.samples.size(); ++i) image.samples[i] = uint8_t(i * 7919 >> 3);
    saveImage(image, dir.filePath("whole.tif"));
    QFile whole(dir.filePath("whole.tif"));
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    const QByteArray bytes = whole.readAll();
    EXPECT_EQ(errorOf(bytes), "loaded");
    const std::string cut = errorOf(bytes.left(bytes.size() / 3));
    EXPECT_NE(cut, "loaded");
    EXPECT_NE(cut.find("TIFF"), std::string::npos) << cut;
}

// A TIFF whose header is written by libtiff as given and whose image data is `data`, stored as
// one raw strip or tile: what a damaged or hostile file can claim.
void writeRawTiff(const QString& path, uint32_t width, uint32_t height, uint16_t compression,
                  const QByteArray& data, uint32_t tileSize = 0) {
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    if (tileSize) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, tileSize);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, tileSize);
        EXPECT_GE(TIFFWriteRawTile(tif, 0, const_cast<char*>(data.constData()), tmsize_t(data.size())), 0);
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);
        EXPECT_GE(TIFFWriteRawStrip(tif, 0, const_cast<char*>(data.constData()), tmsize_t(data.size())), 0);
    }
    TIFFClose(tif);
}

TEST(ImageIO, TiffSizesBeyondWhatTheCodecCanReachAreRefused) {
    QTemporaryDir dir;
    const QString path = dir.filePath("t.tif");
    auto errorOf = [&] {
        try {
            loadImage(path);
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string("loaded");
    };
    const QByteArray kilobyte(1024, '\x55');
    // Deflate stops near 1032:1, so a kilobyte cannot be 30 000 x 10 000 RGB pixels, and neither can
    // LZW's or JPEG's.
    for (uint16_t codec : {uint16_t(COMPRESSION_ADOBE_DEFLATE), uint16_t(COMPRESSION_LZW), uint16_t(COMPRESSION_JPEG)}) {
        writeRawTiff(path, 30000, 10000, codec, kilobyte);
        EXPECT_NE(errorOf().find("truncated TIFF"), std::string::npos) << codec << ": " << errorOf();
    }
    // A tile of 16384 x 16384 pixels over a 4 x 4 image.
    writeRawTiff(path, 4, 4, COMPRESSION_ADOBE_DEFLATE, kilobyte, 16384);
    EXPECT_NE(errorOf().find("corrupt TIFF tile layout"), std::string::npos) << errorOf();
    // A size the data could reach but does not deliver fails while decoding, with a clear message.
    writeRawTiff(path, 3000, 3000, COMPRESSION_ADOBE_DEFLATE, QByteArray(64 * 1024, '\x55'));
    EXPECT_NE(errorOf().find("TIFF"), std::string::npos) << errorOf();
    // Tiles overhanging a small image, as real writers make them, load.
    ImageRecord small = makeImage(5, 3, ColorModel::RGB, UInt8, false);
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 5);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 3);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, 256);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, 256);
    std::vector<uint8_t> tile(256 * 256 * 3, 0);
    for (int y = 0; y < 3; ++y) std::memcpy(tile.data() + y * 256 * 3, small.row(y), small.rowBytes());
    ASSERT_GE(TIFFWriteTile(tif, tile.data(), 0, 0, 0, 0), 0);
    TIFFClose(tif);
    const ImageRecord loaded = loadImage(path);
    expectSameLayout(loaded, small);
    EXPECT_EQ(loaded.samples, small.samples);
}

TEST(ImageIO, SelectionMaskFromAnyImage) {
    ImageRecord rgba = makeImage(3, 1, ColorModel::RGB, UInt16, true);
    const uint16_t px[12] = {0, 0, 0, 65535, 65535, 65535, 65535, 0, 1, 2, 3, 32768};
    std::memcpy(rgba.samples.data(), px, sizeof px);
    EXPECT_EQ(toSelectionMask(rgba).samples, (std::vector<uint8_t>{255, 0, 128}));
    ImageRecord rgb = makeImage(2, 1, ColorModel::RGB, UInt8, false);
    rgb.samples = {255, 255, 255, 0, 0, 0};
    EXPECT_EQ(toSelectionMask(rgb).samples, (std::vector<uint8_t>{255, 0}));
    const ImageRecord sky = toSelectionMask(loadImage(sample("cameraman_grey.sky.png")));
    EXPECT_EQ(sky.samples, loadImage(sample("cameraman_grey.sky.png")).samples);
}
