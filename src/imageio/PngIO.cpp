// PNG through libpng: 1 ... 16-bit grey, grey + alpha, RGB, RGBA and palettes on reading (palettes
// and low bit depths are expanded, tRNS becomes alpha); 8 and 16-bit grey/RGB with or without alpha
// on writing. The embedded ICC profile travels in both directions.

#include "imageio/ImageIOInternal.h"

#include <QFile>

#include <csetjmp>
#include <png.h>

namespace Orvex::ImageIO::Detail {

namespace {

struct PngErrors {
    char message[256] = {0};
    bool sizeError = false; // message holds the whole text
};

void pngError(png_structp png, png_const_charp message) {
    auto* errors = static_cast<PngErrors*>(png_get_error_ptr(png));
    snprintf(errors->message, sizeof errors->message, "%s", message ? message : "unknown error");
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

struct FileCloser {
    FILE* f;
    ~FileCloser() {
        if (f) fclose(f);
    }
};

} // namespace

ImageRecord loadPNG(const QString& path) {
    FileCloser file{fopen(QFile::encodeName(path).constData(), "rb")};
    if (!file.f) fail(path, QStringLiteral("cannot open"));
    PngErrors errors;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &errors, pngError, pngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        fail(path, QStringLiteral("out of memory"));
    }
    ImageRecord image;
    std::vector<png_bytep> rows;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        if (errors.sizeError) fail(path, QString::fromUtf8(errors.message));
        fail(path,
             QStringLiteral("truncated or corrupt PNG data (%1)").arg(QString::fromLatin1(errors.message)));
    }
    png_init_io(png, file.f);
    png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int bitDepth = 0, colorType = 0;
    png_get_IHDR(png, info, &width, &height, &bitDepth, &colorType, nullptr, nullptr, nullptr);
    try {
        checkSize(path, width, height, 4);
    } catch (const std::exception& e) {
        errors.sizeError = true;
        snprintf(errors.message, sizeof errors.message, "%s", e.what() + QFile::encodeName(path).size() + 2);
        png_longjmp(png, 1);
    }

    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if (bitDepth == 16) png_set_swap(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);

    const int channels = png_get_channels(png, info);
    const int outDepth = png_get_bit_depth(png, info);
    image.width = int(width);
    image.height = int(height);
    image.sampleType = outDepth == 16 ? UInt16 : UInt8;
    image.model = channels <= 2 ? ColorModel::Grey : ColorModel::RGB;
    image.hasAlpha = channels == 2 || channels == 4;

    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 profileLength = 0;
    if (png_get_iCCP(png, info, &name, &compression, &profile, &profileLength) && profile &&
        profileLength > 0)
        image.iccProfile.assign(profile, profile + profileLength);

    image.allocate();
    if (png_get_rowbytes(png, info) != image.rowBytes()) png_error(png, "unexpected row layout");
    rows.resize(size_t(height));
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = image.row(int(y));
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return image;
}

void savePNG(const ImageRecord& image, const QString& path) {
    if (image.sampleType == Float32)
        fail(path, QStringLiteral("PNG cannot hold 32-bit float samples; use TIFF"));
    if (image.model == ColorModel::CMYK || image.model == ColorModel::Lab)
        fail(path, QStringLiteral("PNG cannot hold CMYK or Lab images; use TIFF"));

    AtomicFile out(path);
    FILE* stream = out.stream();
    PngErrors errors;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &errors, pngError, pngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        fail(path, QStringLiteral("out of memory"));
    }
    std::vector<png_bytep> rows(size_t(image.height));
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        fail(path, QStringLiteral("writing PNG failed (%1)").arg(QString::fromLatin1(errors.message)));
    }
    png_init_io(png, stream);
    png_set_benign_errors(png, 1);
    png_set_compression_level(png, 4);
    const int colorType = image.model == ColorModel::Grey
                              ? (image.hasAlpha ? PNG_COLOR_TYPE_GRAY_ALPHA : PNG_COLOR_TYPE_GRAY)
                              : (image.hasAlpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB);
    png_set_IHDR(png, info, png_uint_32(image.width), png_uint_32(image.height),
                 image.sampleType == UInt16 ? 16 : 8, colorType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!image.iccProfile.empty())
        png_set_iCCP(png, info, "ICC Profile", PNG_COMPRESSION_TYPE_BASE, image.iccProfile.data(),
                     png_uint_32(image.iccProfile.size()));
    png_write_info(png, info);
    if (image.sampleType == UInt16) png_set_swap(png);
    for (int y = 0; y < image.height; ++y) rows[size_t(y)] = const_cast<png_bytep>(image.row(y));
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    out.commit();
}

} // namespace Orvex::ImageIO::Detail
