#include "imageio/ImageIO.h"
#include "imageio/ImageIOInternal.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
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

namespace {

// A temporary file of `target` is named ".<name>.XXXXXX.tmp" beside it: hidden, and marked as a
// temporary so that nothing mistakes a leftover of a killed writer for the image.
constexpr int RandomChars = 6;
const char TempSuffix[] = ".tmp";

bool isTemporaryOf(const char* entry, const QByteArray& prefix) {
    const size_t length = strlen(entry), suffix = sizeof TempSuffix - 1;
    return length == size_t(prefix.size()) + RandomChars + suffix &&
           strncmp(entry, prefix.constData(), size_t(prefix.size())) == 0 &&
           strcmp(entry + length - suffix, TempSuffix) == 0;
}

// Every writer holds an exclusive lock on its temporary file until the file is renamed or removed.
// A temporary of this target that can be locked therefore belongs to a writer that died (killed,
// crashed, power lost) and is removed; one that is still being written is left alone.
void removeStaleTemporaries(const QByteArray& directory, const QByteArray& prefix) {
    const int dirFd = open(directory.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return;
    DIR* dir = fdopendir(dirFd);
    if (!dir) {
        close(dirFd);
        return;
    }
    while (const dirent* entry = readdir(dir)) {
        if (!isTemporaryOf(entry->d_name, prefix)) continue;
        const int fd = openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat opened {};
        struct stat named {};
        if (fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_uid == geteuid() &&
            flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            fstatat(dirFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == opened.st_dev &&
            named.st_ino == opened.st_ino)
            unlinkat(dirFd, entry->d_name, 0);
        close(fd);
    }
    closedir(dir);
}

} // namespace

AtomicFile::AtomicFile(const QString& target) : m_target(QFileInfo(target).absoluteFilePath()) {
    const QFileInfo info(m_target);
    const QByteArray directory = QFile::encodeName(info.absolutePath());
    const QByteArray prefix = "." + QFile::encodeName(info.fileName()) + ".";
    removeStaleTemporaries(directory, prefix);
    for (int attempt = 0; attempt < 10 && m_fd < 0; ++attempt) {
        QByteArray pattern = directory + "/" + prefix + QByteArray(RandomChars, 'X') + TempSuffix;
        const int fd = mkostemps(pattern.data(), int(sizeof TempSuffix - 1), O_CLOEXEC);
        if (fd < 0)
            fail(target, QStringLiteral("cannot create a file in its directory: %1").arg(strerror(errno)));
        // Another writer's clean-up may have taken the new file for a stale one before the lock was
        // in place and removed it; then start again with a new name.
        struct stat st {};
        if (flock(fd, LOCK_EX) != 0 || fstat(fd, &st) != 0 || st.st_nlink == 0) {
            close(fd);
            continue;
        }
        m_fd = fd;
        m_tempPath = QFile::decodeName(pattern);
    }
    if (m_fd < 0) fail(target, QStringLiteral("cannot create a file in its directory"));
    // mkstemp gives 0600; a saved image gets the usual mode of a new file.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(m_fd, 0666 & ~mask);
}

AtomicFile::~AtomicFile() {
    // Removed while still locked, so that no clean-up sees it unlocked first.
    if (!m_committed && !m_tempPath.isEmpty()) unlink(QFile::encodeName(m_tempPath).constData());
    if (m_stream)
        fclose(m_stream);
    else if (m_fd >= 0)
        close(m_fd);
}

FILE* AtomicFile::stream() {
    if (!m_stream) {
        m_stream = fdopen(m_fd, "wb");
        if (!m_stream) fail(m_target, QStringLiteral("cannot open for writing: %1").arg(strerror(errno)));
    }
    return m_stream;
}

void AtomicFile::commit() {
    // Data on disk first, then the name: a crash at any moment leaves the old file or the whole new
    // one. The lock is held across the rename so that no clean-up takes the file for a stale one.
    const bool ok = (!m_stream || fflush(m_stream) == 0) && fsync(m_fd) == 0;
    if (!ok) fail(m_target, QStringLiteral("writing failed: %1").arg(strerror(errno)));
    if (rename(QFile::encodeName(m_tempPath).constData(), QFile::encodeName(m_target).constData()) != 0)
        fail(m_target, QStringLiteral("cannot replace the file: %1").arg(strerror(errno)));
    m_committed = true;
    if (m_stream)
        fclose(m_stream);
    else
        close(m_fd);
    m_stream = nullptr;
    m_fd = -1;
    // The rename itself reaches the disk with the directory.
    const int dirFd = open(QFile::encodeName(QFileInfo(m_target).absolutePath()).constData(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
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
