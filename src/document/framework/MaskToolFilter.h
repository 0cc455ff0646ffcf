#pragma once
#include "document/framework/ToolFilter.h"

namespace Orvex::Document::Filters {

// The base of the effects that work inside a painted selection (rain, fire, frost, clouds, ice,
// night sky). A run needs a non-empty selection. The selection starts as the host's selection
// (when it has one) so that the user's own choice in the host editor carries over.
class MaskToolFilter : public ToolFilter {
    Q_OBJECT
public:
    MaskToolFilter(int effectId, uint32_t layerKind, QObject* parent = nullptr);

    // Enables "duomask" (true) or "mask" (false).
    void SetDuoMask(bool duo);
    bool isDuoMask() const { return isMaskEnabled(DuoMask); }

    void Activate() override;
    void RunWithMask(int mode) override;
};

// The base of the effects steered by drawn lines (aurora, lightning): a run needs a line.
class TrunkToolFilter : public ToolFilter {
    Q_OBJECT
public:
    TrunkToolFilter(int effectId, uint32_t layerKind, QObject* parent = nullptr);

    // The number of drawn segments in the current record.
    int segmentCount() const;
    void RunWithMask(int mode) override;
};

} // namespace Orvex::Document::Filters
