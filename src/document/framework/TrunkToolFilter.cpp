// The trunk effects' line tools and their trunk list files.
#include "document/filters/TrunkListFile.h"
#include "document/framework/FilterMessages.h"
#include "document/framework/MaskToolFilter.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>

#include <algorithm>
#include <cmath>

namespace Orvex::Document::Filters {

namespace {

QString applicationTitle() {
    return FilterMessages::applicationTitle();
}

int roundAway(double v) {
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

QString TrunkToolFilter::lineToolText(int id) const {
    switch (id) {
    case LineTool:
        return QCoreApplication::translate("DocumentFilters", "Draw lines");
    case EraserTool:
        return QCoreApplication::translate("DocumentFilters", "Erase lines");
    default:
        return QString();
    }
}

void TrunkToolFilter::selectLineTool(int id) {
    if (id == LineTool || id == EraserTool) m_lineTool = id;
}

void TrunkToolFilter::setEraserSize(int pixels) {
    m_eraserSize = std::clamp(pixels, 1, 1000);
}

void TrunkToolFilter::linesEdited() {
    SetEvalRunning(false);
    if (document()) {
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
    if (m_lineTool == EraserTool) {
        if (node.kind != NodeInfo::Press) return;
        const double r = m_eraserSize / 2.0;
        const auto before = lines->size();
        lines->erase(std::remove_if(lines->begin(), lines->end(),
                                    [&](const Segment& s) { return distanceSquared(s, node.x, node.y) <= r * r; }),
                     lines->end());
        if (lines->size() != before) linesEdited();
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
    // Lines are kept in the record's range: the image and a frame of its size around it.
    auto clampCoordinate = [](double v) { return std::clamp(v, -1.0e6, 1.0e6); };
    const Segment s{roundAway(clampCoordinate(m_start.x())), roundAway(clampCoordinate(m_start.y())),
                    roundAway(clampCoordinate(m_end.x())), roundAway(clampCoordinate(m_end.y()))};
    if (s.x1 == s.x2 && s.y1 == s.y2) {
        emit linesChanged();
        return;
    }
    lines->push_back(s);
    linesEdited();
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
    *lines = content.lines;
    linesEdited();
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
