#include "document/filters/EffectRenderer.h"

#include <algorithm>

namespace Orvex::Document::Filters {

void PhaseProgress::beginPhase(double share, int64_t steps) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_steps > 0)
        m_total += std::min(1.0, double(m_done.load()) / double(m_steps)) * m_share;
    else if (m_share > 0)
        m_total += m_share; // a phase without steps counts as done
    m_done = 0;
    m_steps = steps;
    m_share = std::max(0.0, share);
    if (m_total + m_share > 1.0) m_share = std::max(0.0, 1.0 - m_total);
}

void PhaseProgress::advance(int64_t steps) {
    m_done.fetch_add(steps, std::memory_order_relaxed);
}

double PhaseProgress::fraction() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    double f = m_total;
    if (m_steps > 0) f += std::min(1.0, double(m_done.load()) / double(m_steps)) * m_share;
    return std::min(1.0, f);
}

} // namespace Orvex::Document::Filters
