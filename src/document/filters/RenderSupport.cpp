#include "document/filters/RenderSupport.h"

#include "datastorage/RescaleSumming.h"
#include "mt/JobsPool.h"

#include <algorithm>
#include <mutex>

namespace Orvex::Document::Filters {

using namespace DataStorage;

int32_t checkRgbaPlanes(const PixelPlane& source, const PixelPlane& result) {
    if (source.size() != result.size())
        throw std::invalid_argument("Source and result planes differ in size");
    const Ref<DataChannel> red = source.channel(ChannelRed);
    if (!red || !source.hasChannel(ChannelGreen) || !source.hasChannel(ChannelBlue))
        throw std::invalid_argument("The working plane is not RGB");
    const int32_t type = red->type();
    if (type != TypeU8 && type != TypeU16 && type != TypeF32)
        throw std::invalid_argument("Unsupported sample type of the working planes");
    for (const PixelPlane* plane : {&source, &result})
        for (int32_t id : {ChannelRed, ChannelGreen, ChannelBlue, ChannelAlpha}) {
            const Ref<DataChannel> c = plane->channel(id);
            if (!c) {
                if (id == ChannelAlpha) continue;
                throw std::invalid_argument("The working plane is not RGB");
            }
            if (c->type() != type) throw std::invalid_argument("The working planes mix sample types");
        }
    return type;
}

void copySourceToResult(const PixelPlane& source, PixelPlane& result) {
    copyPlane(result, source, source.channelMask(), source.bounds());
}

RectI maskBounds(const DataChannel* mask, int maxWorkers) {
    if (!mask || mask->isEmpty()) return {};
    std::mutex merge;
    RectI bounds{mask->width(), mask->height(), 0, 0};
    parallelForTiles(
        mask->size(), mask->bounds(),
        [&](uint32_t tileNum, const RectI& area) {
            TileReadOnly cursor(*mask);
            if (!cursor.switchTo(tileNum)) return;
            const int x0 = area.left & ~int(TileSize - 1), y0 = area.top & ~int(TileSize - 1);
            RectI local{area.right, area.bottom, area.left, area.top};
            if (cursor.isSolid()) {
                if (*cursor.solidValue() == 0) return;
                local = area;
            } else {
                for (int y = area.top; y < area.bottom; ++y) {
                    const uint8_t* row = cursor.row<uint8_t>(y - y0) - x0;
                    int first = area.left;
                    while (first < area.right && !row[first]) ++first;
                    if (first == area.right) continue;
                    int last = area.right - 1;
                    while (!row[last]) --last;
                    local.left = std::min(local.left, first);
                    local.right = std::max(local.right, last + 1);
                    local.top = std::min(local.top, y);
                    local.bottom = std::max(local.bottom, y + 1);
                }
                if (local.isEmpty()) return;
            }
            std::lock_guard<std::mutex> lock(merge);
            bounds.left = std::min(bounds.left, local.left);
            bounds.top = std::min(bounds.top, local.top);
            bounds.right = std::max(bounds.right, local.right);
            bounds.bottom = std::max(bounds.bottom, local.bottom);
        },
        maxWorkers > 0 ? uint32_t(maxWorkers) : 0u);
    return bounds.isEmpty() ? RectI{} : bounds;
}

std::vector<uint8_t> maskBytes(const DataChannel* mask, const RectI& rect) {
    std::vector<uint8_t> bytes(size_t(std::max(0, rect.width())) * size_t(std::max(0, rect.height())), 0);
    if (!mask || rect.isEmpty()) return bytes;
    // Bands of rows on the jobs pool share the copy (and its conversion, for other sample types).
    constexpr int kBandRows = 64;
    const int bands = (rect.height() + kBandRows - 1) / kBandRows;
    MT::parallelFor(0, uint32_t(bands), [&](uint32_t first, uint32_t last) {
        for (uint32_t b = first; b < last; ++b) {
            const int top = rect.top + int(b) * kBandRows;
            const RectI band{rect.left, top, rect.right, std::min(rect.bottom, top + kBandRows)};
            getData(*mask, band, bytes.data() + size_t(top - rect.top) * size_t(rect.width()),
                    unsigned(rect.width()));
        }
    });
    return bytes;
}

std::vector<uint8_t> maskBytesOnGrid(const DataChannel& mask, int gridWidth, int gridHeight) {
    if (gridWidth == mask.width() && gridHeight == mask.height())
        return maskBytes(&mask, RectI{0, 0, gridWidth, gridHeight});
    const RectI gridRect{0, 0, gridWidth, gridHeight};
    DataChannel grid(gridWidth, gridHeight, mask.type());
    if (rescaleSummingChannel(mask, grid, {})) return maskBytes(&grid, gridRect);
    const DataChannel bytes(mask, typeCodeOf<uint8_t>); // a sample type the reduction does not take
    DataChannel gridBytes(gridWidth, gridHeight, typeCodeOf<uint8_t>);
    rescaleSummingChannel(bytes, gridBytes, {});
    return maskBytes(&gridBytes, gridRect);
}

RectI grown(const RectI& r, int by, SizeI clipTo) {
    return RectI{r.left - by, r.top - by, r.right + by, r.bottom + by}.intersected(RectI::fromSize(clipTo));
}

} // namespace Orvex::Document::Filters
