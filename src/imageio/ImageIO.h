#pragma once
// Image files in and out: PNG, JPEG, TIFF and PPM/PGM, read into and written from a plain
// interleaved image record that depends on nothing else in the tree.
//
// Principles:
// - Ownership: an ImageRecord owns its samples and its ICC profile bytes (plain values).
// - Threads: every function is reentrant; records are not shared.
// - Errors: loading and saving throw std::runtime_error with a text that names the file and what
//   is wrong with it ("not a supported image file", "truncated or corrupt PNG data ..."); broken or
//   hostile files never crash and never allocate beyond the size limit below.
// - Saving is atomic: the data goes to a hidden temporary file in the target's directory
//   (".<name>.XXXXXX.tmp"), is synced to disk and renamed over the target only when complete; on
//   failure, and when the writer is killed at any moment, the target is the old file or the whole
//   new one. A temporary left by a killed writer is removed by the next save to the same target.
// - Sample encoding: native-endian samples of the type codes -1 (uint8), -2 (uint16) and -3 (float,
//   0 ... 1). CMYK samples are ink amounts (0 = no ink); inverted JPEGs are turned round on load
//   and written inverted again. Lab samples are unsigned with neutral a and b in the middle: 8-bit
//   L 0..255, a/b 128 neutral; 16-bit L 0..65535, a/b 32768 neutral with 256 steps per unit; float
//   L/100 and (a + 128)/255. The colour-management layer (cmm/CMM.h) uses the same encodings.

#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Orvex::ImageIO {

enum class ColorModel { Grey, RGB, CMYK, Lab };

enum SampleType : int { UInt8 = -1, UInt16 = -2, Float32 = -3 };

struct ImageRecord {
    int width = 0;
    int height = 0;
    ColorModel model = ColorModel::RGB;
    int sampleType = UInt8;       // -1, -2 or -3
    bool hasAlpha = false;        // one extra, last, unassociated alpha sample per pixel
    std::vector<uint8_t> samples; // rows top to bottom, no padding, channels interleaved
    std::vector<uint8_t> iccProfile;

    int colorChannels() const;
    int channels() const { return colorChannels() + (hasAlpha ? 1 : 0); }
    int bytesPerSample() const;
    size_t pixelBytes() const { return size_t(channels()) * size_t(bytesPerSample()); }
    size_t rowBytes() const { return pixelBytes() * size_t(width); }
    size_t byteSize() const { return rowBytes() * size_t(height); }

    // Allocates zeroed samples for the current size and layout.
    void allocate();
    uint8_t* row(int y) { return samples.data() + rowBytes() * size_t(y); }
    const uint8_t* row(int y) const { return samples.data() + rowBytes() * size_t(y); }
};

enum class FileFormat { Unknown, PNG, JPEG, TIFF, PNM };

// By the file's first bytes.
FileFormat detectFormat(const QString& path);
// By the name's extension (.png, .jpg/.jpeg, .tif/.tiff, .ppm/.pgm/.pnm); Unknown otherwise.
FileFormat formatForName(const QString& path);

// Images larger than this many samples (width x height x channels) are refused.
constexpr uint64_t MaxSamples = uint64_t(1) << 32;

ImageRecord loadImage(const QString& path);

struct SaveOptions {
    int jpegQuality = 95;
    FileFormat format = FileFormat::Unknown; // Unknown: from the file name
};

// Throws when the format cannot hold the record (PNG and PPM: no float, CMYK or Lab; JPEG: 8-bit
// only, no alpha, no Lab; PPM: no alpha).
void saveImage(const ImageRecord& image, const QString& path, const SaveOptions& options = {});

// Describes a record in a few words ("512x320 RGB 16-bit with alpha").
QString describe(const ImageRecord& image);

// A grey 8-bit selection from any image: its alpha when it has one, otherwise its grey samples or
// the luminance of its RGB samples, scaled to 0 ... 255 (CMYK and Lab: the lightness).
ImageRecord toSelectionMask(const ImageRecord& image);

} // namespace Orvex::ImageIO
