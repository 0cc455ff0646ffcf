#pragma once
#include "document/filters/RenderSupport.h"
#include "document/filters/aurora/AuroraParams.h"
#include "document/filters/common/HugePageAllocator.h"

#include "datastorage/BlendModes.h"

namespace Orvex::Document::Filters {

// The float planes of the curtains over a box of the image, stored column by column: a curtain
// hangs down one column, so each is painted as one contiguous run, and the workers of the painting
// own whole columns. Everything outside the box is 0; the box is grown by the reach of every
// blur, so that a pass over the box computes what a pass over the whole image would.
struct AuroraPlanes {
    RectI box;
    Common::UninitializedHugePageVector<float> red, green, blue, coverage;
    size_t stride() const { return size_t(box.height()); }
    size_t at(int x, int y) const { return size_t(x - box.left) * stride() + size_t(y - box.top); }
};

// The blend function of the record's blend-mode field (1 "Normal" ... 10 "Plus").
DataStorage::BlendFunction auroraBlendFunction(int blendMode);

// Aurora: from every point of every line a curtain rises, coloured in bands from red at its base
// through green to blue at its top and fading upwards, painted in list order with the seeded
// generator; then softened, bent by a fixed polynomial warp and lit by a random field of rays. The
// finished curtains are a cached 16-bit layer, composed over the photograph with the opacity and
// the blend mode, so changing only those two composes again without repainting. A selection, when
// the caller gives one with anything selected, limits where the curtains show.
class AuroraRenderer : public TypedRenderer<AuroraParams, AuroraRenderer> {
public:
    RunOutcome process(AuroraParams& lastRun, const DataStorage::PixelPlane& source,
                       const MaskChannels& masks, DataStorage::PixelPlane& result, const RunContext& context);

    // The cached layer (16-bit red, green, blue and alpha) and its bounding rectangle; null and
    // empty before the first painting or after one that painted nothing.
    const DataStorage::PixelPlane* layer() const { return m_layer.get(); }
    RectI layerRect() const { return m_layerRect; }
    int paintings() const { return m_paintings; }
    int64_t paintedPixels() const { return m_paintedPixels; }

private:
    enum class Painted { Something, Nothing, Cancelled };
    Painted paint(const AuroraParams& p, SizeI size, const RunContext& context);
    bool sameKey(const AuroraParams& p, SizeI size) const;

    AuroraPlanes m_planes;
    Ref<DataStorage::PixelPlane> m_layer;
    RectI m_layerRect;
    AuroraParams m_key;
    SizeI m_keySize{-1, -1};
    bool m_keyValid = false;
    int m_paintings = 0;
    int64_t m_paintedPixels = 0;
};

} // namespace Orvex::Document::Filters
