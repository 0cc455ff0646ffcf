#pragma once
#include "document/framework/ToolFilter.h"

#include <QPointF>

namespace Orvex::Document::Filters {

// The base of the effects that work inside a painted selection (rain, fire, frost, clouds, ice,
// night sky). A run needs a non-empty selection. The selection starts as the host's selection
// (when it has one) so that the user's own choice in the host editor carries over.
//
// Tools (UI thread): the view hands every pointer event to OnNewPoint in image coordinates. The
// selection brush, blue pen and eraser paint through the pen job on the work thread; the bucket
// fill, the eraser's Ctrl-click (clear all) and the strokes file run on the UI thread after
// stopping a computation in flight, each as one undoable document step. Every change of the mask
// ends in maskPainted() and a scheduled run.
class MaskToolFilter : public ToolFilter {
    Q_OBJECT
public:
    enum Tool { SelectionTool = 1, EraserTool = 2, BluePenTool = 4, BucketTool = 5, TransformTool = 6 };
    // The values the tools paint: selection 255 into "mask", 1 into "duomask"; blue pen 2.
    enum PaintValue { Unselected = 0, DuoSelected = 1, DuoProtected = 2, FullySelected = 255 };

    MaskToolFilter(int effectId, uint32_t layerKind, QObject* parent = nullptr);

    // Enables "duomask" (true) or "mask" (false). Keeps the current tool when it still exists,
    // else selects the selection tool.
    void SetDuoMask(bool duo);
    bool isDuoMask() const { return isMaskEnabled(DuoMask); }

    void Activate() override;
    void RunWithMask(int mode) override;

    // Selection, blue pen (duo mask only), eraser, bucket ("mask" only), transform, then the base's.
    std::vector<int> toolIds() const override;
    QString ToolText(int id) const override;
    QString ToolStatusTip(int id) const override;
    QString ToolIcon(int id) const override;
    // The value a point of `tool` paints into the enabled mask.
    int paintValue(int tool) const;

    // Bucket (press only; Ctrl fills 0), eraser with Ctrl (clear all), else a pen point.
    void OnNewPoint(NodeInfo& node) override;

    // The strokes file (".elemor"): the enabled mask as a Base64 PNG inside an XML document.
    // Failures show a message box and return false; a failed load leaves the mask untouched.
    bool SaveStrokes(const QString& path) override;
    bool LoadStrokes(const QString& path) override;

    // After the document's undo or redo: "mask" takes the document's selection again (the duo
    // mask has no counterpart in the document and is left alone). Signals maskPainted().
    void TakeSelectionFromDocument();

private:
    void bucketFill(const NodeInfo& node);
    void clearAll();
};

// The base of the effects steered by drawn lines (aurora, lightning): a run needs a line. The line
// tool draws a segment from press to release; the eraser removes every segment within half the pen
// size of a press. Lines live in the current record, so they travel with it into the document copy
// and the last-run record.
class TrunkToolFilter : public ToolFilter {
    Q_OBJECT
public:
    enum TrunkTool { LineTool = 1, EraserTool = 2 };

    TrunkToolFilter(int effectId, uint32_t layerKind, QObject* parent = nullptr);

    // The number of drawn segments in the current record.
    int segmentCount() const;
    void RunWithMask(int mode) override;
    bool IsMaskEmpty() const override { return segmentCount() == 0; }

    // The line tools, in palette order, their texts, and the current one.
    std::vector<int> lineToolIds() const { return {LineTool, EraserTool}; }
    QString lineToolText(int id) const;
    void selectLineTool(int id);
    int currentLineTool() const { return m_lineTool; }
    int eraserSize() const { return m_eraserSize; }
    void setEraserSize(int pixels);

    // Pointer events in image coordinates.
    void OnNewPoint(NodeInfo& node) override;
    // The line being drawn, for the view: valid while isDrawingLine().
    bool isDrawingLine() const { return m_drawing; }
    QPointF lineStart() const { return m_start; }
    QPointF lineEnd() const { return m_end; }

    // The trunk list file of the lines (LoadStrokes keeps the lines on any failure).
    bool LoadStrokes(const QString& path) override;
    bool SaveStrokes(const QString& path) override;

signals:
    // The drawn lines changed (a line added or erased, a file loaded) or the one being drawn moved.
    void linesChanged();

private:
    void linesEdited();

    int m_lineTool = LineTool;
    int m_eraserSize = 40;
    bool m_drawing = false;
    QPointF m_start, m_end;
};

} // namespace Orvex::Document::Filters
