#pragma once
// One brush stroke painted into an 8-bit mask channel, on the thread that owns the stroke (the
// effect's work thread for pen jobs).
//
// The stamp is round. Its coverage falls off smoothly (smoothstep) across a band of width
// max(1, radius / 5) pixels centred on the radius, so that the 50 % contour is exactly the pen's
// circle and a 1-pixel pen still sets its pixel fully. Hard-label masks ("duomask") take the value
// wherever the coverage reaches 50 %, i.e. inside the circle, and never blend labels.
//
// Within one stroke the coverage of every pixel is the maximum over all dabs, and the mask sample is
// the blend of its value at the stroke's start towards the paint value by that coverage. Overlapping
// dabs therefore never build up: the result does not depend on the dab spacing or on how the points
// were batched, and replaying the same points gives the same bytes.
//
// Pixel (i, j) covers [i, i + 1) x [j, j + 1); its centre is (i + 0.5, j + 0.5). Dabs and segments
// are clipped to the channel: points at or far beyond the edge are safe.

#include "datastorage/DataChannel.h"
#include "datastorage/RefCounted.h"

#include <array>

namespace Orvex::Document::Filters {

class MaskStroke {
public:
    // Paints `value` (0 ... 255) into `target` with round dabs of `radius` pixels (clamped to at
    // least 0.5). `hardLabels` for label masks.
    MaskStroke(Ref<DataStorage::DataChannel> target, int value, double radius, bool hardLabels);

    // One dab centred on (x, y).
    void stamp(double x, double y);
    // Dabs along the segment from (x0, y0) to (x1, y1), evenly spaced along the whole stroke (the
    // spacing carries over from the previous segment); the end point itself is stamped only when it
    // falls on the spacing. Call stamp(x1, y1) to close a stroke exactly at its last point.
    void stampSegment(double x0, double y0, double x1, double y1);

    // The pixels changed since the last takeDirty() (empty when none).
    ::Orvex::Detail::RectI takeDirty();
    double radius() const { return m_radius; }
    double spacing() const { return m_spacing; }
    int value() const { return m_value; }
    const Ref<DataStorage::DataChannel>& target() const { return m_target; }

private:
    void stampTile(uint32_t tileNum, const ::Orvex::Detail::RectI& area, double cx, double cy);

    Ref<DataStorage::DataChannel> m_target;
    Ref<DataStorage::DataChannel> m_before;   // the target at the stroke's start (shared tiles)
    Ref<DataStorage::DataChannel> m_coverage; // per pixel, the stroke's coverage so far (0 ... 255)
    int m_value;
    bool m_hard;
    double m_radius;
    double m_feather;
    double m_spacing;
    double m_carry = 0; // distance walked since the last dab
    static constexpr int FalloffSteps = 1024;
    double m_falloffStart = 0; // squared distance where the fall-off begins
    double m_falloffScale = 1; // table steps per unit of squared distance
    std::array<uint8_t, FalloffSteps> m_falloff{};
    ::Orvex::Detail::RectI m_dirty;
};

} // namespace Orvex::Document::Filters
