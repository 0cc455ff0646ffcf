#include "datastorage/DataPyramid.h"

#include "datastorage/RescaleSumming.h"

#include <cmath>

namespace Orvex::DataStorage {

namespace {
constexpr int kSmallestSide = 32;

SizeI halved(SizeI s) {
    return {std::max(1, (s.width + 1) / 2), std::max(1, (s.height + 1) / 2)};
}
} // namespace

DataPyramid::DataPyramid(Ref<PixelPlane> source, QObject* parent) : QObject(parent) {
    setSource(std::move(source));
}

DataPyramid::~DataPyramid() = default;

void DataPyramid::setSource(Ref<PixelPlane> source) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_source = std::move(source);
        m_companion = m_source ? m_source->companion() : Ref<SharedObject>();
        m_levels.clear();
        m_outOfDate = true;
    }
    emit invalidated();
}

Ref<PixelPlane> DataPyramid::source() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_source;
}

int DataPyramid::levelCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_source || m_source->size().isEmpty()) return 0;
    int count = 1;
    for (SizeI s = m_source->size();
         (s.width > kSmallestSide || s.height > kSmallestSide) && (s.width > 1 || s.height > 1);
         s = halved(s))
        ++count;
    return count;
}

SizeI DataPyramid::levelSize(int level) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_source || level < 0) return {};
    SizeI s = m_source->size();
    for (int i = 0; i < level; ++i) s = halved(s);
    return s;
}

double DataPyramid::levelScale(int level) {
    return std::ldexp(1.0, -std::max(level, 0));
}

int DataPyramid::levelForZoom(double zoom) const {
    const int count = levelCount();
    if (count == 0 || !(zoom > 0.0) || zoom >= 1.0) return 0;
    int level = 0;
    while (level + 1 < count && levelScale(level + 1) >= zoom) ++level;
    return level;
}

Ref<PixelPlane> DataPyramid::buildFrom(const PixelPlane& previous, SizeI size) const {
    auto plane = makeRef<PixelPlane>(0u, TypeU8, size, m_companion);
    const uint32_t mask = previous.channelMask();
    for (int id = 0; id < 31; ++id) {
        if (!(mask & (1u << id))) continue;
        const Ref<DataChannel> from = previous.channel(id);
        if (!from || !plane->addChannel(id, from->type())) continue;
        Ref<DataChannel> to = plane->writableChannel(id);
        rescaleSummingChannel(*from, *to, {});
    }
    return plane;
}

Ref<PixelPlane> DataPyramid::level(int level) {
    const int count = levelCount();
    if (level < 0 || level >= count) return {};
    std::lock_guard<std::mutex> lock(m_mutex);
    if (level == 0) return m_source;
    if (m_outOfDate) {
        m_levels.clear();
        m_outOfDate = false;
    }
    if (int(m_levels.size()) < count) m_levels.resize(size_t(count));
    int have = level;
    while (have > 0 && !m_levels[size_t(have)].plane) --have;
    for (int k = have + 1; k <= level; ++k) {
        const PixelPlane& previous = k == 1 ? *m_source : *m_levels[size_t(k - 1)].plane;
        m_levels[size_t(k)].plane = buildFrom(previous, halved(previous.size()));
    }
    return m_levels[size_t(level)].plane;
}

bool DataPyramid::isOutOfDate() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_outOfDate;
}

void DataPyramid::invalidate() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_levels.clear();
        m_outOfDate = true;
    }
    emit invalidated();
}

} // namespace Orvex::DataStorage
