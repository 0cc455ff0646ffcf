#include "document/ProgressData.h"

#include <algorithm>
#include <cmath>

namespace Orvex::Document {

double ProgressData::computeValue() const {
    const int total = m_total.load(std::memory_order_relaxed);
    const double ratio = total < 1 ? 0.0 : double(m_done.load(std::memory_order_relaxed)) / total;
    if (plainRatio()) return ratio;
    const double stage = m_map.stageStart + m_map.stageSpan * ratio;
    return m_map.rangeStart + m_map.rangeSpan * std::min(1.0, stage);
}

void ProgressData::storeValue(double value) {
    // Concurrent steps may finish their computation out of order: keep the larger value so the
    // bar never steps back within a job.
    double current = m_value.load(std::memory_order_relaxed);
    while (value > current && !m_value.compare_exchange_weak(current, value, std::memory_order_release,
                                                             std::memory_order_relaxed)) {
    }
}

void ProgressData::step(int count) {
    m_done.fetch_add(count, std::memory_order_relaxed);
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    storeValue(computeValue());
}

void ProgressData::beginPhase(double share, int steps) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    const double reached = std::clamp(computeValue(), m_map.windowStart, m_map.windowEnd);
    const double window = m_map.windowEnd - m_map.windowStart;
    m_map.rangeStart = reached;
    m_map.rangeSpan = std::clamp(share * window, 0.0, m_map.windowEnd - reached);
    m_map.stageStart = 0;
    m_map.stageSpan = 1;
    m_total.store(steps, std::memory_order_relaxed);
    m_done.store(0, std::memory_order_relaxed);
    storeValue(computeValue());
}

void ProgressData::setStage(double stageStart, double stageSpan, int steps) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_map.stageStart = stageStart;
    m_map.stageSpan = stageSpan;
    m_total.store(steps, std::memory_order_relaxed);
    m_done.store(0, std::memory_order_relaxed);
    storeValue(computeValue());
}

void ProgressData::setRange(double rangeStart, double rangeSpan) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_map.rangeStart = rangeStart;
    m_map.rangeSpan = rangeSpan;
    storeValue(computeValue());
}

void ProgressData::pushStage() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Mapping saved = m_map;
    saved.total = m_total.load(std::memory_order_relaxed);
    saved.done = m_done.load(std::memory_order_relaxed);
    m_stack.push_back(saved);
    const double start = std::clamp(computeValue(), m_map.windowStart, m_map.windowEnd);
    const double end = std::max(start, std::min(m_map.windowEnd, m_map.rangeStart + m_map.rangeSpan));
    m_map = Mapping{};
    m_map.rangeStart = start;
    m_map.rangeSpan = 0;
    m_map.windowStart = start;
    m_map.windowEnd = end;
    m_total.store(0, std::memory_order_relaxed);
    m_done.store(0, std::memory_order_relaxed);
}

void ProgressData::popStage() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (m_stack.empty()) return;
    m_map = m_stack.back();
    m_stack.pop_back();
    m_total.store(m_map.total, std::memory_order_relaxed);
    m_done.store(m_map.done, std::memory_order_relaxed);
    storeValue(computeValue());
}

int ProgressData::stageDepth() const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return int(m_stack.size());
}

void ProgressData::reset() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_total.store(0, std::memory_order_relaxed);
    m_done.store(0, std::memory_order_relaxed);
    m_cancelRequested.store(false, std::memory_order_release);
    m_stopRequested.store(false, std::memory_order_release);
    m_value.store(0, std::memory_order_release);
    m_map = Mapping{};
    m_stack.clear();
}

int ProgressData::displayValue() const {
    return int(std::lround(displaySpan() * value())) + displayMin();
}

} // namespace Orvex::Document
