#include "imageio/ImageIO.h"
#include "imageio/ImageIOInternal.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Orvex::ImageIO {

int ImageRecord::colorChannels() const {
    switch (model) {
    case ColorModel::Grey:
        return 1;
    case ColorModel::RGB:
    case ColorModel::Lab:
        return 3;
    case ColorModel::CMYK:
        return 4;
    }
    return 0;
}

int ImageRecord::bytesPerSample() const {
    switch (sampleType) {
    case UInt8:
        return 1;
    case UInt16:
        return 2;
    case Float32:
        return 4;
    }
    return 0;
}

void ImageRecord::allocate() {
    samples.assign(byteSize(), 0);
}

namespace Detail {

void fail(const QString& path, const QString& what) {
    throw std::runtime_error(QStringLiteral("%1: %2").arg(path, what).toStdString());
}

void checkSize(const QString& path, uint64_t width, uint64_t height, uint64_t channels) {
    if (width == 0 || height == 0) fail(path, QStringLiteral("the image has no pixels"));
    if (width > 0x7FFFFFFF || height > 0x7FFFFFFF || width * height > MaxSamples ||
        width * height * channels > MaxSamples)
        fail(path, QStringLiteral("the image is too large (%1 x %2)").arg(width).arg(height));
}

AtomicFile::AtomicFile(const QString& target) : m_target(QFileInfo(target).absoluteFilePath()) {
    const QFileInfo info(m_target);
    QByteArray pattern = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName() +
                                           QStringLiteral(".XXXXXX"));
    m_fd = mkstemp(pattern.data());
    if (m_fd < 0)
        fail(target, QStringLiteral("cannot create a file in its directory: %1").arg(strerror(errno)));
    m_tempPath = QFile::decodeName(pattern);
    // mkstemp gives 0600; a saved image gets the usual mode of a new file.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(m_fd, 0666 & ~mask);
}

AtomicFile::~AtomicFile() {
    if (m_stream)
        fclose(m_stream);
    else if (m_fd >= 0)
        close(m_fd);
    if (!m_committed) unlink(QFile::encodeName(m_tempPath).constData());
}

FILE* AtomicFile::stream() {
    if (!m_stream) {
        m_stream = fdopen(m_fd, "wb");
        if (!m_stream) fail(m_target, QStringLiteral("cannot open for writing: %1").arg(strerror(errno)));
    }
    return m_stream;
}

void AtomicFile::commit() {
    bool ok = true;
    if (m_stream) {
        ok = fflush(m_stream) == 0;
        ok = fsync(m_fd) == 0 && ok;
        ok = fclose(m_stream) == 0 && ok;
        m_stream = nullptr;
    } else {
        ok = fsync(m_fd) == 0;
        ok = close(m_fd) == 0 && ok;
    }
    m_fd = -1;
    if (!ok) fail(m_target, QStringLiteral("writing failed: %1").arg(strerror(errno)));
    if (rename(QFile::encodeName(m_tempPath).constData(), QFile::encodeName(m_target).constData()) != 0)
        fail(m_target, QStringLiteral("cannot replace the file: %1").arg(strerror(errno)));
    m_committed = true;
}

} // namespace Detail

FileFormat detectFormat(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return FileFormat::Unknown;
    const QByteArray head = file.read(8);
    if (head.startsWith("\x89PNG\r\n\x1a\n")) return FileFormat::PNG;
    if (head.startsWith("\xff\xd8\xff")) return FileFormat::JPEG;
    if (head.startsWith("II*\0") || head.startsWith(QByteArray("MM\0*", 4)) ||
        head.startsWith(QByteArray("II*\0", 4)))
        return FileFormat::TIFF;
    if (head.size() >= 2 && head[0] == 'P' && head[1] >= '2' && head[1] <= '6' && head[1] != '4')
        return FileFormat::PNM;
    return FileFormat::Unknown;
}

FileFormat formatForName(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("png")) return FileFormat::PNG;
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg")) return FileFormat::JPEG;
    if (suffix == QLatin1String("tif") || suffix == QLatin1String("tiff")) return FileFormat::TIFF;
    if (suffix == QLatin1String("ppm") || suffix == QLatin1String("pgm") || suffix == QLatin1String("pnm"))
        return FileFormat::PNM;
    return FileFormat::Unknown;
}

ImageRecord loadImage(const QString& path) {
    QFileInfo info(path);
    if (!info.exists()) Detail::fail(path, QStringLiteral("no such file"));
    if (info.isDir()) Detail::fail(path, QStringLiteral("is a directory"));
    QFile probe(path);
    if (!probe.open(QIODevice::ReadOnly))
        Detail::fail(path, QStringLiteral("cannot open: %1").arg(probe.errorString()));
    probe.close();
    switch (detectFormat(path)) {
    case FileFormat::PNG:
        return Detail::loadPNG(path);
    case FileFormat::JPEG:
        return Detail::loadJPEG(path);
    case FileFormat::TIFF:
        return Detail::loadTIFF(path);
    case FileFormat::PNM:
        return Detail::loadPNM(path);
    case FileFormat::Unknown:
        break;
    }
    Detail::fail(path, QStringLiteral("not a supported image file (PNG, JPEG, TIFF, PPM/PGM)"));
}

void saveImage(const ImageRecord& image, const QString& path, const SaveOptions& options) {
    if (image.width <= 0 || image.height <= 0 || image.bytesPerSample() == 0 ||
        image.samples.size() != image.byteSize())
        Detail::fail(path, QStringLiteral("cannot save an empty or inconsistent image"));
    const FileFormat format = options.format == FileFormat::Unknown ? formatForName(path) : options.format;
    switch (format) {
    case FileFormat::PNG:
        return Detail::savePNG(image, path);
    case FileFormat::JPEG:
        return Detail::saveJPEG(image, path, std::clamp(options.jpegQuality, 1, 100));
    case FileFormat::TIFF:
        return Detail::saveTIFF(image, path);
    case FileFormat::PNM:
        return Detail::savePNM(image, path);
    case FileFormat::Unknown:
        break;
    }
    Detail::fail(path, QStringLiteral("unknown file type; use .png, .jpg, .tif or .ppm/.pgm"));
}

QString describe(const ImageRecord& image) {
    static const char* models[] = {"grey", "RGB", "CMYK", "Lab"};
    const char* depth = image.sampleType == UInt8    ? "8-bit"
                        : image.sampleType == UInt16 ? "16-bit"
                                                     : "32-bit float";
    return QStringLiteral("%1x%2 %3 %4%5")
        .arg(image.width)
        .arg(image.height)
        .arg(models[int(image.model)])
        .arg(depth)
        .arg(image.hasAlpha ? " with alpha" : "");
}

namespace {
double sampleAt(const ImageRecord& image, size_t index) {
    switch (image.sampleType) {
    case UInt8:
        return image.samples[index] / 255.0;
    case UInt16: {
        uint16_t v;
        std::memcpy(&v, image.samples.data() + index * 2, 2);
        return v / 65535.0;
    }
    default: {
        float v;
        std::memcpy(&v, image.samples.data() + index * 4, 4);
        return std::isfinite(v) ? std::clamp(double(v), 0.0, 1.0) : 0.0;
    }
    }
}
} // namespace

ImageRecord toSelectionMask(const ImageRecord& image) {
    ImageRecord mask;
    mask.width = image.width;
    mask.height = image.height;
    mask.model = ColorModel::Grey;
    mask.sampleType = UInt8;
    mask.allocate();
    const size_t channels = size_t(image.channels());
    const size_t pixels = size_t(image.width) * size_t(image.height);
    for (size_t p = 0; p < pixels; ++p) {
        const size_t base = p * channels;
        double v;
        if (image.hasAlpha)
            v = sampleAt(image, base + channels - 1);
        else if (image.model == ColorModel::RGB)
            v = 0.2126 * sampleAt(image, base) + 0.7152 * sampleAt(image, base + 1) +
                0.0722 * sampleAt(image, base + 2);
        else if (image.model == ColorModel::CMYK)
            v = (1.0 - sampleAt(image, base + 3)) *
                (1.0 - (sampleAt(image, base) + sampleAt(image, base + 1) + sampleAt(image, base + 2)) / 3.0);
        else
            v = sampleAt(image, base); // grey, or the L of Lab
        mask.samples[p] = uint8_t(std::lround(v * 255.0));
    }
    return mask;
}

} // namespace Orvex::ImageIO
