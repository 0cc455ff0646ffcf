#include "document/filters/LayerComposition.h"

#include "datastorage/UtilityCombiners.h"
#include "mt/JobsPool.h"

#include <atomic>
#include <stdexcept>

namespace Orvex::Document::Filters {

using namespace DataStorage;
using ::Orvex::Detail::RectI;

bool fullySelected(const DataChannel& mask, const RectI& rect) {
    if (mask.type() != TypeU8) return false;
    const RectI area = rect.intersected(mask.bounds());
    if (area.isEmpty()) return true;
    std::atomic<bool> full{true};
    parallelForTiles(mask.size(), area, [&](uint32_t tileNum, const RectI& part) {
        if (!full.load(std::memory_order_relaxed) || part.isEmpty()) return;
        TileReadOnly cursor(mask);
        if (!cursor.switchTo(tileNum)) return;
        if (cursor.isSolid()) {
            if (*cursor.solidValue() != 255) full = false;
            return;
        }
        const int x0 = part.left & ~int(TileSize - 1), y0 = part.top & ~int(TileSize - 1);
        for (int y = part.top; y < part.bottom; ++y) {
            const uint8_t* row = cursor.row<uint8_t>(y - y0) - x0;
            for (int x = part.left; x < part.right; ++x)
                if (row[x] != 255) {
                    full = false;
                    return;
                }
        }
    });
    return full.load();
}

void composeLayer(PixelPlane& result, const PixelPlane& layer, const RectI& rect, BlendFunction function,
                  float opacity, const DataChannel* selection) {
    if (layer.size() != result.size()) throw std::invalid_argument("The layer and the result differ in size");
    const RectI area = rect.intersected(result.bounds());
    if (area.isEmpty() || !(opacity > 0.0f)) return;
    const Ref<DataChannel> layerAlpha = layer.channel(ChannelAlpha);
    const Ref<DataChannel> resultRed = result.channel(ChannelRed);
    if (!layerAlpha || !resultRed) throw std::invalid_argument("The layer or the result is not RGBA");
    const int32_t resultType = resultRed->type(), layerType = layerAlpha->type();

    // The selection limits the layer: its alpha times the selection, over the rectangle only.
    Ref<DataChannel> alpha = layerAlpha;
    if (selection && selection->size() == result.size() && !fullySelected(*selection, area)) {
        Ref<DataChannel> masked(new DataChannel(result.size(), layerType));
        const Ref<BaseDataProcessing> mul = createMul(layerType, layerType, selection->type());
        if (!mul) throw std::invalid_argument("Unsupported sample type of the selection");
        applyIn(*mul, area, *masked, *layerAlpha, *selection);
        alpha = masked;
    }

    // The backdrop's alpha as it is before this composition; an opaque result has none, so a solid
    // channel stands in (pooled tiles, no sample memory).
    const bool hasAlpha = result.hasChannel(ChannelAlpha);
    Ref<DataChannel> backdropAlpha;
    if (hasAlpha) {
        backdropAlpha = result.writableChannel(ChannelAlpha);
    } else {
        backdropAlpha = Ref<DataChannel>(new DataChannel(result.size(), resultType));
        const uint8_t one8 = 255;
        const uint16_t one16 = 65535;
        const float oneF = 1.0f;
        const void* one = resultType == TypeU8    ? static_cast<const void*>(&one8)
                          : resultType == TypeU16 ? static_cast<const void*>(&one16)
                                                  : static_cast<const void*>(&oneF);
        backdropAlpha->fill(one);
    }

    const Ref<BaseDataProcessing> blend =
        createBlendMember(function, resultType, resultType, layerType, layerType);
    if (!blend) throw std::invalid_argument("Unsupported sample type of the working planes");
    blend->setOpacity(opacity);
    const Ref<BaseDataProcessing> alphaBlend = createAlphaBlend(resultType, resultType, layerType);
    alphaBlend->setOpacity(opacity);
    Ref<DataChannel> sources[3], destinations[3];
    const int32_t ids[3] = {ChannelRed, ChannelGreen, ChannelBlue};
    for (int c = 0; c < 3; ++c) {
        sources[c] = layer.channel(ids[c]);
        if (!sources[c]) throw std::invalid_argument("The layer is not RGBA");
        destinations[c] = result.writableChannel(ids[c]);
    }

    // A row of tiles at a time, handed to whichever worker is free: a layer's tiles cost very
    // different amounts (empty ones are skipped whole), and one split of the rectangle into equal
    // halves would leave a worker idle. Within a row the colour goes first, against the alpha as
    // it was, then the alpha; rows share no tile.
    const int firstRow = area.top / int(TileSize), rows = (area.bottom - 1) / int(TileSize) - firstRow + 1;
    std::atomic<int> next{0};
    MT::parallelFor(0, uint32_t(std::min(rows, 64)), [&](uint32_t, uint32_t) {
        for (int i = next.fetch_add(1); i < rows; i = next.fetch_add(1)) {
            const int top = std::max(area.top, (firstRow + i) * int(TileSize));
            const RectI band{area.left, top, area.right,
                             std::min(area.bottom, (firstRow + i + 1) * int(TileSize))};
            for (int c = 0; c < 3; ++c)
                applyIn(*blend, band, *destinations[c], *destinations[c], *backdropAlpha, *sources[c],
                        *alpha);
            if (hasAlpha) applyIn(*alphaBlend, band, *backdropAlpha, *backdropAlpha, *alpha);
        }
    });
}

} // namespace Orvex::Document::Filters
