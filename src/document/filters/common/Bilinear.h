#pragma once
// Bilinear sampling of float buffers with the clamping the effects use: a position is limited to
// 0 ... size - 1.01 (negative and NaN positions to 0), so the sample and its right and lower
// neighbours always lie inside; along an axis of size 1 the interpolation degrades to nearest.

#include <algorithm>
#include <cstddef>

namespace Orvex::Document::Filters::Common {

// Limits a sample position to 0 ... size - 1.01 (0 when the axis is a single sample).
inline float clampSamplePosition(float v, int size) {
    const float upper = std::max(0.0f, float(size) - 1.01f);
    if (!(v > 0.0f)) return 0.0f;
    return std::min(v, upper);
}

// Interpolates at (x, y) without clamping; the caller guarantees 0 <= x <= width - 1 and
// 0 <= y <= height - 1 (the right or lower neighbour is only read when its weight may be non-zero).
inline float interpolateBilinear(const float* data, std::ptrdiff_t stride, int width, int height, float x,
                                 float y) {
    const int ix = int(x), iy = int(y);
    const float fx = x - float(ix), fy = y - float(iy);
    const int ix1 = std::min(ix + 1, width - 1), iy1 = std::min(iy + 1, height - 1);
    const float* r0 = data + std::ptrdiff_t(iy) * stride;
    const float* r1 = data + std::ptrdiff_t(iy1) * stride;
    const float top = r0[ix] + fx * (r0[ix1] - r0[ix]);
    const float bottom = r1[ix] + fx * (r1[ix1] - r1[ix]);
    return top + fy * (bottom - top);
}

// Clamps (x, y) as above and interpolates. Returns 0 for an empty buffer.
inline float sampleBilinear(const float* data, std::ptrdiff_t stride, int width, int height, float x,
                            float y) {
    if (width <= 0 || height <= 0 || !data) return 0.0f;
    return interpolateBilinear(data, stride, width, height, clampSamplePosition(x, width),
                               clampSamplePosition(y, height));
}

} // namespace Orvex::Document::Filters::Common
