#pragma once
// The frost effect's crust on plain image-size buffers: the distance-like field around the
// selection, the seeding of crystals and their diffusion-limited growth, then the deposit of the
// frost colour and the shading of the crust's lower-right edge. FrostRenderer wires these to the
// planes and keeps the three caches.
//
// Threads: the field's blur runs on worker threads; seeding, growth and deposit are sequential by
// nature (one generator drives them in a fixed pixel order) and run on the calling thread; shading
// is per tile and parallel. Buffers are row-major, width x height, owned by the caller.
//
// The crust generator is one process-wide 20-bit shift register: seeding continues from wherever
// the previous growth left it. Its state is read and written only by the thread that runs frost.

#include "datastorage/RectT.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace Orvex::Document::Filters {

using FrostRect = Orvex::Detail::RectT<int>;

// Where the crust is grown. Its sizes are counted in cells: the field's blur of at most 13, the
// walks of up to 10 000 steps, one seed in so many selected cells. On an image whose longer side is
// at most 1000 pixels a cell is a pixel; a larger image grows its crust on a grid of 1000 cells
// along the longer side and scales it up, so that a 12-megapixel frame holds as many crystals,
// with branches of the same length relative to the frame, as a one-megapixel one. (Seeding and
// growth draw one 20-bit shift register in pixel order, which repeats after about a million
// pixels: a crust grown pixel by pixel over 12 megapixels would repeat its pattern twelve times.)
// The deposit and the shading run on the grid too (a splat of one to three cells, a shaded edge of
// one cell), into a layer that is scaled up and laid over the picture.
struct FrostGrid {
    static constexpr int kLongerSide = 1000;
    int imageWidth = 0, imageHeight = 0;
    int width = 0, height = 0; // the grid
    double scale = 1.0;        // image pixels per cell

    static FrostGrid forImage(int width, int height);
    bool isImage() const { return width == imageWidth && height == imageHeight; }
};

// Scales a map of the grid (non-zero = set) up to the image: bilinear, a pixel is set where it lies
// at least half within set cells, so branches keep their shape instead of turning into blocks.
// Row-parallel; `image` is resized to the image.
void enlargeFrostMap(const FrostGrid& grid, const std::vector<uint8_t>& cells, std::vector<uint8_t>& image,
                     int maxWorkers);

// The process-wide crust generator state (1 when the process starts).
uint32_t frostCrustState();
void setFrostCrustState(uint32_t state);

struct FrostHooks {
    std::function<bool()> cancelled;
    std::function<void(double share, int64_t steps)> phase; // a new progress phase
    std::function<void()> step;                             // one progress step
    int maxWorkers = 0;

    bool isCancelled() const { return cancelled && cancelled(); }
    void beginPhase(double share, int64_t steps) const {
        if (phase) phase(share, steps);
    }
    void advance() const {
        if (step) step();
    }
};

// The bounding rectangle of the non-zero samples (empty when there are none).
FrostRect selectionBounds(const uint8_t* selection, int width, int height);

// The field: the selection blurred with a recursive Gaussian of sigma min(13, thickness * 0.13)
// (at least 1.5) over `bounds` grown by three sigmas, then -ln(b / max) over `bounds`: 0 on the
// strongest part of the selection, growing outwards. Returns false when cancelled.
bool buildFrostField(const uint8_t* selection, int width, int height, const FrostRect& bounds, int thickness,
                     std::vector<float>& field, const FrostHooks& hooks);

// Copies the selection into `crystals` and keeps about (0.05 + 0.19 fill)% of the selected pixels,
// drawing the process-wide crust generator once per selected pixel in tile order.
void seedFrostCrystals(const uint8_t* selection, int width, int height, int fill,
                       std::vector<uint8_t>& crystals);

// One hundred rounds of random walkers that stick to the crust (generator restarted at 101). The
// field decides where walkers may start. Leaves the process-wide generator where the growth ended.
// Returns false when cancelled (the crystals are then partly grown).
bool growFrostCrystals(const std::vector<float>& field, int width, int height, int thickness, int branching,
                       std::vector<uint8_t>& crystals, const FrostHooks& hooks);

// The deposit's per-run constants.
struct FrostDepositSettings {
    int jitterRange = 0;  // J
    int jitterOffset = 0; // J0
    int red = 0, green = 0, blue = 0;
    double sizeDivisor = 0; // S = 100 - freeze
    double fadeK = 0;       // K
    double fadeBase = 0;    // B0
    static FrostDepositSettings from(int uniformity, int freeze, int transparency, uint32_t argb);
    // The opacity complement a for a field value d (a >= 0.99999 deposits nothing).
    double keep(float d) const;
};

// Deposits splats of the frost colour for every crystal pixel inside the tiles that cover `bounds`,
// in tile order with one generator started at 102, into an interleaved RGBA image (T = uint8_t,
// uint16_t or float; `stride` in samples) that covers `area` of the picture; `coverage` (image
// size) gets every splat. Returns false when cancelled.
template <class T>
bool depositFrost(T* rgba, std::ptrdiff_t stride, const FrostRect& area, int width, int height,
                  const FrostRect& bounds, const std::vector<float>& field,
                  const std::vector<uint8_t>& crystals, std::vector<uint8_t>& coverage,
                  const FrostDepositSettings& settings, const FrostHooks& hooks);

// Darkens the colour of every covered pixel inside `rows` x `columns` whose upper-left neighbour is
// not covered, by trunc((100 - shadow) * 255 / 100) / 255. `rgba` covers `area` as above.
template <class T>
void shadeFrost(T* rgba, std::ptrdiff_t stride, const FrostRect& area, int width, const FrostRect& region,
                const std::vector<uint8_t>& coverage, int shadow);

// The tiles covering `bounds` (64 x 64 tiles aligned with the image), clipped to the image.
FrostRect tileCover(const FrostRect& bounds, int width, int height);

} // namespace Orvex::Document::Filters
