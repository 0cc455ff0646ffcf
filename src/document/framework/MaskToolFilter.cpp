#include "document/framework/MaskToolFilter.h"

#include "datastorage/PixelFormat.h"
#include "datastorage/RescaleSumming.h"
#include "document/filters/RenderSupport.h"
#include "document/framework/FilterMessages.h"
#include "document/framework/StrokesFile.h"
#include "mt/JobsPool.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>

#include <algorithm>
#include <cmath>
#include <vector>

namespace Orvex::Document::Filters {

using DataStorage::DataChannel;
using DataStorage::PixelPlane;
using ::Orvex::Detail::RectI;

namespace {
QString applicationTitle() {
    return FilterMessages::applicationTitle();
}

Ref<PixelPlane> maskPlaneOf(Ref<DataChannel> channel) {
    auto plane = makeRef<PixelPlane>(0u, int32_t(DataStorage::TypeU8), channel->size());
    plane->setChannel(DataStorage::ChannelMask, std::move(channel));
    return plane;
}

// Scanline flood fill of `bytes` (width x height, row-major) from (x, y) with `fill`, spreading over
// 4-neighbours whose value differs from the seed's by at most `tolerance`.
void floodFill(std::vector<uint8_t>& bytes, int width, int height, int x, int y, uint8_t fill,
               int tolerance) {
    const int seed = bytes[size_t(y) * width + x];
    std::vector<uint8_t> visited(bytes.size(), 0);
    auto fits = [&](int px, int py) {
        const size_t i = size_t(py) * width + px;
        return !visited[i] && std::abs(int(bytes[i]) - seed) <= tolerance;
    };
    std::vector<std::pair<int, int>> stack{{x, y}};
    while (!stack.empty()) {
        auto [sx, sy] = stack.back();
        stack.pop_back();
        if (!fits(sx, sy)) continue;
        int left = sx, right = sx;
        while (left > 0 && fits(left - 1, sy)) --left;
        while (right + 1 < width && fits(right + 1, sy)) ++right;
        uint8_t* row = bytes.data() + size_t(sy) * width;
        uint8_t* seen = visited.data() + size_t(sy) * width;
        std::fill(row + left, row + right + 1, fill);
        std::fill(seen + left, seen + right + 1, uint8_t(1));
        for (int ny : {sy - 1, sy + 1}) {
            if (ny < 0 || ny >= height) continue;
            // One seed per run of fitting pixels in the neighbouring row.
            bool inRun = false;
            for (int px = left; px <= right; ++px) {
                const bool ok = fits(px, ny);
                if (ok && !inRun) stack.emplace_back(px, ny);
                inRun = ok;
            }
        }
    }
}
} // namespace

MaskToolFilter::MaskToolFilter(int effectId, uint32_t layerKind, QObject* parent)
    : ToolFilter(effectId, layerKind, parent), m_frame(new Orvex::TransformTool(this)) {
    setMaskEnabled(Mask, true);
    m_currentTool = SelectionTool;
    connect(m_frame, &Orvex::TransformTool::transformChanged, this, &MaskToolFilter::transformChanged);
}

void MaskToolFilter::SetDuoMask(bool duo) {
    setMaskEnabled(DuoMask, duo);
    setMaskEnabled(Mask, !duo);
    const auto ids = toolIds();
    if (std::find(ids.begin(), ids.end(), currentTool()) == ids.end()) SelectTool(SelectionTool);
}

void MaskToolFilter::Activate() {
    const MaskKind kind = isDuoMask() ? DuoMask : Mask;
    const bool fresh = !maskPlane(kind) || (document() && m_layerId != document()->layerId());
    ToolFilter::Activate();
    // A selection made in the host is where the user wants the effect.
    if (fresh && document() && document()->selection() &&
        document()->selection()->size() == document()->layer()->size() &&
        document()->selection()->type() == DataStorage::TypeU8) {
        m_masks[kind] = maskPlaneOf(document()->selection()->clone());
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

// ---- tools ---------------------------------------------------------------------------------------

std::vector<int> MaskToolFilter::toolIds() const {
    std::vector<int> ids{SelectionTool};
    if (isDuoMask()) ids.push_back(BluePenTool);
    ids.push_back(EraserTool);
    if (!isDuoMask()) ids.push_back(BucketTool);
    ids.push_back(TransformTool);
    const auto base = ToolFilter::toolIds();
    ids.insert(ids.end(), base.begin(), base.end());
    return ids;
}

QString MaskToolFilter::ToolText(int id) const {
    switch (id) {
    case SelectionTool:
        return QCoreApplication::translate("MaskToolFilter", "Selection tool");
    case BluePenTool:
        return QCoreApplication::translate("MaskToolFilter", "Blue stroke pen");
    case EraserTool:
        return QCoreApplication::translate("MaskToolFilter", "Eraser tool");
    case BucketTool:
        return QCoreApplication::translate("MaskToolFilter", "Bucket tool");
    case TransformTool:
        return QCoreApplication::translate("MaskToolFilter", "Transform tool");
    default:
        return ToolFilter::ToolText(id);
    }
}

QString MaskToolFilter::ToolStatusTip(int id) const {
    switch (id) {
    case SelectionTool:
        return QCoreApplication::translate("MaskToolFilter", "Selection tool status tip");
    case BluePenTool:
        return QCoreApplication::translate("MaskToolFilter", "Blue stroke status tip");
    case EraserTool:
        return QCoreApplication::translate("MaskToolFilter", "Eraser tool status tip");
    case BucketTool:
        return QCoreApplication::translate("MaskToolFilter", "Bucket status tip");
    case TransformTool:
        return QCoreApplication::translate("MaskToolFilter", "Transform tool status tip");
    default:
        return ToolFilter::ToolStatusTip(id);
    }
}

QString MaskToolFilter::ToolIcon(int id) const {
    switch (id) {
    case SelectionTool:
        return QStringLiteral("tools/smart_brush");
    case BluePenTool:
        return QStringLiteral("tools/pencil_blue");
    case EraserTool:
        return QStringLiteral("tools/erase");
    case BucketTool:
        return QStringLiteral("tools/paint_bucket");
    case TransformTool:
        return QStringLiteral("tools/transform");
    default:
        return ToolFilter::ToolIcon(id);
    }
}

bool MaskToolFilter::SelectTool(int id) {
    if (!ToolFilter::SelectTool(id)) return false;
    if (id == TransformTool) {
        buildFrame();
    } else {
        m_frame->setVisible(false);
        m_transformCopy = {};
    }
    return true;
}

void MaskToolFilter::setViewAttached(bool attached) {
    m_viewAttached = attached;
    if (currentTool() == TransformTool) buildFrame();
}

void MaskToolFilter::buildFrame() {
    m_transformCopy = {};
    const int kind = editedMaskKind();
    const Ref<DataChannel> mask =
        kind >= 0 && m_masks[kind] ? m_masks[kind]->channel(DataStorage::ChannelMask) : Ref<DataChannel>();
    const RectI bounds = m_viewAttached && mask ? maskBounds(mask.get()) : RectI{};
    if (bounds.isEmpty()) {
        m_frame->clear();
        return;
    }
    // A tiny selection still gets a frame that can be grabbed: at least 17 pixels a side.
    QRectF box(bounds.left, bounds.top, bounds.width(), bounds.height());
    if (box.width() < 16) box.adjust(-(17 - box.width()) / 2, 0, (17 - box.width()) / 2, 0);
    if (box.height() < 16) box.adjust(0, -(17 - box.height()) / 2, 0, (17 - box.height()) / 2);
    m_transformCopy = mask->clone();
    m_copyBox = box;
    m_frame->reset(box.size(), box.center());
    m_frame->setVisible(true);
}

Ref<DataChannel> MaskToolFilter::transformMask(const DataChannel& source, const QRectF& box,
                                               const QTransform& transform, bool nearest) {
    const int width = source.width(), height = source.height();
    auto out = makeRef<DataChannel>(source.size(), int32_t(DataStorage::TypeU8));
    bool invertible = false;
    const QTransform inverse = transform.inverted(&invertible);
    if (!invertible || box.isEmpty()) return out;
    // The samples inside the box, the only ones the frame carries.
    const RectI from{std::max(0, int(std::floor(box.left()))), std::max(0, int(std::floor(box.top()))),
                     std::min(width, int(std::ceil(box.right()))), std::min(height, int(std::ceil(box.bottom())))};
    if (from.isEmpty()) return out;
    const std::vector<uint8_t> bytes = maskBytes(&source, from);
    const int fw = from.width();
    auto sample = [&](int x, int y) -> int {
        if (x < from.left || y < from.top || x >= from.right || y >= from.bottom) return 0;
        return bytes[size_t(y - from.top) * size_t(fw) + size_t(x - from.left)];
    };
    // Only the pixels under the moved frame can be selected.
    const QRectF reach = transform.mapRect(QRectF(QPointF(0, 0), box.size()));
    const RectI to{std::max(0, int(std::floor(reach.left())) - 1), std::max(0, int(std::floor(reach.top())) - 1),
                   std::min(width, int(std::ceil(reach.right())) + 1),
                   std::min(height, int(std::ceil(reach.bottom())) + 1)};
    if (to.isEmpty()) return out;
    const int tw = to.width();
    std::vector<uint8_t> result(size_t(tw) * size_t(to.height()), 0);
    const double bw = box.width(), bh = box.height();
    MT::parallelFor(0, uint32_t(to.height()), [&](uint32_t first, uint32_t last) {
        for (uint32_t row = first; row < last; ++row) {
            const double py = to.top + int(row) + 0.5;
            uint8_t* line = result.data() + size_t(row) * size_t(tw);
            for (int i = 0; i < tw; ++i) {
                // The pixel's centre in box coordinates, then in the old mask's pixel grid.
                const QPointF local = inverse.map(QPointF(to.left + i + 0.5, py));
                if (local.x() < 0 || local.y() < 0 || local.x() > bw || local.y() > bh) continue;
                const double sx = box.left() + local.x() - 0.5, sy = box.top() + local.y() - 0.5;
                if (nearest) {
                    line[i] = uint8_t(sample(int(std::floor(sx + 0.5)), int(std::floor(sy + 0.5))));
                    continue;
                }
                const int x0 = int(std::floor(sx)), y0 = int(std::floor(sy));
                const double fx = sx - x0, fy = sy - y0;
                const double top = sample(x0, y0) * (1 - fx) + sample(x0 + 1, y0) * fx;
                const double bottom = sample(x0, y0 + 1) * (1 - fx) + sample(x0 + 1, y0 + 1) * fx;
                line[i] = uint8_t(std::lround(top * (1 - fy) + bottom * fy));
            }
        }
    }, 8);
    DataStorage::setData(*out, to, result.data(), 0);
    return out;
}

void MaskToolFilter::transformChanged() {
    const int kind = editedMaskKind();
    if (currentTool() != TransformTool || !m_transformCopy || kind < 0 || !m_masks[kind]) return;
    if (isEvalRunning()) SetEvalRunning(false);
    if (document() && document()->isBusy()) return;
    m_masks[kind] = maskPlaneOf(transformMask(*m_transformCopy, m_copyBox, m_frame->transform(), kind == DuoMask));
    const QString stepName;
    maskEdited(QRect(), &stepName);
}

int MaskToolFilter::paintValue(int tool) const {
    if (tool == SelectionTool) return isDuoMask() ? DuoSelected : FullySelected;
    if (tool == BluePenTool) return DuoProtected;
    return Unselected;
}

// ---- stroke points -------------------------------------------------------------------------------

void MaskToolFilter::OnNewPoint(NodeInfo& node) {
    // The mask is never edited while a run reads it.
    if (jobFlags() & CommitResult) SetEvalRunning(false);
    // The rest of an open stroke goes to the pen job whatever the tool is now.
    if (isStrokeInProgress() && node.kind != NodeInfo::Press) {
        ToolFilter::OnNewPoint(node);
        return;
    }
    const int tool = currentTool();
    if (tool == TransformTool) {
        const QPointF at(node.x, node.y);
        if (node.kind == NodeInfo::Press)
            m_frame->press(at, node.modifiers);
        else if (node.kind == NodeInfo::Move)
            m_frame->move(at, node.modifiers);
        else if (node.kind == NodeInfo::Release)
            m_frame->release(at, node.modifiers);
        return;
    }
    if (tool == BucketTool) {
        if (!isDuoMask() && node.kind == NodeInfo::Press) bucketFill(node);
        return;
    }
    if (tool == EraserTool && (node.modifiers & Qt::ControlModifier)) {
        if (node.kind == NodeInfo::Press) clearAll();
        return;
    }
    // The transform tool moves the selection (not painted); the view tools never reach the mask.
    if (tool != SelectionTool && tool != EraserTool && !(tool == BluePenTool && isDuoMask())) return;
    node.value = paintValue(tool);
    ToolFilter::OnNewPoint(node);
}

void MaskToolFilter::bucketFill(const NodeInfo& node) {
    if (!m_masks[Mask] || !document() || document()->isBusy()) return;
    const uint8_t fill = (node.modifiers & Qt::ControlModifier) ? 0 : 255;
    if (!(node.x >= 0 && node.y >= 0 && node.x < 2147483647.0 && node.y < 2147483647.0)) return;
    const int x = int(node.x), y = int(node.y);
    const auto channel = m_masks[Mask]->channel(DataStorage::ChannelMask);
    if (!channel->bounds().contains(x, y) || channel->value<uint8_t>(x, y) == fill) return;
    const int width = channel->width(), height = channel->height();
    std::vector<uint8_t> bytes(static_cast<size_t>(width) * height);
    DataStorage::getData(*channel, channel->bounds(), bytes.data(), 0);
    floodFill(bytes, width, height, x, y, fill, 127);
    auto filled = makeRef<DataChannel>(channel->size(), int32_t(DataStorage::TypeU8));
    DataStorage::setData(*filled, filled->bounds(), bytes.data(), 0);
    m_masks[Mask] = maskPlaneOf(filled);
    const QString stepName;
    maskEdited(QRect(), &stepName);
}

void MaskToolFilter::clearAll() {
    if (isEvalRunning()) SetEvalRunning(false);
    if (!document() || document()->isBusy()) return;
    const int kind = editedMaskKind();
    if (kind < 0 || !m_masks[kind] ||
        maskBounds(m_masks[kind]->channel(DataStorage::ChannelMask).get()).isEmpty())
        return;
    m_masks[kind] = maskPlaneOf(makeRef<DataChannel>(m_masks[kind]->size(), int32_t(DataStorage::TypeU8)));
    const QString stepName;
    maskEdited(QRect(), &stepName);
}

void MaskToolFilter::TakeSelectionFromDocument() {
    const int kind = editedMaskKind();
    if (kind != Mask || !document() || !m_masks[Mask]) return;
    if (isEvalRunning()) SetEvalRunning(false);
    const auto selection = document()->selection();
    if (selection && selection->size() == m_masks[Mask]->size() && selection->type() == DataStorage::TypeU8)
        m_masks[Mask] = maskPlaneOf(selection->clone());
    else
        m_masks[Mask] =
            maskPlaneOf(makeRef<DataChannel>(m_masks[Mask]->size(), int32_t(DataStorage::TypeU8)));
    OnMaskChanged();
    setHaveResult(false);
    emit maskPainted(QRect());
}

// ---- strokes file --------------------------------------------------------------------------------

bool MaskToolFilter::SaveStrokes(const QString& path) {
    const int kind = editedMaskKind();
    const QString type = kind == Mask      ? QStringLiteral("mask")
                         : kind == DuoMask ? QStringLiteral("duomask")
                                           : QStringLiteral("noname");
    Ref<DataChannel> mask;
    if (kind >= 0 && m_masks[kind]) mask = m_masks[kind]->channel(DataStorage::ChannelMask);
    QString reason;
    if (StrokesFile::write(path, type, mask.get(), reason)) return true;
    FilterMessages::critical(applicationTitle(),
                             QCoreApplication::translate("DocumentFilters", "Write error of file:\n %1")
                                     .arg(QFileInfo(path).fileName()) +
                                 QLatin1Char('\n') + reason,
                             m_panel);
    return false;
}

bool MaskToolFilter::LoadStrokes(const QString& path) {
    const QString fileName = QFileInfo(path).fileName();
    auto loadError = [&] {
        FilterMessages::critical(
            applicationTitle(),
            QCoreApplication::translate("DocumentFilters", "Error loading from %1").arg(fileName), m_panel);
        return false;
    };
    const int kind = editedMaskKind();
    if (kind < 0 || !m_masks[kind]) return loadError();

    StrokesFile::Content content;
    const auto status = StrokesFile::read(path, isDuoMask(), content);
    if (status == StrokesFile::WrongEffect) {
        FilterMessages::critical(applicationTitle(),
                                 QCoreApplication::translate("DocumentFilters", "File %1 is for %2 effect")
                                     .arg(fileName, StrokesFile::effectsOfType(content.type)),
                                 m_panel);
        return false;
    }
    if (status != StrokesFile::Ok) return loadError();

    if (isEvalRunning()) SetEvalRunning(false);
    const auto size = m_masks[kind]->size();
    const bool labels = kind == DuoMask;
    std::vector<uint8_t> bytes;
    try {
        bytes = StrokesFile::samplesAtSize(content.image, size, labels);
    } catch (const std::exception&) {
        return loadError();
    }
    if (content.type == QLatin1String("strokes") && kind == Mask)
        for (auto& b : bytes) b = b < 1 ? 0 : 255;
    auto channel = makeRef<DataChannel>(size, int32_t(DataStorage::TypeU8));
    DataStorage::setData(*channel, channel->bounds(), bytes.data(), 0);
    m_masks[kind] = maskPlaneOf(channel);
    const QString stepName = QStringLiteral("Load selection");
    maskEdited(QRect(), &stepName);
    if (currentTool() == TransformTool) SelectTool(TransformTool);
    ScheduleUpdate();
    return true;
}

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
