#include "document/filters/common/ChannelBlur.h"

#include "document/filters/common/BoxGaussian.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace Orvex::Document::Filters::Common {

using namespace Orvex::DataStorage;

int boxGaussianMargin(double sigma) {
    BoxMixture m;
    if (!BoxMixture::forSigma(sigma, 3, m)) return 0;
    return 3 * (m.width / 2);
}

RectI boxGaussianBlurChannel(const DataChannel& source, DataChannel& destination, const RectI& region,
                             double sigmaX, double sigmaY) {
    const int32_t type = source.type();
    if (type != destination.type() || source.size() != destination.size() ||
        (type != -1 && type != -2 && type != -3))
        return {};
    // Here a sigma that is not positive means "no blur on this axis" (the buffer blur would take
    // its magnitude).
    sigmaX = sigmaX > 0.0 ? sigmaX : 0.0;
    sigmaY = sigmaY > 0.0 ? sigmaY : 0.0;
    const int mx = boxGaussianMargin(sigmaX), my = boxGaussianMargin(sigmaY);
    const RectI area =
        RectI{region.isEmpty() ? 0 : region.left - mx, region.top - my, region.right + mx, region.bottom + my}
            .intersected(source.bounds());
    if (region.isEmpty() || area.isEmpty()) return {};
    if (mx == 0 && my == 0) {
        if (&source != &destination) copyChannel(destination, source, area);
        return area;
    }
    const int w = area.width(), h = area.height();
    const size_t n = size_t(w) * size_t(h);
    std::vector<float> buffer(n);
    if (type == -3) {
        getData(source, area, buffer.data(), 0);
    } else {
        std::vector<unsigned char> raw(n * source.elementSize());
        getData(source, area, raw.data(), 0);
        if (type == -1)
            for (size_t i = 0; i < n; ++i) buffer[i] = raw[i];
        else
            for (size_t i = 0; i < n; ++i) buffer[i] = reinterpret_cast<const uint16_t*>(raw.data())[i];
    }
    boxGaussianBlur(buffer.data(), w, h, sigmaX, sigmaY);
    if (type == -3) {
        setData(destination, area, buffer.data(), 0);
    } else {
        // Integer channels keep their scale: round half up and clamp.
        const float maximum = type == -1 ? 255.0f : 65535.0f;
        std::vector<unsigned char> raw(n * source.elementSize());
        for (size_t i = 0; i < n; ++i) {
            const float v = buffer[i] > 0.0f ? std::min(std::floor(buffer[i] + 0.5f), maximum) : 0.0f;
            if (type == -1)
                raw[i] = uint8_t(v);
            else
                reinterpret_cast<uint16_t*>(raw.data())[i] = uint16_t(v);
        }
        setData(destination, area, raw.data(), 0);
    }
    return area;
}

} // namespace Orvex::Document::Filters::Common
