#pragma once
// Small helpers shared by the fire, frost and water tests.

#include <cstdint>
#include <cstring>
#include <vector>

namespace ElementsTest {

// A width x height byte mask with an ellipse set to `value`.
inline std::vector<uint8_t> ellipseMask(int width, int height, double cx, double cy, double rx, double ry,
                                        uint8_t value = 255) {
    std::vector<uint8_t> mask(std::size_t(width) * height, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double dx = (x - cx) / rx, dy = (y - cy) / ry;
            if (dx * dx + dy * dy <= 1.0) mask[std::size_t(y) * width + x] = value;
        }
    return mask;
}

// A mask with the rows [top, bottom) set.
inline std::vector<uint8_t> bandMask(int width, int height, int top, int bottom) {
    std::vector<uint8_t> mask(std::size_t(width) * height, 0);
    for (int y = top; y < bottom && y < height; ++y)
        std::memset(&mask[std::size_t(y) * width], 255, std::size_t(width));
    return mask;
}

template <class T, class A, class B> bool sameBytes(const std::vector<T, A>& a, const std::vector<T, B>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0;
}

} // namespace ElementsTest
