#pragma once
#include "document/filters/RenderSupport.h"
#include "document/filters/sun/SunParams.h"

#include <vector>

namespace Orvex::Document::Filters {

// One ray of the sun: it runs from the centre to (ex, ey), `length` pixels long, and can only
// light pixels inside its box (right and bottom exclusive, cut to the image).
struct SunRay {
    double ex = 0, ey = 0;
    double length = 0;
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// Sun: a disc (softened by a Gaussian), a glow that fades with distance from the disc, an optional
// halo colour further out, and tapering rays, composed over the photograph. Nothing is cached:
// every run paints the whole sun. The glow, the rays and the composition are one pass over the
// image's tiles on the jobs pool, each tile painting its part of the layer into a small buffer of
// its own and composing it at once, so that no image-sized layer is ever allocated; tiles the glow
// cannot reach and no ray crosses are left alone.
class SunRenderer : public TypedRenderer<SunParams, SunRenderer> {
public:
    RunOutcome process(SunParams& lastRun, const DataStorage::PixelPlane& source, const MaskChannels& masks,
                       DataStorage::PixelPlane& result, const RunContext& context);

    // The rays of a validated record on an image of `size`, in drawing order (rays that cannot
    // light anything, being no longer than the radius, are left out).
    static std::vector<SunRay> layRays(const SunParams& p, SizeI size);

    // The distance beyond the disc's edge (R0) from which the glow's coverage is 0 for `power`.
    static double glowReach(double power);

    // The radial colour table of the last run: red, green, blue per whole-pixel distance.
    const std::vector<float>& radialTable() const { return m_radial; }

private:
    std::vector<float> m_radial; // kept between runs, resized as needed
    std::vector<float> m_disc;
};

} // namespace Orvex::Document::Filters
