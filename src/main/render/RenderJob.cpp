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
using ImageIO::hostPlaneFromImage;
using ImageIO::imageFromHostPlane;
using ImageIO::ImageRecord;
using ImageIO::selectionBytes;

namespace {

// Renders `source` (RGB) with the job, reporting progress through the hooks. `zones`, when given,
// is the night sky's two-zone mask, `strokes` the rainbow's shield.
void renderRgb(EffectJob& job, const PixelPlane& source, const DataChannel* mask, PixelPlane& result,
               int threads, const RenderHooks& hooks, const DataChannel* zones = nullptr,
               const DataChannel* strokes = nullptr) {
    PhaseProgress progress;
    RunContext context;
    context.cancelFlag = hooks.cancel;
    context.progress = &progress;
    context.maxWorkers = threads;
    MaskChannels masks;
    masks.mask = mask;
    masks.duoMask = zones;
    masks.strokes = strokes;
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
                                const SettingsGroupRO* settingsRoot, const RenderHooks& hooks,
                                const RenderGeometry& geometry) {
    EffectJob job = prepareEffectJob(spec, settingsRoot);
    const int32_t type = host.commonType();
    if (type != TypeU8 && type != TypeU16 && type != TypeF32)
        throw RenderError("the host image has mixed or unsupported sample types");
    const ImageRecord image = imageFromHostPlane(host, model, icc);
    placeForImage(job, spec, image.width, image.height, &job.notes);
    if (hooks.note)
        for (const QString& n : job.notes) hooks.note(n);
    Ref<DataChannel> strokes;
    applyGeometry(geometry, job, host.size(), hooks.note, &strokes);
    const Ref<PixelPlane> source = planeFromImage(image);
    Ref<PixelPlane> result(new PixelPlane(source->channelMask(), type, source->size()));
    const Ref<DataChannel> selected = selectionBytes(selection, image.width, image.height);
    renderRgb(job, *source, selected.get(), *result, 0, hooks, nullptr, strokes.get());
    return hostPlaneFromImage(imageFromPlane(*result, *source, image), host);
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
    if (!request.nebulaZones.isEmpty() && job.effectId != EffectId::NightSky)
        throw EffectJobError("--nebula-zones applies to the NightSky effect only");

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
    placeForImage(job, request.spec, image.width, image.height, &job.notes);
    if (hooks.note)
        for (const QString& n : job.notes) hooks.note(n);
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
    Ref<DataChannel> strokes;
    applyGeometry(request.geometry, job, Detail::SizeT<int>{image.width, image.height}, hooks.note, &strokes);
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

    // The night sky's two zones: the selection's pixels are star zones (1), the nebula image's
    // selected pixels nebula zones (2).
    Ref<DataChannel> zones;
    if (!request.nebulaZones.isEmpty()) {
        ImageRecord zoneImage;
        try {
            zoneImage = ImageIO::loadImage(request.nebulaZones);
        } catch (const std::exception& e) {
            throw RenderError(e.what());
        }
        const Ref<DataChannel> nebula = selectionFromImage(zoneImage, image.width, image.height);
        const RectI all = RectI::fromSize(SizeI{image.width, image.height});
        std::vector<uint8_t> stars(size_t(image.width) * size_t(image.height)), clouds(stars.size());
        getData(*mask, all, stars.data(), unsigned(image.width));
        getData(*nebula, all, clouds.data(), unsigned(image.width));
        for (size_t i = 0; i < stars.size(); ++i) stars[i] = clouds[i] ? 2 : stars[i] ? 1 : 0;
        zones = Ref<DataChannel>(new DataChannel(SizeI{image.width, image.height}, TypeU8));
        setData(*zones, all, stars.data(), unsigned(image.width));
    }

    renderRgb(job, *source, mask.get(), *result, request.threads, hooks, zones.get(), strokes.get());

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
