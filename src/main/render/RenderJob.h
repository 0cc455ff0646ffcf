#pragma once
// The batch renderer's work: image files in, one effect with a preset and overrides, a selection
// mask, image file out. Shared by elemorama-render and its tests.
//
// Images of any colour model are rendered in RGB(A) of their own sample type: grey, CMYK and Lab go
// through the colour-management layer to RGB and back, and pixels the effect left unchanged keep
// their original samples exactly. The output is written atomically, so a failed run leaves no file.

#include "datastorage/DataChannel.h"
#include "datastorage/PixelPlane.h"
#include "document/filters/EffectJob.h"
#include "imageio/ImageIO.h"
#include "imageio/PlaneConversion.h"
#include "main/render/RenderGeometry.h"

#include <atomic>
#include <functional>

namespace Orvex {
class SettingsGroupRO;
}

namespace Orvex::Render {

using DataStorage::DataChannel;
using DataStorage::PixelPlane;
using Orvex::Ref;

struct RenderRequest {
    QString input;
    QString output;
    QString selection; // empty: the whole image
    Document::Filters::EffectJobSpec spec;
    int threads = 0;
    int jpegQuality = 95;
    // The water's horizon: a row of the image ("305", rows above the image are negative) or an
    // angle ("45deg"); empty keeps the record's angle.
    QString horizon;
    // Lines (aurora, lightning) and points (rainbow).
    RenderGeometry geometry;
    // The night sky's nebula zones: an image whose selected pixels (as for the selection) take
    // nebulas; the selection then holds the star zones. Without it every selected pixel takes both.
    QString nebulaZones;
};

// The horizon angle for a `horizon` text on an image of `height` rows; false with a message for an
// unreadable text. A row below the image is taken as the bottom row and `note` says so.
bool horizonAngleFromText(const QString& text, int height, double& angle, QString* message, QString* note);

// A failure of the run (exit code 1); usage problems are Document::Filters::EffectJobError (2).
class RenderError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The conversions between images and working planes (imageio/PlaneConversion.h), by their old names.
using ImageIO::adaptForFormat;
using ImageIO::fullSelection;
using ImageIO::imageFromPlane;
using ImageIO::planeFromImage;
using ImageIO::selectionFromImage;

struct RenderHooks {
    const std::atomic<bool>* cancel = nullptr;
    std::function<void(double fraction)> progress; // called from a watcher thread, about 10 times a second
    std::function<void(const QString& note)> note; // clamped values, format adaptations
};

// The effect of `spec` on a plane in a host's colour model (grey 1, RGB 2-4, CMYK 5-8 or Lab 9-11,
// optional alpha 13, one sample type), with an optional selection (any sample type, 0 = not
// selected; null selects everything). Returns a plane of the same model, type and channels.
// `settingsRoot` holds the user presets (null: built-in only). Throws like runRender.
Ref<PixelPlane> renderHostPlane(const PixelPlane& host, ImageIO::ColorModel model,
                                const std::vector<uint8_t>& icc, const DataChannel* selection,
                                const Document::Filters::EffectJobSpec& spec,
                                const SettingsGroupRO* settingsRoot, const RenderHooks& hooks = {},
                                const RenderGeometry& geometry = {});

// Runs the whole request. Throws EffectJobError (usage) or RenderError / std::exception (failure).
void runRender(const RenderRequest& request, const RenderHooks& hooks = {});

} // namespace Orvex::Render
