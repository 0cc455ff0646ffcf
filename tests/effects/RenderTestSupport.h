#pragma once
// Small planes and masks for renderer tests.
#include "datastorage/DataChannel.h"
#include "datastorage/PixelFormat.h"
#include "datastorage/PixelPlane.h"
#include "document/filters/EffectRenderer.h"
#include "document/filters/RenderSupport.h"

#include <atomic>

#include <cmath>
#include <vector>

namespace TestSupport {

using namespace Orvex::DataStorage;
using Orvex::Ref;
using Orvex::Detail::RectI;
using Orvex::Detail::SizeI;

// A smooth colour gradient with some texture, opaque unless `alpha` gives a fixed alpha.
inline Ref<PixelPlane> makePlane(int w, int h, int32_t type, bool withAlpha = false, float alpha = 1.0f) {
    Ref<PixelPlane> plane(new PixelPlane(withAlpha ? MaskRGBA : MaskRGB, type, SizeI{w, h}));
    std::vector<float> rgba(size_t(w) * size_t(h) * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            float* p = &rgba[(size_t(y) * size_t(w) + size_t(x)) * 4];
            p[0] = 0.2f + 0.5f * float(x) / float(w);
            p[1] = 0.3f + 0.4f * float(y) / float(h);
            p[2] = 0.4f + 0.1f * std::sin(float(x * 7 + y * 3) * 0.05f);
            p[3] = alpha;
        }
    setData(*plane, plane->bounds(), rgba.data(), 0, PixelFormat::fromMask(MaskRGBA, TypeF32));
    return plane;
}

inline Ref<PixelPlane> emptyLike(const PixelPlane& p) {
    return Ref<PixelPlane>(new PixelPlane(p.channelMask(), p.commonType(), p.size()));
}

inline Ref<DataChannel> makeMask(int w, int h, const RectI& selected, uint8_t value = 255) {
    Ref<DataChannel> mask(new DataChannel(SizeI{w, h}, TypeU8));
    if (!selected.isEmpty()) mask->fill(selected, &value);
    return mask;
}

// RGBA samples of the plane as 8-bit, 16-bit or float bytes of its own type.
inline std::vector<uint8_t> planeBytes(const PixelPlane& plane) {
    const PixelFormat format = PixelFormat::fromMask(MaskRGBA, plane.commonType());
    std::vector<uint8_t> bytes(size_t(format.pixelSize()) * size_t(plane.width()) * size_t(plane.height()));
    getData(plane, plane.bounds(), bytes.data(), 0, format);
    return bytes;
}

// RGBA as floats 0 ... 1.
inline std::vector<float> planeFloats(const PixelPlane& plane) {
    std::vector<float> values(size_t(plane.width()) * size_t(plane.height()) * 4);
    getData(plane, plane.bounds(), values.data(), 0, PixelFormat::fromMask(MaskRGBA, TypeF32));
    return values;
}

// A black opaque picture (RGB), so that a result shows an effect's own colours.
inline Ref<PixelPlane> blackPlane(int w, int h, int32_t type = TypeF32) {
    Ref<PixelPlane> plane(new PixelPlane(MaskRGB, type, SizeI{w, h}));
    std::vector<float> rgba(size_t(w) * size_t(h) * 4, 0.0f);
    setData(*plane, plane->bounds(), rgba.data(), 0, PixelFormat::fromMask(MaskRGBA, TypeF32));
    return plane;
}

// One renderer run over a source into a fresh result of the source's layout.
struct RenderRun {
    Ref<PixelPlane> source, result;
    Ref<DataChannel> mask; // a selection the test made for the run, kept alive with it
    Orvex::Document::Filters::RunOutcome outcome = Orvex::Document::Filters::RunOutcome::Done;
};

template <class Renderer, class Params>
RenderRun renderOn(Renderer& renderer, Params& params, Ref<PixelPlane> source,
                   const Orvex::Document::Filters::MaskChannels& masks = {}, int workers = 0,
                   const std::atomic<bool>* cancel = nullptr,
                   Orvex::Document::Filters::RunMode mode = Orvex::Document::Filters::RunMode::Normal) {
    RenderRun run;
    run.source = std::move(source);
    run.result = emptyLike(*run.source);
    Orvex::Document::Filters::RunContext context;
    context.maxWorkers = workers;
    context.cancelFlag = cancel;
    context.mode = mode;
    run.outcome = renderer.process(params, *run.source, masks, *run.result, context);
    return run;
}

} // namespace TestSupport
