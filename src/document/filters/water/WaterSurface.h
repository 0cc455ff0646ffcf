#pragma once
// The water effect's computation on plain buffers of the working grid: the geometry (horizon,
// working scale, perspective), the wave set and the wave field, and the stages that turn the wave
// field and the picture into a water surface. WaterRenderer wires these to the planes, the
// progress stages and the wave cache.
//
// Rows of the grid run top to bottom; the water is every row below the horizon row. Buffers that
// only concern the water (the per-row coordinates, the wave field, the surface colours and stored
// light) hold the water rows only, starting at `firstRow`. Every pass is a pure function of its
// inputs per pixel, split into rows or tiles that the jobs pool's workers take as they become free,
// so results do not depend on the worker count. The large buffers sit on huge pages and are first
// touched by the parallel passes that fill them.

#include "document/filters/common/HugePageAllocator.h"
#include "document/filters/water/WaterParams.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace Orvex::Document::Filters {

// The working grid of a run: live runs of large pictures compute one sample per s x s block.
struct WaterGrid {
    int imageWidth = 0, imageHeight = 0;
    int scale = 1; // image pixels per grid sample along each axis
    int width = 0, height = 0;

    // s = round(sqrt(W H / 1e6)), at least 1; normal runs always work at full size.
    static int liveScale(int imageWidth, int imageHeight);
    static WaterGrid forRun(int imageWidth, int imageHeight, bool live);
    bool reduced() const { return scale > 1; }
};

// One wave of the wave set.
struct Wave {
    double amplitude = 0, directionDegrees = 0, wavelength = 1, phase = 0;
};
// `density` waves drawn from the effect's generator seeded with 101.
std::vector<Wave> drawWaveSet(const WaterParams& params);

// Stage1's output: which samples are water and where they lie on the water plane. The depth
// coordinate Y is the same along a grid row and the across coordinate X grows linearly with the
// column, so the two coordinate maps are held as one depth and one perspective denominator per
// water row; acrossAt() gives X exactly as a full map would hold it.
struct WaterMaps {
    int width = 0, height = 0;
    int horizonRow = 0;                    // on the grid; may be negative (horizon above the picture)
    int firstRow = 0;                      // first row holding water (height when there is none)
    Common::UninitializedHugePageVector<uint8_t> water; // whole grid: 255 water, 0 not
    std::vector<float> depth;              // Y of each water row
    std::vector<double> denominator;       // D of each water row
    double acrossScale = 0;                // X = acrossScale (x - width / 2) / D
    int waterRows() const { return height - firstRow; }
    float acrossAt(int x, int waterRow) const {
        return float(acrossScale * (x - width / 2.0) / denominator[std::size_t(waterRow)]);
    }
};

struct WaterHooks {
    std::function<bool()> cancelled;
    int maxWorkers = 0;
    bool isCancelled() const { return cancelled && cancelled(); }
};

// Stage1: the water map and the perspective coordinates for the horizon angle.
void buildWaterMaps(int width, int height, double horizonAngleDegrees, WaterMaps& maps,
                    const WaterHooks& hooks);

// The wave field: water rows x grid width.
using WaveField = Common::UninitializedHugePageVector<float>;

// Stage11: the wave field over the water rows (0 outside the water). Returns false when cancelled.
bool buildWaveField(const WaterMaps& maps, const WaterParams& params, WaveField& field,
                    const WaterHooks& hooks);

// The picture at the working scale: interleaved RGB, 16-bit, width x height.
struct WaterPicture {
    int width = 0, height = 0;
    Common::UninitializedHugePageVector<uint16_t> rgb; // sampled at scattered rows by the reflection
};

// What the later stages share: per-row tables and the surface buffer (water rows, RGB 0 ... 1
// scaled to 16 bits).
struct WaterSurface {
    int width = 0, height = 0, firstRow = 0, horizonRow = 0;
    double focal = 1;             // the picture's focal length in grid samples
    const float* field = nullptr; // the wave field, water rows (see slopesOfRow)
    // Per water row: how far the slopes along X and Y survive (they fade where one grid step spans
    // more water than the finest detail), and the depth difference the Y slope is taken over.
    std::vector<double> fadeX, fadeY, depthSpan;
    Common::UninitializedHugePageVector<uint16_t> under; // what is seen through the water, then the surface, RGB
    std::vector<float> skyTop;              // the sky beyond the top of the picture, RGB per column
    float ambient = 0.5f;                   // brightness of the scene above the horizon
    // Stage3's light from above for every water sample: the reflected scene (RGB), the Fresnel
    // factor and the glare's share. They depend on the wave field, the picture and the glare's
    // brightness and position only, so while `lightStored` holds, a run that changes the colours
    // or the depth mixes them in again without tracing the rays; the owner clears the flag when
    // one of those inputs changes.
    bool lightStored = false;
    Common::UninitializedHugePageVector<uint16_t> mirroredLight;
    Common::UninitializedHugePageVector<float> fresnelFactor, glareAmount;
};

// Stage2: the surface's geometry and slope tables for the wave field `field` (water rows x width,
// kept alive by the caller while the surface is used), the sky colour used beyond the top of the
// picture and the light of the scene.
void prepareSurface(const WaterMaps& maps, const WaveField& field, const WaterParams& params,
                    const WaterPicture& picture, WaterSurface& surface);
// The slopes of the wave field on the water plane at columns x0 ... x1 - 1 of water row `waterRow`,
// from differences of the field, written to slopeX[0 ...] and slopeY[0 ...].
void slopesOfRow(const WaterMaps& maps, const WaterSurface& surface, int waterRow, int x0, int x1,
                 float* slopeX, float* slopeY);
// MakeBottom: the picture below the horizon seen through the water, refracted by the slopes and
// lost in the water colour with depth.
void makeBottom(const WaterMaps& maps, const WaterPicture& picture, const WaterParams& params,
                WaterSurface& surface, const WaterHooks& hooks);
// Stage3: the scene above the horizon reflected by the moving surface, mixed with the view into
// the water by the angle of view (Fresnel), and the glare of the sun on the waves (the two share
// each sample's mirror ray). Reuses the stored light while `surface.lightStored` holds and stores
// it otherwise.
void reflectScene(const WaterMaps& maps, const WaterPicture& picture, const WaterParams& params,
                  WaterSurface& surface, const WaterHooks& hooks);

} // namespace Orvex::Document::Filters
