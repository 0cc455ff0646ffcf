#pragma once
// Pixel combiners: small immutable objects that compute one destination channel from one to five
// argument channels, 64 x 64 tile by tile, for one fixed combination of sample types, and the
// driver `apply` that runs them over DataChannels.
//
// - Argument 0 is always the destination; `argumentType(i)` is the sample type a member expects for
//   argument i. The driver aborts (a programming error) when a channel's type differs; channels of
//   unequal sizes and empty rectangles do nothing.
// - Members are set up (opacity, seed) before `apply` and are only read during it, so one member may
//   serve several concurrent `apply` calls. Tiles are processed on the jobs pool, each job writing
//   its own destination tiles.
// - Per tile the driver asks `checkN` whether the tile can be skipped (1), whether the result is a
//   single value because every input tile is solid (-1: it is computed once and stored as a pooled
//   solid tile), or whether the kernel must run (0). Kernels get blocks whose rows are 64 elements
//   apart in every argument.

#include "datastorage/DataChannel.h"
#include "datastorage/RefCounted.h"

#include <cstdint>

namespace Orvex::DataStorage {

// One block handed to a kernel: the element pointers of the block's top-left corner in every
// argument (row stride: 64 elements of that argument's type), its size and its position in the
// channel (for position-dependent members).
struct CombinerBlock {
    void* destination = nullptr;
    const void* arguments[5] = {};
    int width = 0;
    int height = 0;
    int x = 0;
    int y = 0;
};

class BaseDataProcessing : public SharedObject {
public:
    BaseDataProcessing() = default;
    ~BaseDataProcessing() override = default;

    // Stores the opacity as given and its clamp to 0 ... 1 (NaN counts as 0).
    virtual void setOpacity(float opacity);
    // The sample type expected for argument `index` (0: the destination); 0 past the arity.
    virtual int32_t argumentType(int index) const = 0;
    // Number of arguments including the destination (2 ... 6).
    virtual int arity() const = 0;
    // True when applying would change nothing (blend members at opacity 0).
    virtual bool isNoOp() const { return false; }
    // The argument whose value the destination takes where the member leaves it "unchanged" (a
    // skipped tile): the backdrop colour for blend members, -1 for members that keep the
    // destination itself. When the destination is another channel, the driver copies it there.
    virtual int passThroughArgument() const { return -1; }
    // Whether the kernel writes every destination element of a block (so a shared destination tile
    // need not be copied before it is overwritten). Conditional copies keep the destination.
    virtual bool overwritesDestination() const { return true; }

    // Tile checks: `solid[i]` is the solid value of argument i's tile (i = 0 the destination), or
    // null when that tile is not solid. 1 = skip, -1 = solid result, 0 = run the kernel.
    virtual int check2(const void* const* solid) const;
    virtual int check3(const void* const* solid) const;
    virtual int check4(const void* const* solid) const;
    virtual int check5(const void* const* solid) const;
    virtual int check6(const void* const* solid) const;
    // Block kernels, one per arity; the base versions do nothing.
    virtual void process2(const CombinerBlock& block) const;
    virtual void process3(const CombinerBlock& block) const;
    virtual void process4(const CombinerBlock& block) const;
    virtual void process5(const CombinerBlock& block) const;
    virtual void process6(const CombinerBlock& block) const;

    // Dispatch on the member's own arity.
    int check(const void* const* solid) const;
    void process(const CombinerBlock& block) const;

    float opacity() const { return m_opacity; }
    float clampedOpacity() const { return m_clampedOpacity; }
    // A member-specific flag (alpha_dissolve: none; reserved for alternative kernel paths).
    std::uint8_t flag() const { return m_flag; }
    void setFlag(std::uint8_t flag) { m_flag = flag; }

protected:
    // Default check: -1 when every input tile (arguments 1 ... n-1) is solid, else 0.
    int checkAllInputsSolid(const void* const* solid, int count) const;

    float m_opacity = 1.0f;
    float m_clampedOpacity = 1.0f;
    std::uint8_t m_flag = 0;
};

// Whether the vector kernels may run: the processor's vector level (asked once with cpuid) and the
// process-wide switch below.
bool vectorKernelsAvailable();
// Turns the vector kernels off (or back on, where available) for the whole process; for tests and
// benchmarks that compare the two paths. Not to be flipped while an `apply` runs.
void setVectorKernelsEnabled(bool enabled);
// Whether a kernel takes its vector path for a block of `width` elements: at least 2 and a multiple
// of 16, and vector kernels available.
bool useVectorPath(int width);

// The driver: applies `function` to `destination` from `arguments` (count = arity - 1), over `rect`
// (clipped to the channels; null: everything). Aborts with "Different type of argument%d
// ( DataChannel: %d, Function: %d )" when a channel's type is not the member's; does nothing when a
// size differs, the rectangle is empty or the count is not the member's arity.
void applyChannels(const BaseDataProcessing& function, DataChannel& destination,
                   const DataChannel* const* arguments, int count, const RectI* rect = nullptr);

// Convenience forms: apply(member, destination, arguments...) and applyIn(member, rect, ...).
template <class... Args>
void apply(const BaseDataProcessing& function, DataChannel& destination, const Args&... arguments) {
    const DataChannel* list[] = {&arguments...};
    applyChannels(function, destination, list, int(sizeof...(Args)));
}
template <class... Args>
void applyIn(const BaseDataProcessing& function, const RectI& rect, DataChannel& destination,
             const Args&... arguments) {
    const DataChannel* list[] = {&arguments...};
    applyChannels(function, destination, list, int(sizeof...(Args)), &rect);
}

} // namespace Orvex::DataStorage
