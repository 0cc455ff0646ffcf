#include "document/filters/frost/FrostRenderer.h"

#include <algorithm>

namespace Orvex::Document::Filters {

using namespace DataStorage;

namespace {

FrostHooks hooksFor(const RunContext& context) {
    FrostHooks hooks;
    hooks.cancelled = [&context] { return context.cancelled(); };
    hooks.phase = [&context](double share, int64_t steps) { context.beginPhase(share, steps); };
    hooks.step = [&context] { context.advance(); };
    hooks.maxWorkers = context.maxWorkers;
    return hooks;
}

int sampleBytes(int32_t type) {
    return type == TypeU8 ? 1 : type == TypeU16 ? 2 : 4;
}

} // namespace

RunOutcome FrostRenderer::process(FrostParams& lastRun, const PixelPlane& source, const MaskChannels& masks,
                                  PixelPlane& result, const RunContext& context) {
    const int32_t type = checkRgbaPlanes(source, result);
    lastRun.clampForRun();
    const int width = source.size().width, height = source.size().height;
    const RectI bounds = maskBounds(masks.mask, context.maxWorkers);
    if (bounds.isEmpty()) {
        copySourceToResult(source, result);
        return RunOutcome::Done;
    }
    if (width != m_width || height != m_height) {
        m_fieldValid = m_crystalsValid = m_depositValid = false;
        m_width = width;
        m_height = height;
    }
    const FrostHooks hooks = hooksFor(context);
    std::vector<uint8_t> selection;
    auto needSelection = [&] {
        if (selection.empty()) selection = maskBytes(masks.mask, RectI{0, 0, width, height});
    };

    if (!m_fieldValid || !m_fieldKey.sameFieldKey(lastRun)) {
        m_fieldValid = m_crystalsValid = m_depositValid = false;
        needSelection();
        if (!buildFrostField(selection.data(), width, height, bounds, lastRun.thickness, m_field, hooks))
            return RunOutcome::Cancelled;
        m_fieldKey = lastRun;
        m_fieldValid = true;
        ++m_counts.field;
    }

    bool grown = false;
    if (!m_crystalsValid || !m_crystalKey.sameCrystalKey(lastRun)) {
        m_crystalsValid = m_depositValid = false;
        needSelection();
        context.beginPhase(0.6, 100);
        seedFrostCrystals(selection.data(), width, height, lastRun.fill, m_crystals);
        if (!growFrostCrystals(m_field, width, height, lastRun.thickness, lastRun.branching, m_crystals,
                               hooks))
            return RunOutcome::Cancelled;
        m_crystalKey = lastRun;
        m_crystalsValid = true;
        grown = true;
        ++m_counts.crystals;
    }

    // The deposit covers the tiles over the selection's bounds and the pixel a splat reaches beyond.
    const FrostRect cover = tileCover(bounds, width, height);
    const FrostRect area =
        FrostRect{cover.left - 1, cover.top - 1, cover.right + 1, cover.bottom + 1}.intersected(
            {0, 0, width, height});
    const std::size_t stride = std::size_t(area.width()) * 4 * sampleBytes(type);
    const PixelFormat rgba = PixelFormat::fromMask(MaskRGBA, type);
    if (grown || !m_depositValid || !m_depositKey.sameDepositKey(lastRun) || m_depositType != type ||
        m_depositArea != area) {
        m_depositValid = false;
        context.beginPhase(0.1, 1);
        m_deposit.assign(stride * area.height(), 0);
        getData(source, area, m_deposit.data(), unsigned(stride), rgba);
        m_coverage = m_crystals;
        const FrostDepositSettings settings = FrostDepositSettings::from(lastRun.uniformity, lastRun.freeze,
                                                                         lastRun.transparency, lastRun.color);
        const bool done = dispatchSampleType(type, [&](auto sample) {
            using T = decltype(sample);
            return depositFrost<T>(reinterpret_cast<T*>(m_deposit.data()), std::ptrdiff_t(area.width()) * 4,
                                   area, width, height, bounds, m_field, m_crystals, m_coverage, settings,
                                   hooks);
        });
        if (!done) return RunOutcome::Cancelled;
        context.advance();
        m_depositKey = lastRun;
        m_depositArea = area;
        m_depositType = type;
        m_depositValid = true;
        ++m_counts.deposit;
    }

    context.beginPhase(0.1, 1);
    copySourceToResult(source, result);
    std::vector<uint8_t> shaded = m_deposit;
    dispatchSampleType(type, [&](auto sample) {
        using T = decltype(sample);
        shadeFrost<T>(reinterpret_cast<T*>(shaded.data()), std::ptrdiff_t(area.width()) * 4, area, width,
                      cover, m_coverage, lastRun.shadow);
    });
    setData(result, area, shaded.data(), unsigned(stride), rgba);
    context.advance();
    ++m_counts.shading;
    return RunOutcome::Done;
}

} // namespace Orvex::Document::Filters
