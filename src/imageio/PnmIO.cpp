// PPM and PGM, binary (P5, P6) and text (P2, P3), any maximum value up to 65535; samples with a
// maximum other than 255 or 65535 are scaled to the full range of the 8 or 16-bit type.

#include "imageio/ImageIOInternal.h"

#include <QFile>

#include <cmath>
#include <cstring>

namespace Orvex::ImageIO::Detail {

namespace {

class PnmReader {
public:
    PnmReader(const QString& path, const QByteArray& data) : m_path(path), m_data(data) {}

    // A decimal number after blanks and comments.
    uint64_t number() {
        skipBlanks();
        if (m_pos >= m_data.size() || !isdigit(uchar(m_data[m_pos])))
            fail(m_path, QStringLiteral("corrupt PNM header or data"));
        uint64_t value = 0;
        while (m_pos < m_data.size() && isdigit(uchar(m_data[m_pos]))) {
            value = value * 10 + uint64_t(m_data[m_pos++] - '0');
            if (value > 0xFFFFFFFFull) fail(m_path, QStringLiteral("corrupt PNM header: number too large"));
        }
        return value;
    }
    // The single blank that ends a binary header.
    void endOfHeader() {
        if (m_pos >= m_data.size() || !isspace(uchar(m_data[m_pos])))
            fail(m_path, QStringLiteral("corrupt PNM header"));
        ++m_pos;
    }
    size_t remaining() const { return size_t(m_data.size() - m_pos); }
    const uint8_t* binary(size_t bytes) {
        if (size_t(m_data.size() - m_pos) < bytes) fail(m_path, QStringLiteral("truncated PNM data"));
        return reinterpret_cast<const uint8_t*>(m_data.constData()) + m_pos;
    }

private:
    void skipBlanks() {
        while (m_pos < m_data.size()) {
            const char c = m_data[m_pos];
            if (c == '#') {
                while (m_pos < m_data.size() && m_data[m_pos] != '\n') ++m_pos;
            } else if (isspace(uchar(c))) {
                ++m_pos;
            } else {
                break;
            }
        }
    }
    const QString& m_path;
    const QByteArray& m_data;
    int m_pos = 2;
};

} // namespace

ImageRecord loadPNM(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) fail(path, QStringLiteral("cannot open"));
    if (file.size() > qint64(MaxSamples) * 2 + 4096) fail(path, QStringLiteral("the file is too large"));
    const QByteArray data = file.readAll();
    const char kind = data.size() > 1 ? data[1] : 0;
    const bool colour = kind == '3' || kind == '6';
    const bool text = kind == '2' || kind == '3';
    PnmReader reader(path, data);
    const uint64_t width = reader.number();
    const uint64_t height = reader.number();
    const uint64_t maxValue = reader.number();
    if (maxValue == 0 || maxValue > 65535)
        fail(path, QStringLiteral("corrupt PNM header: maximum value %1").arg(maxValue));
    checkSize(path, width, height, colour ? 3 : 1);

    // The data must be there before the image is allocated: a few bytes of header can name
    // gigabytes of samples.
    const size_t count = size_t(width) * height * (colour ? 3 : 1);
    const size_t bytes = maxValue > 255 ? 2 : 1;
    const uint8_t* src = nullptr;
    if (text) {
        // Every sample takes at least one digit and a blank after all but the last.
        if (count > 0 && reader.remaining() < 2 * count - 1) fail(path, QStringLiteral("truncated PNM data"));
    } else {
        reader.endOfHeader();
        src = reader.binary(count * bytes);
    }

    ImageRecord image;
    image.width = int(width);
    image.height = int(height);
    image.model = colour ? ColorModel::RGB : ColorModel::Grey;
    image.sampleType = maxValue > 255 ? UInt16 : UInt8;
    image.allocate();
    const uint64_t full = maxValue > 255 ? 65535 : 255;
    auto scaled = [&](uint64_t v) {
        if (v > maxValue) fail(path, QStringLiteral("corrupt PNM data: sample above the maximum value"));
        return maxValue == full ? v : (v * full + maxValue / 2) / maxValue;
    };
    if (text) {
        for (size_t i = 0; i < count; ++i) {
            const uint64_t v = scaled(reader.number());
            if (image.sampleType == UInt8)
                image.samples[i] = uint8_t(v);
            else {
                const uint16_t s = uint16_t(v);
                std::memcpy(image.samples.data() + i * 2, &s, 2);
            }
        }
    } else {
        for (size_t i = 0; i < count; ++i) {
            if (bytes == 1)
                image.samples[i] = uint8_t(scaled(src[i]));
            else {
                const uint16_t s = uint16_t(scaled(uint64_t(src[2 * i]) << 8 | src[2 * i + 1]));
                std::memcpy(image.samples.data() + i * 2, &s, 2);
            }
        }
    }
    return image;
}

void savePNM(const ImageRecord& image, const QString& path) {
    if (image.sampleType == Float32)
        fail(path, QStringLiteral("PPM/PGM cannot hold 32-bit float samples; use TIFF"));
    if (image.hasAlpha) fail(path, QStringLiteral("PPM/PGM cannot hold transparency; use PNG or TIFF"));
    if (image.model != ColorModel::Grey && image.model != ColorModel::RGB)
        fail(path, QStringLiteral("PPM/PGM cannot hold CMYK or Lab images; use TIFF"));
    AtomicFile out(path);
    FILE* stream = out.stream();
    fprintf(stream, "P%c\n%d %d\n%d\n", image.model == ColorModel::RGB ? '6' : '5', image.width, image.height,
            image.sampleType == UInt16 ? 65535 : 255);
    std::vector<uint8_t> line(image.rowBytes());
    for (int y = 0; y < image.height; ++y) {
        const uint8_t* row = image.row(y);
        if (image.sampleType == UInt16) {
            for (size_t i = 0; i < line.size(); i += 2) {
                line[i] = row[i + 1]; // big-endian samples
                line[i + 1] = row[i];
            }
            row = line.data();
        }
        if (fwrite(row, 1, image.rowBytes(), stream) != image.rowBytes())
            fail(path, QStringLiteral("writing failed"));
    }
    out.commit();
}

} // namespace Orvex::ImageIO::Detail
