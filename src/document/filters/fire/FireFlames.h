#pragma once
// The fire effect's flame simulation on plain buffers: the grid and canvas geometry, the noise
// fields, the tongues and the flame canvas they are merged into, and the colour ramp of the
// composition. FireRenderer wires these to the image planes and the cache.
//
// Threads: drawFlameCanvas runs its serial preparation (every random draw, in the defined order) on
// the calling thread and the per-tongue and per-canvas-band passes on the jobs pool; the canvas is a
// maximum over tongues, so the result is the same bytes for any worker count.

#include "document/filters/common/HugePageAllocator.h"
#include "document/filters/fire/FireParams.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

namespace Orvex::Document::Filters {

// Where the flames are simulated (the grid, longer side at most 500 cells) and rendered (the
// canvas, at most half the image resolution).
struct FireGeometry {
    int imageWidth = 0, imageHeight = 0;
    double scale = 1.0; // image pixels per grid cell (s)
    int gridWidth = 0, gridHeight = 0;
    double canvasFactor = 1.0; // image pixels per canvas pixel (f = min(s, 2))
    int canvasWidth = 0, canvasHeight = 0;
    double canvasToGrid = 1.0; // k = s / f: grid = canvas / k

    static FireGeometry forImage(int width, int height);
};

// The number of tongues for this many selected grid cells: flames x 0.00005 per selected cell,
// at every image size (at least one).
int64_t fireTongueCount(int64_t selectedCells, int flames, const FireGeometry& geometry);

// The hooks of a drawing: cancellation (tested after each tongue) and progress (one step per tongue).
struct FlameCallbacks {
    std::function<bool()> cancelled;
    std::function<void(int64_t steps)> beginTongues; // called once with the tongue count
    std::function<void(int64_t steps)> advance;
    int maxWorkers = 0; // 0: every worker of the jobs pool
    // The vector kernels (when the processor has them) give the same bytes as the scalar code; off,
    // the scalar code runs alone, for comparing the two.
    bool allowVector = true;
};

// The flame canvas: its rows are first written by the drawing's parallel passes.
using FlameCanvas = Common::UninitializedHugePageVector<float>;

enum class FlameOutcome { Drawn, NothingSelected, Cancelled };

// Draws the flame canvas (canvasWidth x canvasHeight floats, row-major) from the selection on the
// grid (gridWidth x gridHeight bytes, non-zero = selected).
FlameOutcome drawFlameCanvas(const FireGeometry& geometry, const FireParams& params,
                             const std::vector<uint8_t>& gridMask, FlameCanvas& canvas,
                             const FlameCallbacks& callbacks);

// The colour of a flame of intensity v (0 ... 1): white at 1, orange at 0.5, black at 0.
struct FlameColor {
    float r, g, b;
};
inline FlameColor flameRamp(float v) {
    const float v2 = v * v;
    const float r = 0.5f * v2 * v - 2.0f * v2 + 2.5f * v;
    const float g = 0.57f * v + 0.5f * v2;
    return {r, g < 1.0f ? g : 1.0f, v2 * v2};
}

} // namespace Orvex::Document::Filters
