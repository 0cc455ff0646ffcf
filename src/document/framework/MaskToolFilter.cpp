#include "document/framework/MaskToolFilter.h"

#include "datastorage/PixelFormat.h"
#include "document/filters/RenderSupport.h"
#include "document/framework/FilterMessages.h"

#include <QCoreApplication>
#include <QGuiApplication>

namespace Orvex::Document::Filters {

namespace {
QString applicationTitle() {
    const QString title = QGuiApplication::applicationDisplayName();
    return title.isEmpty() ? QStringLiteral("Elemorama") : title;
}
} // namespace

MaskToolFilter::MaskToolFilter(int effectId, uint32_t layerKind, QObject* parent)
    : ToolFilter(effectId, layerKind, parent) {
    setMaskEnabled(Mask, true);
}

void MaskToolFilter::SetDuoMask(bool duo) {
    setMaskEnabled(DuoMask, duo);
    setMaskEnabled(Mask, !duo);
}

void MaskToolFilter::Activate() {
    const MaskKind kind = isDuoMask() ? DuoMask : Mask;
    const bool fresh = !maskPlane(kind) || (document() && m_layerId != document()->layerId());
    ToolFilter::Activate();
    // A selection made in the host is where the user wants the effect.
    if (fresh && document() && document()->selection() &&
        document()->selection()->size() == document()->layer()->size() &&
        document()->selection()->type() == DataStorage::TypeU8) {
        auto plane =
            makeRef<DataStorage::PixelPlane>(0u, int32_t(DataStorage::TypeU8), document()->layer()->size());
        plane->setChannel(DataStorage::ChannelMask, document()->selection()->clone());
        m_masks[kind] = plane;
    }
}

void MaskToolFilter::RunWithMask(int mode) {
    if (IsMaskEmpty()) {
        FilterMessages::warning(
            applicationTitle(),
            QCoreApplication::translate("DocumentFilters",
                                        "Nothing selected! Select working areas with Selection brush first"),
            m_panel);
        return;
    }
    ToolFilter::RunWithMask(mode);
}

TrunkToolFilter::TrunkToolFilter(int effectId, uint32_t layerKind, QObject* parent)
    : ToolFilter(effectId, layerKind, parent) {}

int TrunkToolFilter::segmentCount() const {
    const auto* lines = current().segments();
    return lines ? int(lines->size()) : 0;
}

void TrunkToolFilter::RunWithMask(int mode) {
    if (segmentCount() == 0) {
        FilterMessages::warning(
            applicationTitle(),
            QCoreApplication::translate("DocumentFilters",
                                        "Nothing to do! Draw line(s) with Direction tool first"),
            m_panel);
        return;
    }
    ToolFilter::RunWithMask(mode);
}

} // namespace Orvex::Document::Filters
