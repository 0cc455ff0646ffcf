// TIFF through libtiff: 8/16-bit integer and 32-bit float samples, grey (black or white is zero),
// RGB, palette, CMYK, CIE Lab and ICC Lab, strips or tiles, contiguous or separate planes, with an
// extra sample read as alpha (associated alpha is divided out). Writing gives deflate-compressed
// strips with unassociated alpha and CIE Lab for Lab images.

#include "imageio/ImageIOInternal.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <tiffio.h>
#include <unistd.h>

namespace Orvex::ImageIO::Detail {

namespace {

thread_local std::string t_tiffError;

void tiffError(const char* module, const char* format, va_list args) {
    char text[512];
    vsnprintf(text, sizeof text, format, args);
    t_tiffError = module ? std::string(module) + ": " + text : std::string(text);
}

void installHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(tiffError);
        TIFFSetWarningHandler(nullptr);
    });
}

struct TiffCloser {
    TIFF* tif;
    ~TiffCloser() {
        if (tif) TIFFClose(tif);
    }
};

QString lastTiffError() {
    return QString::fromStdString(t_tiffError);
}

// The most bytes one stored byte can decode to, with room to spare: run lengths pack at most 128
// bytes into 2; deflate stops near 1032:1; LZW's strings grow by one byte a code until its table
// of 4096 entries resets; a baseline JPEG needs a few bits for each block of 64 samples. Coders
// with run or repeat blocks of their own (zstd, LZMA, WebP, ...) get a bound none of them reaches.
uint64_t maxRatio(uint16_t compression) {
    switch (compression) {
    case COMPRESSION_NONE:
        return 1;
    case COMPRESSION_PACKBITS:
        return 64;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
        return 1100;
    case COMPRESSION_JPEG:
    case COMPRESSION_OJPEG:
        return 1024;
    case COMPRESSION_LZW:
        return 2048;
    default:
        return 32768;
    }
}

// A header can claim any size. Before the decode buffer is made, the strips or tiles it names must
// lie in the file and be able to hold that many bytes at the best ratio their codec can reach, so
// that a few hundred bytes cannot ask for gigabytes.
void checkDataCovers(const QString& path, TIFF* tif, uint64_t rawBytes, uint16_t compression) {
    const uint64_t fileSize = uint64_t(std::max<qint64>(0, QFileInfo(path).size()));
    const uint32_t striles = TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    uint64_t stored = 0;
    for (uint32_t i = 0; i < striles && stored < fileSize; ++i) {
        const uint64_t offset = TIFFGetStrileOffset(tif, i);
        const uint64_t count = TIFFGetStrileByteCount(tif, i);
        if (offset < fileSize) stored += std::min(count, fileSize - offset);
    }
    stored = std::min(stored, fileSize);
    if (stored * maxRatio(compression) < rawBytes)
        fail(path, QStringLiteral("truncated TIFF: %1 bytes of image data cannot hold a %2 byte image")
                       .arg(stored)
                       .arg(rawBytes));
}

template <typename T> T loadSample(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <typename T> void storeSample(uint8_t* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

} // namespace

ImageRecord loadTIFF(const QString& path) {
    installHandlers();
    t_tiffError.clear();
    TiffCloser tiff{TIFFOpen(QFile::encodeName(path).constData(), "r")};
    TIFF* tif = tiff.tif;
    if (!tif) fail(path, QStringLiteral("corrupt TIFF file (%1)").arg(lastTiffError()));

    uint32_t width = 0, height = 0;
    uint16_t bps = 0, spp = 0, photometric = 0, format = SAMPLEFORMAT_UINT, planar = PLANARCONFIG_CONTIG,
             compression = COMPRESSION_NONE;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric))
        fail(path, QStringLiteral("TIFF without a photometric interpretation"));
    checkSize(path, width, height, std::max<uint16_t>(spp, 1));

    ImageRecord image;
    image.width = int(width);
    image.height = int(height);
    if (bps == 8 && format == SAMPLEFORMAT_UINT)
        image.sampleType = UInt8;
    else if (bps == 16 && format == SAMPLEFORMAT_UINT)
        image.sampleType = UInt16;
    else if (bps == 32 && format == SAMPLEFORMAT_IEEEFP)
        image.sampleType = Float32;
    else if ((bps == 8 || bps == 16) && format == SAMPLEFORMAT_INT && (photometric == PHOTOMETRIC_CIELAB))
        image.sampleType = bps == 8 ? UInt8 : UInt16; // Lab a/b are signed by definition
    else
        fail(
            path,
            QStringLiteral("unsupported TIFF sample layout: %1 bits, sample format %2").arg(bps).arg(format));

    bool palette = false;
    switch (photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE:
        image.model = ColorModel::Grey;
        break;
    case PHOTOMETRIC_RGB:
        image.model = ColorModel::RGB;
        break;
    case PHOTOMETRIC_PALETTE:
        if (image.sampleType == Float32) fail(path, QStringLiteral("float palette TIFF"));
        image.model = ColorModel::RGB;
        palette = true;
        break;
    case PHOTOMETRIC_YCBCR:
        if (compression != COMPRESSION_JPEG || image.sampleType != UInt8)
            fail(path, QStringLiteral("unsupported TIFF: YCbCr samples outside JPEG compression"));
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        image.model = ColorModel::RGB;
        break;
    case PHOTOMETRIC_SEPARATED: {
        uint16_t inkset = INKSET_CMYK;
        TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inkset);
        if (inkset != INKSET_CMYK)
            fail(path, QStringLiteral("unsupported TIFF: separated inks other than CMYK"));
        image.model = ColorModel::CMYK;
        break;
    }
    case PHOTOMETRIC_CIELAB:
    case PHOTOMETRIC_ICCLAB:
        image.model = ColorModel::Lab;
        break;
    default:
        fail(path, QStringLiteral("unsupported TIFF photometric interpretation %1").arg(photometric));
    }
    const int colorIn = palette ? 1 : image.colorChannels();
    if (spp < colorIn)
        fail(path, QStringLiteral("TIFF has %1 samples per pixel, %2 expected").arg(spp).arg(colorIn));

    bool associated = false;
    if (spp > colorIn) {
        uint16_t extraCount = 0;
        uint16_t* extraKinds = nullptr;
        image.hasAlpha = true;
        if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraKinds) && extraCount > 0)
            associated = extraKinds[0] == EXTRASAMPLE_ASSOCALPHA;
    }

    uint32_t profileLength = 0;
    void* profile = nullptr;
    if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &profileLength, &profile) && profile && profileLength > 0)
        image.iccProfile.assign(static_cast<uint8_t*>(profile),
                                static_cast<uint8_t*>(profile) + profileLength);

    // Decode every sample into one contiguous interleaved buffer of spp samples per pixel.
    const size_t bytes = size_t(bps / 8);
    const size_t pixelIn = bytes * spp;
    const uint64_t rawBytes = uint64_t(width) * height * pixelIn;
    checkDataCovers(path, tif, rawBytes, compression);
    // Samples that need no rearranging are decoded straight into the image, others into a buffer of
    // their own. The buffer grows with the rows decoded: a header that promises more than its data
    // delivers fails before the whole size is ever allocated, and the memory a file costs follows
    // what it really holds. Up to 256 MiB is reserved at once, so ordinary images never move.
    const bool direct = !palette && pixelIn == image.pixelBytes();
    std::vector<uint8_t> rawBuffer;
    std::vector<uint8_t>& target = direct ? image.samples : rawBuffer;
    target.clear();
    target.reserve(size_t(std::min<uint64_t>(rawBytes, uint64_t(256) << 20)));
    const size_t rowBytesIn = size_t(width) * pixelIn;
    auto rowsUpTo = [&](uint32_t end) {
        const size_t need = size_t(end) * rowBytesIn;
        if (target.size() < need) target.resize(need);
        return target.data();
    };
    const int planes = planar == PLANARCONFIG_SEPARATE ? spp : 1;
    const size_t unitBytes = planar == PLANARCONFIG_SEPARATE ? bytes : pixelIn; // bytes per pixel per plane
    if (TIFFIsTiled(tif)) {
        uint32_t tw = 0, th = 0;
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
        // Tiles may overhang the image, but not by more than real writers ever make them.
        const uint64_t tileBytes = uint64_t(TIFFTileSize64(tif));
        if (tw == 0 || th == 0 || tileBytes < uint64_t(tw) * th * unitBytes ||
            tileBytes > 16 * rawBytes + (uint64_t(64) << 20))
            fail(path, QStringLiteral("corrupt TIFF tile layout"));
        std::vector<uint8_t> tile(static_cast<size_t>(tileBytes));
        for (int s = 0; s < planes; ++s)
            for (uint32_t ty = 0; ty < height; ty += th) {
                uint8_t* const raw = rowsUpTo(ty + std::min(th, height - ty));
                for (uint32_t tx = 0; tx < width; tx += tw) {
                    if (TIFFReadTile(tif, tile.data(), tx, ty, 0, uint16_t(s)) < 0)
                        fail(path,
                             QStringLiteral("truncated or corrupt TIFF data (%1)").arg(lastTiffError()));
                    const uint32_t w = std::min(tw, width - tx), h = std::min(th, height - ty);
                    for (uint32_t y = 0; y < h; ++y) {
                        const uint8_t* src = tile.data() + size_t(y) * tw * unitBytes;
                        uint8_t* dst = raw + ((size_t(ty) + y) * width + tx) * pixelIn;
                        if (planes == 1)
                            std::memcpy(dst, src, size_t(w) * pixelIn);
                        else
                            for (uint32_t x = 0; x < w; ++x)
                                std::memcpy(dst + x * pixelIn + s * bytes, src + x * bytes, bytes);
                    }
                }
            }
    } else {
        const size_t lineBytes = size_t(width) * unitBytes;
        if (uint64_t(TIFFScanlineSize64(tif)) < lineBytes)
            fail(path, QStringLiteral("corrupt TIFF strip layout"));
        std::vector<uint8_t> line(size_t(TIFFScanlineSize64(tif)));
        for (int s = 0; s < planes; ++s)
            for (uint32_t y = 0; y < height; ++y) {
                uint8_t* dst = rowsUpTo(y + 1) + size_t(y) * rowBytesIn;
                uint8_t* into = planes == 1 ? dst : line.data();
                if (TIFFReadScanline(tif, into, y, uint16_t(s)) < 0)
                    fail(path, QStringLiteral("truncated or corrupt TIFF data (%1)").arg(lastTiffError()));
                if (planes > 1)
                    for (uint32_t x = 0; x < width; ++x)
                        std::memcpy(dst + x * pixelIn + s * bytes, line.data() + x * bytes, bytes);
            }
    }

    // Keep the colour samples and the first extra sample, then fix up the encodings.
    const uint8_t* const raw = target.data();
    if (!direct) image.allocate();
    const size_t pixels = size_t(width) * height;
    const size_t outPixel = image.pixelBytes();
    if (palette) {
        uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
        if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue))
            fail(path, QStringLiteral("palette TIFF without colours"));
        const size_t entries = size_t(1) << bps;
        for (size_t p = 0; p < pixels; ++p) {
            const uint8_t* src = raw + p * pixelIn;
            uint8_t* dst = image.samples.data() + p * outPixel;
            const size_t index =
                std::min(entries - 1, size_t(bytes == 1 ? src[0] : loadSample<uint16_t>(src)));
            const uint16_t rgb[3] = {red[index], green[index], blue[index]};
            for (int c = 0; c < 3; ++c) {
                if (bytes == 1)
                    dst[c] = uint8_t(rgb[c] >> 8);
                else
                    storeSample<uint16_t>(dst + c * 2, rgb[c]);
            }
            if (image.hasAlpha) std::memcpy(dst + 3 * bytes, src + bytes, bytes);
        }
    } else if (!direct) {
        for (size_t p = 0; p < pixels; ++p)
            std::memcpy(image.samples.data() + p * outPixel, raw + p * pixelIn, outPixel);
    }
    rawBuffer = std::vector<uint8_t>();

    const size_t count = pixels * size_t(image.channels());
    const int colors = image.colorChannels();
    const int channels = image.channels();
    uint8_t* s = image.samples.data();
    if (photometric == PHOTOMETRIC_MINISWHITE) {
        for (size_t i = 0; i < count; i += size_t(channels)) {
            if (image.sampleType == UInt8)
                s[i] = uint8_t(255 - s[i]);
            else if (image.sampleType == UInt16)
                storeSample<uint16_t>(s + i * 2, uint16_t(65535 - loadSample<uint16_t>(s + i * 2)));
            else
                storeSample<float>(s + i * 4, 1.0f - loadSample<float>(s + i * 4));
        }
    }
    if (photometric == PHOTOMETRIC_CIELAB) {
        for (size_t i = 0; i < count; i += size_t(channels)) {
            if (image.sampleType == UInt8) {
                s[i + 1] = uint8_t(int8_t(s[i + 1]) + 128);
                s[i + 2] = uint8_t(int8_t(s[i + 2]) + 128);
            } else if (image.sampleType == UInt16) {
                for (int c = 1; c < 3; ++c)
                    storeSample<uint16_t>(s + (i + c) * 2,
                                          uint16_t(int16_t(loadSample<uint16_t>(s + (i + c) * 2)) + 32768));
            } else {
                storeSample<float>(s + i * 4, loadSample<float>(s + i * 4) / 100.0f);
                for (int c = 1; c < 3; ++c)
                    storeSample<float>(s + (i + c) * 4,
                                       (loadSample<float>(s + (i + c) * 4) + 128.0f) / 255.0f);
            }
        }
    }
    if (associated) {
        for (size_t i = 0; i < count; i += size_t(channels)) {
            const size_t a = i + size_t(colors);
            if (image.sampleType == UInt8) {
                const unsigned alpha = s[a];
                for (int c = 0; c < colors; ++c)
                    s[i + c] = alpha ? uint8_t(std::min(255u, (s[i + c] * 255u + alpha / 2) / alpha)) : 0;
            } else if (image.sampleType == UInt16) {
                const uint64_t alpha = loadSample<uint16_t>(s + a * 2);
                for (int c = 0; c < colors; ++c) {
                    const uint64_t v = loadSample<uint16_t>(s + (i + c) * 2);
                    storeSample<uint16_t>(
                        s + (i + c) * 2,
                        alpha ? uint16_t(std::min<uint64_t>(65535, (v * 65535 + alpha / 2) / alpha)) : 0);
                }
            } else {
                const float alpha = loadSample<float>(s + a * 4);
                for (int c = 0; c < colors; ++c)
                    storeSample<float>(s + (i + c) * 4,
                                       alpha > 0 ? loadSample<float>(s + (i + c) * 4) / alpha : 0.0f);
            }
        }
    }
    return image;
}

void saveTIFF(const ImageRecord& image, const QString& path) {
    installHandlers();
    t_tiffError.clear();
    AtomicFile out(path);
    const int fd = dup(out.fd());
    if (fd < 0) fail(path, QStringLiteral("cannot open for writing"));
    const bool big = image.byteSize() > (uint64_t(3) << 30);
    TiffCloser tiff{TIFFFdOpen(fd, QFile::encodeName(path).constData(), big ? "w8" : "w")};
    TIFF* tif = tiff.tif;
    if (!tif) {
        close(fd);
        fail(path, QStringLiteral("cannot write TIFF (%1)").arg(lastTiffError()));
    }
    const int bytes = image.bytesPerSample();
    const uint16_t channels = uint16_t(image.channels());
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(image.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(image.height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(bytes * 8));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, channels);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT,
                 image.sampleType == Float32 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tif, TIFFTAG_ZIPQUALITY, 4);
    TIFFSetField(tif, TIFFTAG_PREDICTOR,
                 image.sampleType == Float32 ? PREDICTOR_FLOATINGPOINT : PREDICTOR_HORIZONTAL);
    uint16_t photometric = PHOTOMETRIC_RGB;
    switch (image.model) {
    case ColorModel::Grey:
        photometric = PHOTOMETRIC_MINISBLACK;
        break;
    case ColorModel::RGB:
        photometric = PHOTOMETRIC_RGB;
        break;
    case ColorModel::CMYK:
        photometric = PHOTOMETRIC_SEPARATED;
        TIFFSetField(tif, TIFFTAG_INKSET, INKSET_CMYK);
        break;
    case ColorModel::Lab:
        photometric = PHOTOMETRIC_CIELAB;
        break;
    }
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
    if (image.hasAlpha) {
        uint16_t kind = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &kind);
    }
    if (!image.iccProfile.empty())
        TIFFSetField(tif, TIFFTAG_ICCPROFILE, uint32_t(image.iccProfile.size()), image.iccProfile.data());
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));

    std::vector<uint8_t> line(image.rowBytes());
    const int colors = image.colorChannels();
    for (int y = 0; y < image.height; ++y) {
        std::memcpy(line.data(), image.row(y), line.size());
        if (image.model == ColorModel::Lab) {
            // CIE Lab in TIFF: a and b signed (8/16-bit) or real L*, a*, b* (float).
            uint8_t* s = line.data();
            for (size_t i = 0; i < size_t(image.width) * channels; i += channels) {
                if (image.sampleType == UInt8) {
                    s[i + 1] = uint8_t(s[i + 1] - 128);
                    s[i + 2] = uint8_t(s[i + 2] - 128);
                } else if (image.sampleType == UInt16) {
                    for (int c = 1; c < 3; ++c)
                        storeSample<uint16_t>(s + (i + c) * 2,
                                              uint16_t(loadSample<uint16_t>(s + (i + c) * 2) - 32768));
                } else {
                    storeSample<float>(s + i * 4, loadSample<float>(s + i * 4) * 100.0f);
                    for (int c = 1; c < 3; ++c)
                        storeSample<float>(s + (i + c) * 4,
                                           loadSample<float>(s + (i + c) * 4) * 255.0f - 128.0f);
                }
            }
            (void)colors;
        }
        if (TIFFWriteScanline(tif, line.data(), uint32_t(y), 0) < 0)
            fail(path, QStringLiteral("writing TIFF failed (%1)").arg(lastTiffError()));
    }
    if (!TIFFFlush(tif)) fail(path, QStringLiteral("writing TIFF failed (%1)").arg(lastTiffError()));
    TIFFClose(tif);
    tiff.tif = nullptr;
    out.commit();
}

} // namespace Orvex::ImageIO::Detail
