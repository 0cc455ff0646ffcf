// The trunk effects' line tools and their trunk list files.
#include "document/filters/TrunkListFile.h"
#include "document/framework/FilterMessages.h"
#include "document/framework/MaskToolFilter.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>

#include <algorithm>
#include <cmath>
#include <limits>

namespace Orvex::Document::Filters {

namespace {

QString applicationTitle() {
    return FilterMessages::applicationTitle();
}

// Lines are kept in the record's range: the image and a wide margin around it.
double clampCoordinate(double v) {
    return std::isfinite(v) ? std::clamp(v, -1.0e6, 1.0e6) : 0.0;
}

int roundAway(double v) {
    v = clampCoordinate(v);
    return int(v < 0 ? -std::floor(-v + 0.5) : std::floor(v + 0.5));
}

// Distance from p to the segment, squared: to the nearer end when the projection falls outside it.
double distanceSquared(const Segment& s, double px, double py) {
    const double dx = s.x2 - s.x1, dy = s.y2 - s.y1;
    const double len2 = dx * dx + dy * dy;
    const double t = len2 > 0 ? ((px - s.x1) * dx + (py - s.y1) * dy) / len2 : 0.0;
    if (t <= 0) return (px - s.x1) * (px - s.x1) + (py - s.y1) * (py - s.y1);
    if (t >= 1) return (px - s.x2) * (px - s.x2) + (py - s.y2) * (py - s.y2);
    const double cross = (px - s.x1) * dy - (py - s.y1) * dx;
    return cross * cross / len2;
}

} // namespace

TrunkToolFilter::TrunkToolFilter(int effectId, uint32_t layerKind, QObject* parent)
    : ToolFilter(effectId, layerKind, parent), m_frame(new Orvex::TransformTool(this)) {
    connect(m_frame, &Orvex::TransformTool::transformChanged, this, &TrunkToolFilter::transformChanged);
    connect(m_frame, &Orvex::TransformTool::frameMoved, this, &TrunkToolFilter::linesChanged);
}

QString TrunkToolFilter::lineToolText(int id) const {
    switch (id) {
    case LineTool:
        return QCoreApplication::translate("DocumentFilters", "Draw lines");
    case EraserTool:
        return QCoreApplication::translate("DocumentFilters", "Erase lines");
    case TransformTool:
        return QCoreApplication::translate("DocumentFilters", "Transform tool");
    default:
        return QString();
    }
}

QString TrunkToolFilter::lineToolStatusTip(int id) const {
    if (id == TransformTool) return QCoreApplication::translate("DocumentFilters", "Transform tool status tip");
    return QString();
}

QString TrunkToolFilter::lineToolIcon(int id) const {
    switch (id) {
    case LineTool:
        return QStringLiteral("tools/ns_linepen");
    case EraserTool:
        return QStringLiteral("tools/erase");
    case TransformTool:
        return QStringLiteral("tools/transform");
    default:
        return QString();
    }
}

void TrunkToolFilter::selectLineTool(int id) {
    if (id != LineTool && id != EraserTool && id != TransformTool) return;
    m_drawing = false;
    m_lineTool = id;
    if (id == TransformTool) {
        buildFrame();
    } else {
        m_frame->setVisible(false);
        m_transformCopy.clear();
    }
    emit linesChanged();
}

void TrunkToolFilter::setViewAttached(bool attached) {
    m_viewAttached = attached;
    // The frame follows the tool again (built now, or dropped with the view).
    if (m_lineTool == TransformTool) buildFrame();
    emit linesChanged();
}

QRectF TrunkToolFilter::frameBox(const std::vector<Segment>& lines) {
    if (lines.empty()) return QRectF();
    int left = std::numeric_limits<int>::max(), top = left;
    int right = std::numeric_limits<int>::min(), bottom = right;
    for (const Segment& s : lines)
        for (auto [x, y] : {std::pair{s.x1, s.y1}, std::pair{s.x2, s.y2}}) {
            left = std::min(left, x);
            top = std::min(top, y);
            right = std::max(right, x + 1);
            bottom = std::max(bottom, y + 1);
        }
    QRectF box(QPointF(left, top), QPointF(right, bottom));
    if (box.width() < MinFrameSide) {
        const double grow = (17.0 - box.width()) / 2.0;
        box.adjust(-grow, 0, grow, 0);
    }
    if (box.height() < MinFrameSide) {
        const double grow = (17.0 - box.height()) / 2.0;
        box.adjust(0, -grow, 0, grow);
    }
    return box;
}

std::vector<Segment> TrunkToolFilter::mapLines(const std::vector<QLineF>& lines, const QTransform& t) {
    constexpr double eps = 0.000001;
    const bool projective = std::abs(t.m13()) > eps || std::abs(t.m23()) > eps || std::abs(t.m33() - 1.0) > eps;
    auto map = [&](const QPointF& p, int& ox, int& oy) {
        double mx = t.m11() * p.x() + t.m21() * p.y() + t.m31();
        double my = t.m12() * p.x() + t.m22() * p.y() + t.m32();
        if (projective) {
            const double w = t.m13() * p.x() + t.m23() * p.y() + t.m33();
            // A point at infinity has no place on the image: it lands on the origin.
            const double inv = std::abs(w) > eps ? 1.0 / w : 0.0;
            mx *= inv;
            my *= inv;
        }
        ox = roundAway(mx);
        oy = roundAway(my);
    };
    std::vector<Segment> out;
    out.reserve(lines.size());
    for (const QLineF& l : lines) {
        Segment m{};
        map(l.p1(), m.x1, m.y1);
        map(l.p2(), m.x2, m.y2);
        if (m.x1 != m.x2 || m.y1 != m.y2) out.push_back(m);
    }
    return out;
}

void TrunkToolFilter::buildFrame() {
    const std::vector<Segment>* lines = current().segments();
    m_transformCopy.clear();
    if (!m_viewAttached || !lines || lines->empty()) {
        m_frame->clear();
        return;
    }
    const QRectF box = frameBox(*lines);
    for (const Segment& s : *lines)
        m_transformCopy.emplace_back(s.x1 - box.left(), s.y1 - box.top(), s.x2 - box.left(), s.y2 - box.top());
    m_frame->reset(box.size(), box.center());
    m_frame->setVisible(true);
}

void TrunkToolFilter::transformChanged() {
    std::vector<Segment>* lines = current().segments();
    if (!lines || m_lineTool != TransformTool || m_transformCopy.empty()) return;
    // The copy is held in reals relative to the box, so every drag maps the lines as they were
    // when the tool was selected and rounds once: repeated drags never pile up rounding errors.
    std::vector<Segment> mapped = mapLines(m_transformCopy, m_frame->transform());
    if (mapped == *lines) {
        emit linesChanged();
        return;
    }
    const std::vector<Segment> before = *lines;
    *lines = std::move(mapped);
    linesEdited(before);
}

std::vector<QLineF> TrunkToolFilter::displayLines() const {
    std::vector<QLineF> out;
    if (m_lineTool == TransformTool && m_frame->isDragging() && !m_transformCopy.empty()) {
        const QTransform t = m_frame->transform();
        for (const QLineF& l : m_transformCopy) out.push_back(t.map(l));
        return out;
    }
    if (const auto* segments = current().segments())
        for (const auto& s : *segments) out.emplace_back(s.x1, s.y1, s.x2, s.y2);
    if (m_drawing) out.emplace_back(m_start, m_end);
    return out;
}

void TrunkToolFilter::setEraserSize(int pixels) {
    m_eraserSize = std::clamp(pixels, 1, 1000);
}

void TrunkToolFilter::linesEdited(const std::vector<Segment>& before) {
    SetEvalRunning(false);
    if (document()) {
        // The step keeps the document's copy of the record as it was before this edit, so undo
        // brings the old lines back; the copy may lag behind (a first edit), hence it is renewed.
        std::vector<Segment>* lines = current().segments();
        std::vector<Segment> after = *lines;
        *lines = before;
        StoreParamsToDocument();
        *lines = std::move(after);
        document()->beginStep(QString(), 5);
        document()->commitStep(document()->layer());
    }
    StoreParamsToDocument();
    setHaveResult(false);
    emit linesChanged();
    emit paramsEdited();
    ScheduleUpdate();
}

void TrunkToolFilter::OnNewPoint(NodeInfo& node) {
    std::vector<Segment>* lines = current().segments();
    if (!lines) return;
    if (m_lineTool == TransformTool) {
        const QPointF at(node.x, node.y);
        if (node.kind == NodeInfo::Press)
            m_frame->press(at, node.modifiers);
        else if (node.kind == NodeInfo::Move)
            m_frame->move(at, node.modifiers);
        else
            m_frame->release(at, node.modifiers);
        return;
    }
    if (m_lineTool == EraserTool) {
        if (node.kind != NodeInfo::Press) return;
        const double r = m_eraserSize / 2.0;
        const std::vector<Segment> old = *lines;
        const auto before = lines->size();
        lines->erase(std::remove_if(lines->begin(), lines->end(),
                                    [&](const Segment& s) { return distanceSquared(s, node.x, node.y) <= r * r; }),
                     lines->end());
        if (lines->size() != before) linesEdited(old);
        return;
    }
    const QPointF at(node.x, node.y);
    if (node.kind == NodeInfo::Press) {
        m_drawing = true;
        m_start = m_end = at;
        emit linesChanged();
        return;
    }
    if (!m_drawing) return;
    m_end = at;
    if (node.kind == NodeInfo::Move) {
        emit linesChanged();
        return;
    }
    m_drawing = false;
    const Segment s{roundAway(m_start.x()), roundAway(m_start.y()), roundAway(m_end.x()), roundAway(m_end.y())};
    if (s.x1 == s.x2 && s.y1 == s.y2) {
        emit linesChanged();
        return;
    }
    const std::vector<Segment> old = *lines;
    lines->push_back(s);
    linesEdited(old);
}

bool TrunkToolFilter::LoadStrokes(const QString& path) {
    std::vector<Segment>* lines = current().segments();
    if (!lines || !document()) return false;
    const auto size = document()->layer()->size();
    const TrunkListContent content = readTrunkList(path, {size.width, size.height});
    if (content.status != TrunkListStatus::Ok) {
        FilterMessages::critical(applicationTitle(), trunkListMessage(content, path), m_panel);
        return false;
    }
    const std::vector<Segment> old = *lines;
    *lines = content.lines;
    // A frame in use is rebuilt around the loaded lines.
    if (m_lineTool == TransformTool) buildFrame();
    linesEdited(old);
    return true;
}

bool TrunkToolFilter::SaveStrokes(const QString& path) {
    const std::vector<Segment>* lines = current().segments();
    if (!lines || !document()) return false;
    const auto size = document()->layer()->size();
    QString error;
    if (!writeTrunkList(path, {size.width, size.height}, *lines, &error)) {
        FilterMessages::critical(applicationTitle(),
                                 QCoreApplication::translate("DocumentFilters", "Write error of file:\n %1")
                                         .arg(QFileInfo(path).fileName()) +
                                     QLatin1Char('\n') + error,
                                 m_panel);
        return false;
    }
    return true;
}

} // namespace Orvex::Document::Filters
