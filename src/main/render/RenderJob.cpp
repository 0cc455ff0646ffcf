#include "main/render/RenderJob.h"

#include "document/filters/water/WaterParams.h"

#include "cmm/CMM.h"
#include "datastorage/PixelFormat.h"
#include "settings/Settings.h"
#include "settings/SettingsGroup.h"

#include <QImage>
#include <QSettings>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

namespace Orvex::Render {

using namespace DataStorage;
using namespace Document::Filters;
using ImageIO::ColorModel;
using ImageIO::ImageRecord;

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
    if (scaled.isNull()) throw RenderError("cannot resample the selection");
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

namespace {

uint32_t modelMask(ColorModel model) {
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

// Renders `source` (RGB) with the job, reporting progress through the hooks.
void renderRgb(EffectJob& job, const PixelPlane& source, const DataChannel* mask, PixelPlane& result,
               int threads, const RenderHooks& hooks) {
    PhaseProgress progress;
    RunContext context;
    context.cancelFlag = hooks.cancel;
    context.progress = &progress;
    context.maxWorkers = threads;
    MaskChannels masks;
    masks.mask = mask;
    std::atomic<bool> done{false};
    std::thread watcher;
    if (hooks.progress)
        watcher = std::thread([&] {
            while (!done.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                if (!done.load()) hooks.progress(progress.fraction());
            }
        });
    RunOutcome outcome = RunOutcome::Done;
    try {
        outcome = job.renderer->processAny(*job.params, source, masks, result, context);
    } catch (...) {
        done = true;
        if (watcher.joinable()) watcher.join();
        throw;
    }
    done = true;
    if (watcher.joinable()) watcher.join();
    if (outcome == RunOutcome::Cancelled) throw RenderError("cancelled");
    if (hooks.progress) hooks.progress(1.0);
}

} // namespace

Ref<PixelPlane> renderHostPlane(const PixelPlane& host, ColorModel model, const std::vector<uint8_t>& icc,
                                const DataChannel* selection, const EffectJobSpec& spec,
                                const SettingsGroupRO* settingsRoot, const RenderHooks& hooks) {
    EffectJob job = prepareEffectJob(spec, settingsRoot);
    if (hooks.note)
        for (const QString& n : job.notes) hooks.note(n);
    const int32_t type = host.commonType();
    if (type != TypeU8 && type != TypeU16 && type != TypeF32)
        throw RenderError("the host image has mixed or unsupported sample types");
    // Through an image record, so that every colour model takes the same road as files do.
    ImageRecord image;
    image.width = host.width(), image.height = host.height(), image.model = model, image.sampleType = type;
    image.hasAlpha = host.hasChannel(ChannelAlpha);
    image.iccProfile = icc;
    image.allocate();
    const uint32_t mask = modelMask(model) | (image.hasAlpha ? channelBit(ChannelAlpha) : 0u);
    const PixelFormat format = PixelFormat::fromMask(mask, type);
    getData(host, host.bounds(), image.samples.data(), unsigned(image.rowBytes()), format);

    Ref<PixelPlane> source = planeFromImage(image);
    Ref<PixelPlane> result(new PixelPlane(source->channelMask(), type, source->size()));
    Ref<DataChannel> selected;
    if (!selection) {
        selected = fullSelection(image.width, image.height);
    } else if (selection->type() == TypeU8) {
        selected = Ref<DataChannel>(new DataChannel(selection->size(), TypeU8));
        copyChannel(*selected, *selection, selection->bounds());
    } else {
        // Any selected sample counts, however faint (a converting copy to 8 bits would round small
        // 16-bit values to 0).
        const DataChannel asFloat(*selection, TypeF32);
        selected = Ref<DataChannel>(new DataChannel(selection->size(), TypeU8));
        std::vector<float> row(size_t(selection->width()));
        std::vector<uint8_t> bytes(row.size());
        for (int y = 0; y < selection->height(); ++y) {
            getData(asFloat, RectI{0, y, selection->width(), y + 1}, row.data(), 0);
            for (size_t x = 0; x < row.size(); ++x)
                bytes[x] = row[x] > 0 ? uint8_t(std::clamp(int(row[x] * 255.0f + 0.5f), 1, 255)) : 0;
            setData(*selected, RectI{0, y, selection->width(), y + 1}, bytes.data(), 0);
        }
    }
    renderRgb(job, *source, selected.get(), *result, 0, hooks);
    const ImageRecord output = imageFromPlane(*result, *source, image);
    Ref<PixelPlane> back(new PixelPlane(host.channelMask(), type, host.size()));
    const PixelFormat outFormat =
        PixelFormat::fromMask(modelMask(model) | (output.hasAlpha ? channelBit(ChannelAlpha) : 0u), type);
    if (output.hasAlpha && !back->hasChannel(ChannelAlpha)) back->addChannel(ChannelAlpha, type);
    setData(*back, back->bounds(), output.samples.data(), unsigned(output.rowBytes()), outFormat);
    return back;
}

bool horizonAngleFromText(const QString& text, int height, double& angle, QString* message, QString* note) {
    QString t = text.trimmed();
    bool ok = false;
    if (t.endsWith(QStringLiteral("deg"), Qt::CaseInsensitive)) {
        angle = t.chopped(3).trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(angle)) {
            if (message) *message = QStringLiteral("--horizon: '%1' is not an angle").arg(text);
            return false;
        }
        if (angle < 0.0 || angle > 90.0) {
            const double clamped = std::clamp(angle, 0.0, 90.0);
            if (note)
                *note =
                    QStringLiteral("horizon angle %1 is out of range, clamped to %2").arg(angle).arg(clamped);
            angle = clamped;
        }
        return true;
    }
    int row = t.toInt(&ok);
    if (!ok) {
        if (message)
            *message =
                QStringLiteral("--horizon expects a row (305) or an angle (45deg), not '%1'").arg(text);
        return false;
    }
    if (row > height - 1) {
        if (note)
            *note = QStringLiteral("horizon row %1 is below the image: taken as its bottom row (no water)")
                        .arg(row);
        row = height - 1;
    }
    angle = WaterParams::horizonAngleForRow(row, height);
    return true;
}

void runRender(const RenderRequest& request, const RenderHooks& hooks) {
    // User presets live in the per-user settings store, below the effect process's group.
    QSettings qsettings(QStringLiteral("ORVEX"), QStringLiteral("Elemorama"));
    TSettings<QSettings> store(&qsettings);
    const SettingsGroupRO root(&store, QStringLiteral("Filters/OXF/Elemorama"));
    EffectJob job = prepareEffectJob(request.spec, &root);
    if (hooks.note)
        for (const QString& n : job.notes) hooks.note(n);

    const ImageIO::FileFormat outFormat = ImageIO::formatForName(request.output);
    if (outFormat == ImageIO::FileFormat::Unknown)
        throw EffectJobError(
            QStringLiteral("cannot tell the output format from '%1' (use .png, .jpg, .tif or .ppm/.pgm)")
                .arg(request.output)
                .toStdString());

    ImageRecord image;
    try {
        image = ImageIO::loadImage(request.input);
    } catch (const std::exception& e) {
        throw RenderError(e.what());
    }
    if (!request.horizon.isEmpty()) {
        if (job.effectId != EffectId::Water)
            throw EffectJobError("--horizon applies to the Water effect only");
        double angle = 0.0;
        QString message, note;
        if (!horizonAngleFromText(request.horizon, image.height, angle, &message, &note))
            throw EffectJobError(message.toStdString());
        if (hooks.note && !note.isEmpty()) hooks.note(note);
        job.params->setByKey(QStringLiteral("horizonAngle"), QString::number(angle, 'g', 9), nullptr,
                             nullptr);
    }
    Ref<PixelPlane> source = planeFromImage(image);
    Ref<PixelPlane> result(new PixelPlane(source->channelMask(), image.sampleType, source->size()));
    Ref<DataChannel> mask;
    if (request.selection.isEmpty()) {
        mask = fullSelection(image.width, image.height);
    } else {
        ImageRecord maskImage;
        try {
            maskImage = ImageIO::loadImage(request.selection);
        } catch (const std::exception& e) {
            throw RenderError(e.what());
        }
        if (hooks.note && (maskImage.width != image.width || maskImage.height != image.height))
            hooks.note(QStringLiteral("selection %1x%2 resampled to %3x%4")
                           .arg(maskImage.width)
                           .arg(maskImage.height)
                           .arg(image.width)
                           .arg(image.height));
        mask = selectionFromImage(maskImage, image.width, image.height);
    }

    renderRgb(job, *source, mask.get(), *result, request.threads, hooks);

    ImageRecord output = imageFromPlane(*result, *source, image);
    const QString adapted = adaptForFormat(output, outFormat);
    if (!adapted.isEmpty() && hooks.note) hooks.note(adapted);
    ImageIO::SaveOptions options;
    options.jpegQuality = request.jpegQuality;
    options.format = outFormat;
    try {
        ImageIO::saveImage(output, request.output, options);
    } catch (const std::exception& e) {
        throw RenderError(e.what());
    }
}

} // namespace Orvex::Render
