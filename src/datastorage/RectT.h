#pragma once

#include <algorithm>
#include <cstdint>

namespace Orvex::Detail {

/// A point (x, y).
template <class T> struct PointT {
    T x = 0;
    T y = 0;
    constexpr bool operator==(const PointT& other) const { return x == other.x && y == other.y; }
    constexpr bool operator!=(const PointT& other) const { return !(*this == other); }
};

/// A size (width, height); any size with a side of 0 or less holds nothing.
template <class T> struct SizeT {
    T width = 0;
    T height = 0;
    constexpr bool isEmpty() const { return width <= 0 || height <= 0; }
    constexpr bool operator==(const SizeT& other) const {
        return width == other.width && height == other.height;
    }
    constexpr bool operator!=(const SizeT& other) const { return !(*this == other); }
};

/// An axis-aligned rectangle; `right` and `bottom` are exclusive, so the width is right - left.
/// An empty or inverted rectangle covers nothing.
template <class T> struct RectT {
    T left = 0;
    T top = 0;
    T right = 0;
    T bottom = 0;

    static constexpr RectT fromSize(SizeT<T> size) { return {0, 0, size.width, size.height}; }
    static constexpr RectT fromXYWH(T x, T y, T width, T height) { return {x, y, x + width, y + height}; }

    constexpr T width() const { return right - left; }
    constexpr T height() const { return bottom - top; }
    constexpr bool isEmpty() const { return right <= left || bottom <= top; }
    constexpr bool contains(T x, T y) const { return x >= left && x < right && y >= top && y < bottom; }
    constexpr bool contains(const RectT& other) const {
        return other.isEmpty() ||
               (other.left >= left && other.top >= top && other.right <= right && other.bottom <= bottom);
    }

    /// The common part; empty rectangles come out as {0, 0, 0, 0} so they never look inverted.
    constexpr RectT intersected(const RectT& other) const {
        RectT r{std::max(left, other.left), std::max(top, other.top), std::min(right, other.right),
                std::min(bottom, other.bottom)};
        return r.isEmpty() ? RectT{} : r;
    }
    constexpr RectT translated(T dx, T dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }

    constexpr bool operator==(const RectT& o) const {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
    constexpr bool operator!=(const RectT& o) const { return !(*this == o); }
};

using RectI = RectT<int>;
using SizeI = SizeT<int>;
using PointI = PointT<int>;

} // namespace Orvex::Detail
