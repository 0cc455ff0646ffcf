#include "datastorage/HslBlend.h"

#include "datastorage/CombinerLanes.h"
#include "mt/JobsPool.h"

#include <algorithm>
#include <optional>

namespace Orvex::DataStorage {

namespace {

float lum(const float* c) {
    return 0.3f * c[0] + 0.59f * c[1] + 0.11f * c[2];
}

void clipColor(float* c) {
    const float l = lum(c);
    const float n = std::min({c[0], c[1], c[2]}), x = std::max({c[0], c[1], c[2]});
    if (n < 0.0f && l - n > 0.0f)
        for (int i = 0; i < 3; ++i) c[i] = l + (c[i] - l) * l / (l - n);
    if (x > 1.0f && x - l > 0.0f)
        for (int i = 0; i < 3; ++i) c[i] = l + (c[i] - l) * (1.0f - l) / (x - l);
}

void setLum(float* c, float l) {
    const float d = l - lum(c);
    for (int i = 0; i < 3; ++i) c[i] += d;
    clipColor(c);
}

float sat(const float* c) {
    return std::max({c[0], c[1], c[2]}) - std::min({c[0], c[1], c[2]});
}

void setSat(float* c, float s) {
    int mx = 0, mn = 0;
    for (int i = 1; i < 3; ++i) {
        if (c[i] > c[mx]) mx = i;
        if (c[i] < c[mn]) mn = i;
    }
    if (mx == mn) { // grey
        c[0] = c[1] = c[2] = 0.0f;
        return;
    }
    const int mid = 3 - mx - mn;
    c[mid] = (c[mid] - c[mn]) * s / (c[mx] - c[mn]);
    c[mx] = s;
    c[mn] = 0.0f;
}

float loadAny(int32_t type, const unsigned char* p, size_t i) {
    switch (type) {
    case -1:
        return Lanes::load1<-1>(p, int(i));
    case -2:
        return Lanes::load1<-2>(p, int(i));
    default:
        return Lanes::load1<-3>(p, int(i));
    }
}

void storeAny(int32_t type, unsigned char* p, size_t i, float v) {
    switch (type) {
    case -1:
        Lanes::store1<-1>(p, int(i), v);
        break;
    case -2:
        Lanes::store1<-2>(p, int(i), v);
        break;
    default:
        Lanes::store1<-3>(p, int(i), v);
        break;
    }
}

bool blendable(const DataChannel* c, SizeI size) {
    return c && (c->type() == -1 || c->type() == -2 || c->type() == -3) && c->size() == size;
}

} // namespace

void hslBlendFunction(HslVariant variant, const float backdrop[3], const float source[3], float result[3]) {
    switch (variant) {
    case HslVariant::Hue:
        std::copy(source, source + 3, result);
        setSat(result, sat(backdrop));
        setLum(result, lum(backdrop));
        break;
    case HslVariant::Saturation:
        std::copy(backdrop, backdrop + 3, result);
        setSat(result, sat(source));
        setLum(result, lum(backdrop));
        break;
    case HslVariant::Color:
        std::copy(source, source + 3, result);
        setLum(result, lum(backdrop));
        break;
    case HslVariant::Luminosity:
        std::copy(backdrop, backdrop + 3, result);
        setLum(result, lum(source));
        break;
    }
}

void applyHslBlend(HslVariant variant, float opacity, DataChannel* const destination[3],
                   const DataChannel* const backdrop[3], const DataChannel& backdropAlpha,
                   const DataChannel* const source[3], const DataChannel& sourceAlpha, const RectI* rect) {
    if (!destination[0]) return;
    const SizeI size = destination[0]->size();
    for (int i = 0; i < 3; ++i)
        if (!blendable(destination[i], size) || !blendable(backdrop[i], size) || !blendable(source[i], size))
            return;
    if (!blendable(&backdropAlpha, size) || !blendable(&sourceAlpha, size)) return;
    const RectI area = rect ? rect->intersected(destination[0]->bounds()) : destination[0]->bounds();
    if (area.isEmpty()) return;
    const float o = opacity > 0.0f ? std::min(opacity, 1.0f) : 0.0f;
    auto passThrough = [&](const RectI& part) {
        for (int i = 0; i < 3; ++i)
            if (destination[i] != backdrop[i]) copyChannel(*destination[i], *backdrop[i], part);
    };
    if (o == 0.0f) {
        passThrough(area);
        return;
    }

    const TileSpan span = tileSpan(size, area);
    MT::parallelFor(0, span.count(), [&](uint32_t first, uint32_t last) {
        std::optional<TileReadOnly> cb[3], cs[3];
        for (int i = 0; i < 3; ++i) cb[i].emplace(*backdrop[i]), cs[i].emplace(*source[i]);
        TileReadOnly ab(backdropAlpha), as(sourceAlpha);
        for (uint32_t k = first; k < last; ++k) {
            const uint32_t tileNum = span.tileNum(k);
            const RectI part = tileArea(size, tileNum, area);
            if (part.isEmpty() || !as.switchTo(tileNum) || !ab.switchTo(tileNum)) continue;
            if (as.isSolid() && loadAny(sourceAlpha.type(), as.solidValue(), 0) == 0.0f) {
                passThrough(part);
                continue;
            }
            bool ok = true;
            for (int i = 0; i < 3; ++i) ok = cb[i]->switchTo(tileNum) && cs[i]->switchTo(tileNum) && ok;
            if (!ok) continue;
            // The three destination tiles are written through separate cursors; they may be the
            // backdrop's own tiles, which the read cursors keep alive either way.
            std::optional<TileReadWrite> out[3];
            for (int i = 0; i < 3; ++i) {
                out[i].emplace(*destination[i]);
                out[i]->switchTo(tileNum);
            }
            for (int y = part.top; y < part.bottom; ++y) {
                const size_t rowStart = size_t(y & (TileSize - 1)) * TileSize;
                for (int x = part.left; x < part.right; ++x) {
                    const size_t e = rowStart + size_t(x & (TileSize - 1));
                    float b[3], s[3], r[3];
                    for (int i = 0; i < 3; ++i) {
                        b[i] = loadAny(backdrop[i]->type(), cb[i]->data(), e);
                        s[i] = loadAny(source[i]->type(), cs[i]->data(), e);
                    }
                    const float alphaB = loadAny(backdropAlpha.type(), ab.data(), e);
                    const float alphaS = loadAny(sourceAlpha.type(), as.data(), e) * o;
                    const float alphaR = alphaB + alphaS - alphaB * alphaS;
                    hslBlendFunction(variant, b, s, r);
                    for (int i = 0; i < 3; ++i) {
                        const float co = s[i] * alphaS * (1.0f - alphaB) + b[i] * alphaB * (1.0f - alphaS) +
                                         alphaB * alphaS * r[i];
                        storeAny(destination[i]->type(), out[i]->data(), e,
                                 alphaR == 0.0f ? b[i] : co / alphaR);
                    }
                }
            }
        }
    });
}

} // namespace Orvex::DataStorage
