#pragma once
#include "document/filters/RenderSupport.h"
#include "document/filters/common/HugePageAllocator.h"
#include "document/filters/rain/RainParams.h"

namespace Orvex::Document::Filters {

// The streak field: blurred streak intensities (0 ... 1) over a rectangle of the image; outside the
// rectangle the field is 0.
struct StreakField {
    RectI rect;
    Common::UninitializedHugePageVector<float> values; // rect.width() x rect.height(), row-major
    float at(int x, int y) const {
        return rect.contains(x, y)
                   ? values[size_t(y - rect.top) * size_t(rect.width()) + size_t(x - rect.left)]
                   : 0.f;
    }
};

// One drop's streak: a segment A-B with a soft radius w, and the box of pixels it may touch.
struct RainStreak {
    float ax, ay, bx, by; // ends (column, row)
    float radius;         // w
    float length;         // L
    int top, bottom;      // rows, inclusive
    int left, right;      // columns, inclusive
};

// Rain: draws the drops that start inside the selection as soft slanted streaks, blurs them
// slightly and lightens the image towards white by the streak intensity. The blurred streaks are
// cached under every parameter but the transparency, so a transparency change only re-composes.
class RainRenderer : public TypedRenderer<RainParams, RainRenderer> {
public:
    RunOutcome process(RainParams& lastRun, const DataStorage::PixelPlane& source, const MaskChannels& masks,
                       DataStorage::PixelPlane& result, const RunContext& context);

    // trunc(density x width x height / 1000) in single precision.
    static int dropCount(const RainParams& params, int width, int height);
    // The streaks of the drops that start inside the selection, in drawing order (the serial part:
    // every random value is drawn here in the fixed order). False when cancelled.
    static bool layoutStreaks(const RainParams& params, int width, int height, const RectI& region,
                              const std::vector<uint8_t>& selection, std::vector<RainStreak>& streaks,
                              const RunContext& context);
    // Draws and blurs the streaks of `params` over `region` of a width x height image, with the
    // selection's bytes over that region. False when cancelled.
    static bool drawStreaks(const RainParams& params, int width, int height, const RectI& region,
                            const std::vector<uint8_t>& selection, StreakField& field,
                            const RunContext& context);

    const StreakField& streakCache() const { return m_streakCache; }
    int drawingCount() const { return m_drawings; } // completed drawings, for tests and diagnostics

private:
    StreakField m_streakCache;
    RainParams m_cacheKey = invalidKey();
    int m_drawings = 0;
    static RainParams invalidKey() {
        RainParams key;
        key.density = -1; // no record carries it, so the first run always draws
        return key;
    }
};

} // namespace Orvex::Document::Filters
