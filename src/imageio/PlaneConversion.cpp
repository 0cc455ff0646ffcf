#include "imageio/PlaneConversion.h"

#include "cmm/CMM.h"
#include "datastorage/PixelFormat.h"

#include <QImage>
#include <QStringList>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace Orvex::ImageIO {

using namespace DataStorage;

namespace {

CMM::ColorSpace spaceOf(ColorModel model) {
    switch (model) {
    case ColorModel::Grey:
        return CMM::ColorSpace::Grey;
    case ColorModel::RGB:
        return CMM::ColorSpace::RGB;
    case ColorModel::CMYK:
        return CMM::ColorSpace::CMYK;
    case ColorModel::Lab:
        return CMM::ColorSpace::Lab;
    }
    return CMM::ColorSpace::Unknown;
}

PixelFormat rgbFormat(int type, bool alpha) {
    return PixelFormat::fromMask(alpha ? MaskRGBA : MaskRGB, type);
}

CMM::ProfilePtr imageProfile(const ImageRecord& image) {
    CMM::ProfilePtr embedded;
    if (!image.iccProfile.empty())
        embedded = CMM::Profile::fromICC(image.iccProfile.data(), image.iccProfile.size());
    return CMM::profileOrDefault(embedded, spaceOf(image.model));
}

// Converts samples between the three sample types (the channel conversion rules).
void convertSamples(const uint8_t* in, int inType, uint8_t* out, int outType, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        double v;
        switch (inType) {
        case -1:
            v = in[i] / 255.0;
            break;
        case -2:
            v = reinterpret_cast<const uint16_t*>(in)[i] / 65535.0;
            break;
        default:
            v = reinterpret_cast<const float*>(in)[i];
            break;
        }
        switch (outType) {
        case -1:
            out[i] = inType == -2 ? uint8_t((reinterpret_cast<const uint16_t*>(in)[i] + 127) / 257)
                                  : uint8_t(std::clamp(int(v * 255.0 + 0.5), 0, 255));
            break;
        case -2:
            reinterpret_cast<uint16_t*>(out)[i] =
                inType == -1 ? uint16_t(in[i] * 257) : uint16_t(std::clamp(int(v * 65535.0 + 0.5), 0, 65535));
            break;
        default:
            reinterpret_cast<float*>(out)[i] = float(v);
            break;
        }
    }
}

} // namespace

Ref<PixelPlane> planeFromImage(const ImageRecord& image) {
    const bool alpha = image.hasAlpha;
    Ref<PixelPlane> plane(
        new PixelPlane(alpha ? MaskRGBA : MaskRGB, image.sampleType, SizeI{image.width, image.height}));
    const PixelFormat format = rgbFormat(image.sampleType, alpha);
    if (image.model == ColorModel::RGB) {
        setData(*plane, plane->bounds(), image.samples.data(), unsigned(image.rowBytes()), format);
        return plane;
    }
    const CMM::PixelLayout in{spaceOf(image.model), image.sampleType, alpha};
    const CMM::PixelLayout out{CMM::ColorSpace::RGB, image.sampleType, alpha};
    const CMM::Transform toRgb(imageProfile(image), in, CMM::Profile::defaultProfile(CMM::ColorSpace::RGB),
                               out);
    std::vector<uint8_t> rgb(out.pixelBytes() * size_t(image.width) * size_t(image.height));
    toRgb.apply(image.samples.data(), image.rowBytes(), rgb.data(), out.pixelBytes() * size_t(image.width),
                image.width, image.height);
    setData(*plane, plane->bounds(), rgb.data(), 0, format);
    return plane;
}

ImageRecord imageFromPlane(const PixelPlane& result, const PixelPlane& source, const ImageRecord& original) {
    ImageRecord image = original;
    const bool alpha = original.hasAlpha || result.hasChannel(ChannelAlpha);
    image.hasAlpha = alpha;
    image.allocate();
    const PixelFormat format = rgbFormat(original.sampleType, alpha);
    const size_t rgbRow = size_t(format.pixelSize()) * size_t(original.width);
    std::vector<uint8_t> rgb(rgbRow * size_t(original.height)), before(rgb.size());
    getData(result, result.bounds(), rgb.data(), 0, format);
    if (original.model == ColorModel::RGB && original.hasAlpha == alpha) {
        image.samples.assign(rgb.begin(), rgb.end());
        return image;
    }
    getData(source, source.bounds(), before.data(), 0, format);
    const CMM::PixelLayout in{CMM::ColorSpace::RGB, original.sampleType, alpha};
    const CMM::PixelLayout out{spaceOf(original.model), original.sampleType, alpha};
    const CMM::Transform back(CMM::Profile::defaultProfile(CMM::ColorSpace::RGB), in, imageProfile(original),
                              out);
    const size_t px = format.pixelSize(), outPx = image.pixelBytes(), origPx = original.pixelBytes();
    for (int y = 0; y < original.height; ++y) {
        const uint8_t* now = rgb.data() + rgbRow * size_t(y);
        const uint8_t* was = before.data() + rgbRow * size_t(y);
        uint8_t* target = image.row(y);
        back.apply(now, target, size_t(original.width));
        // Untouched pixels keep their exact original samples (no round-trip drift).
        if (original.hasAlpha == alpha)
            for (int x = 0; x < original.width; ++x)
                if (std::memcmp(now + px * size_t(x), was + px * size_t(x), px) == 0)
                    std::memcpy(target + outPx * size_t(x), original.row(y) + origPx * size_t(x), outPx);
    }
    return image;
}

Ref<DataChannel> selectionFromImage(const ImageRecord& maskImage, int width, int height) {
    const ImageRecord mask = ImageIO::toSelectionMask(maskImage);
    Ref<DataChannel> channel(new DataChannel(SizeI{width, height}, TypeU8));
    if (mask.width == width && mask.height == height) {
        setData(*channel, channel->bounds(), mask.samples.data(), unsigned(mask.rowBytes()));
        return channel;
    }
    const QImage small(mask.samples.data(), mask.width, mask.height, int(mask.rowBytes()),
                       QImage::Format_Grayscale8);
    const QImage scaled = small.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                              .convertToFormat(QImage::Format_Grayscale8);
    if (scaled.isNull()) throw std::runtime_error("cannot resample the selection");
    for (int y = 0; y < height; ++y)
        setData(*channel, RectI{0, y, width, y + 1}, scaled.constScanLine(y), unsigned(width));
    return channel;
}

Ref<DataChannel> fullSelection(int width, int height) {
    Ref<DataChannel> channel(new DataChannel(SizeI{width, height}, TypeU8));
    const uint8_t full = 255;
    channel->fill(&full);
    return channel;
}

QString adaptForFormat(ImageRecord& image, ImageIO::FileFormat format) {
    using ImageIO::FileFormat;
    QStringList changes;
    int type = image.sampleType;
    bool alpha = image.hasAlpha;
    if (format == FileFormat::JPEG && type != -1) type = -1;
    if ((format == FileFormat::PNG || format == FileFormat::PNM) && type == -3) type = -2;
    if ((format == FileFormat::JPEG || format == FileFormat::PNM) && alpha) alpha = false;
    if (type == image.sampleType && alpha == image.hasAlpha) return {};
    ImageRecord out = image;
    out.sampleType = type;
    out.hasAlpha = alpha;
    out.allocate();
    const int inChannels = image.channels(), outChannels = out.channels();
    const size_t inSample = size_t(image.bytesPerSample()), outSample = size_t(out.bytesPerSample());
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            convertSamples(image.row(y) + size_t(x) * inChannels * inSample, image.sampleType,
                           out.row(y) + size_t(x) * outChannels * outSample, type, size_t(outChannels));
    if (type != image.sampleType)
        changes << QStringLiteral("samples converted to %1").arg(type == -1 ? "8-bit" : "16-bit");
    if (alpha != image.hasAlpha) changes << QStringLiteral("transparency dropped");
    image = std::move(out);
    return changes.join(QStringLiteral(", "));
}

uint32_t modelChannelMask(ColorModel model) {
    switch (model) {
    case ColorModel::Grey:
        return channelBit(ChannelGrey);
    case ColorModel::RGB:
        return MaskRGB;
    case ColorModel::CMYK:
        return MaskCMYKA & ~channelBit(ChannelAlpha);
    case ColorModel::Lab:
        return MaskLabA & ~channelBit(ChannelAlpha);
    }
    return 0;
}

ImageRecord imageFromHostPlane(const PixelPlane& host, ColorModel model, const std::vector<uint8_t>& icc) {
    const int32_t type = host.commonType();
    if (type != TypeU8 && type != TypeU16 && type != TypeF32)
        throw std::runtime_error("the host image has mixed or unsupported sample types");
    ImageRecord image;
    image.width = host.width(), image.height = host.height(), image.model = model, image.sampleType = type;
    image.hasAlpha = host.hasChannel(ChannelAlpha);
    image.iccProfile = icc;
    image.allocate();
    const uint32_t mask = modelChannelMask(model) | (image.hasAlpha ? channelBit(ChannelAlpha) : 0u);
    getData(host, host.bounds(), image.samples.data(), unsigned(image.rowBytes()),
            PixelFormat::fromMask(mask, type));
    return image;
}

Ref<PixelPlane> hostPlaneFromImage(const ImageRecord& image, const PixelPlane& host) {
    const int32_t type = image.sampleType;
    Ref<PixelPlane> back(new PixelPlane(host.channelMask(), type, host.size()));
    if (image.hasAlpha && !back->hasChannel(ChannelAlpha)) back->addChannel(ChannelAlpha, type);
    const PixelFormat format = PixelFormat::fromMask(
        modelChannelMask(image.model) | (image.hasAlpha ? channelBit(ChannelAlpha) : 0u), type);
    setData(*back, back->bounds(), image.samples.data(), unsigned(image.rowBytes()), format);
    return back;
}

Ref<DataChannel> selectionBytes(const DataChannel* selection, int width, int height) {
    if (!selection) return fullSelection(width, height);
    Ref<DataChannel> selected(new DataChannel(selection->size(), TypeU8));
    if (selection->type() == TypeU8) {
        copyChannel(*selected, *selection, selection->bounds());
        return selected;
    }
    // Any selected sample counts, however faint (a converting copy to 8 bits would round small
    // 16-bit values to 0).
    const DataChannel asFloat(*selection, TypeF32);
    std::vector<float> row(size_t(selection->width()));
    std::vector<uint8_t> bytes(row.size());
    for (int y = 0; y < selection->height(); ++y) {
        getData(asFloat, RectI{0, y, selection->width(), y + 1}, row.data(), 0);
        for (size_t x = 0; x < row.size(); ++x)
            bytes[x] = row[x] > 0 ? uint8_t(std::clamp(int(row[x] * 255.0f + 0.5f), 1, 255)) : 0;
        setData(*selected, RectI{0, y, selection->width(), y + 1}, bytes.data(), 0);
    }
    return selected;
}

} // namespace Orvex::ImageIO
