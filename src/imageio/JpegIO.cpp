// JPEG through libjpeg: grey, RGB (YCbCr) and CMYK/YCCK. CMYK files written with the inverted
// convention (an Adobe marker) are turned round to ink amounts on reading and written that way again.
// A file that ends early is an error rather than an image padded with grey.

#include "imageio/ImageIOInternal.h"

#include <QFile>

#include <csetjmp>
#include <cstdlib>
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

namespace Orvex::ImageIO::Detail {

namespace {

struct JpegErrors {
    jpeg_error_mgr mgr;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX] = {0};
    JOCTET* profile = nullptr; // kept here so that the error path can free it after a long jump
};

void jpegErrorExit(j_common_ptr cinfo) {
    auto* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, errors->message);
    longjmp(errors->jump, 1);
}

// Warnings about missing data mean the file is cut short: treat them as errors.
void jpegMessage(j_common_ptr cinfo, int level) {
    if (level < 0 && (cinfo->err->msg_code == JWRN_JPEG_EOF || cinfo->err->msg_code == JWRN_HIT_MARKER))
        jpegErrorExit(cinfo);
}

struct FileCloser {
    FILE* f;
    ~FileCloser() {
        if (f) fclose(f);
    }
};

} // namespace

ImageRecord loadJPEG(const QString& path) {
    FileCloser file{fopen(QFile::encodeName(path).constData(), "rb")};
    if (!file.f) fail(path, QStringLiteral("cannot open"));
    jpeg_decompress_struct cinfo;
    JpegErrors errors;
    cinfo.err = jpeg_std_error(&errors.mgr);
    errors.mgr.error_exit = jpegErrorExit;
    errors.mgr.emit_message = jpegMessage;
    ImageRecord image;
    std::vector<JSAMPROW> rows;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&cinfo);
        free(errors.profile);
        fail(path,
             QStringLiteral("truncated or corrupt JPEG data (%1)").arg(QString::fromLatin1(errors.message)));
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file.f);
    jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF); // ICC profile chunks
    jpeg_read_header(&cinfo, TRUE);

    bool inverted = false;
    switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
        cinfo.out_color_space = JCS_GRAYSCALE;
        image.model = ColorModel::Grey;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        cinfo.out_color_space = JCS_CMYK;
        image.model = ColorModel::CMYK;
        inverted = cinfo.saw_Adobe_marker;
        break;
    default:
        cinfo.out_color_space = JCS_RGB;
        image.model = ColorModel::RGB;
        break;
    }
    if (cinfo.image_width > 0 && cinfo.image_height > 0 &&
        uint64_t(cinfo.image_width) * cinfo.image_height * 4 > MaxSamples) {
        snprintf(errors.message, sizeof errors.message, "image too large: %u x %u", cinfo.image_width,
                 cinfo.image_height);
        longjmp(errors.jump, 1);
    }
    unsigned profileLength = 0;
    if (jpeg_read_icc_profile(&cinfo, &errors.profile, &profileLength) && errors.profile)
        image.iccProfile.assign(errors.profile, errors.profile + profileLength);
    free(errors.profile);
    errors.profile = nullptr;
    jpeg_start_decompress(&cinfo);
    image.width = int(cinfo.output_width);
    image.height = int(cinfo.output_height);
    image.sampleType = UInt8;
    image.hasAlpha = false;
    if (cinfo.output_components != image.colorChannels()) {
        snprintf(errors.message, sizeof errors.message, "unexpected component count %d",
                 cinfo.output_components);
        longjmp(errors.jump, 1);
    }
    image.allocate();
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = image.row(int(cinfo.output_scanline));
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    if (inverted)
        for (uint8_t& s : image.samples) s = uint8_t(255 - s);
    return image;
}

void saveJPEG(const ImageRecord& image, const QString& path, int quality) {
    if (image.sampleType != UInt8)
        fail(path, QStringLiteral("JPEG holds 8-bit samples only; use PNG or TIFF"));
    if (image.hasAlpha) fail(path, QStringLiteral("JPEG cannot hold transparency; use PNG or TIFF"));
    if (image.model == ColorModel::Lab) fail(path, QStringLiteral("JPEG cannot hold Lab images; use TIFF"));

    AtomicFile out(path);
    FILE* stream = out.stream();
    std::vector<uint8_t> inverted;
    if (image.model == ColorModel::CMYK) {
        inverted.resize(image.rowBytes());
    }
    jpeg_compress_struct cinfo;
    JpegErrors errors;
    cinfo.err = jpeg_std_error(&errors.mgr);
    errors.mgr.error_exit = jpegErrorExit;
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&cinfo);
        fail(path, QStringLiteral("writing JPEG failed (%1)").arg(QString::fromLatin1(errors.message)));
    }
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, stream);
    cinfo.image_width = JDIMENSION(image.width);
    cinfo.image_height = JDIMENSION(image.height);
    cinfo.input_components = image.colorChannels();
    cinfo.in_color_space = image.model == ColorModel::Grey  ? JCS_GRAYSCALE
                           : image.model == ColorModel::RGB ? JCS_RGB
                                                            : JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (image.model == ColorModel::CMYK) cinfo.write_Adobe_marker = TRUE;
    jpeg_start_compress(&cinfo, TRUE);
    if (!image.iccProfile.empty())
        jpeg_write_icc_profile(&cinfo, image.iccProfile.data(), unsigned(image.iccProfile.size()));
    while (cinfo.next_scanline < cinfo.image_height) {
        const uint8_t* source = image.row(int(cinfo.next_scanline));
        JSAMPROW row = const_cast<JSAMPROW>(source);
        if (!inverted.empty()) {
            for (size_t i = 0; i < inverted.size(); ++i) inverted[i] = uint8_t(255 - source[i]);
            row = inverted.data();
        }
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    out.commit();
}

} // namespace Orvex::ImageIO::Detail
