#pragma once
#include "dataview/TransformTool.h"
#include "document/framework/ToolFilter.h"

#include <QLineF>
#include <QPointF>
#include <QRectF>

namespace Orvex::Document::Filters {

// The base of the effects that work inside a painted selection (rain, fire, frost, clouds, ice,
// night sky). A run needs a non-empty selection. The selection starts as the host's selection
// (when it has one) so that the user's own choice in the host editor carries over.
//
// Tools (UI thread): the view hands every pointer event to OnNewPoint in image coordinates. The
// selection brush, blue pen and eraser paint through the pen job on the work thread; the bucket
// fill, the eraser's Ctrl-click (clear all) and the strokes file run on the UI thread after
// stopping a computation in flight, each as one undoable document step. The transform tool puts a
// frame around the painted area; each drag of it resamples the mask (as it was when the tool was
// selected) through the frame, also one step. Every change of the mask ends in maskPainted() and a
// scheduled run.
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
    // Selecting the transform tool places the frame around the painted mask (with a view
    // attached); another tool hides it.
    bool SelectTool(int id) override;

    // Whether an image window shows this effect; without one the transform tool has no frame.
    void setViewAttached(bool attached);
    bool isViewAttached() const { return m_viewAttached; }
    Orvex::TransformTool& transformFrame() { return *m_frame; }
    const Orvex::TransformTool& transformFrame() const { return *m_frame; }
    // `source` carried through `transform` (coordinates relative to `box`'s top-left corner to image
    // coordinates) onto a new channel of the same size, bilinear (nearest for labels); what lies
    // outside the box in `source`, and what the frame does not cover, becomes 0. On the jobs pool.
    static Ref<DataStorage::DataChannel> transformMask(const DataStorage::DataChannel& source, const QRectF& box,
                                                       const QTransform& transform, bool nearest);

    // Bucket (press only; Ctrl fills 0), eraser with Ctrl (clear all), else a pen point.
    void OnNewPoint(NodeInfo& node) override;

    // The strokes file (".elemor"): the enabled mask as a Base64 PNG inside an XML document.
    // Failures show a message box and return false; a failed load leaves the mask untouched.
    bool SaveStrokes(const QString& path) override;
    bool LoadStrokes(const QString& path) override;

    // After the document's undo or redo: "mask" takes the document's selection again (the duo
    // mask has no counterpart in the document and is left alone). Signals maskPainted().
    void TakeSelectionFromDocument();

public slots:
    // The frame's drag ended: the mask is resampled from the copy taken when the tool was selected.
    void transformChanged();

private:
    void bucketFill(const NodeInfo& node);
    void clearAll();
    void buildFrame();

    bool m_viewAttached = false;
    Orvex::TransformTool* m_frame; // owned as a child
    // The mask when the transform tool was selected, and the frame's box around it.
    Ref<DataStorage::DataChannel> m_transformCopy;
    QRectF m_copyBox;
};

// The base of the effects steered by drawn lines (aurora, lightning): a run needs a line. The line
// tool draws a segment from press to release; the eraser removes every segment within half the pen
// size of a press; the transform tool moves, scales and rotates all lines together through a frame
// around them. Lines live in the current record, so they travel with it into the document copy
// and the last-run record; every edit is one undoable step.
class TrunkToolFilter : public ToolFilter {
    Q_OBJECT
public:
    enum TrunkTool { LineTool = 1, EraserTool = 2, TransformTool = 6 };
    // Below this many pixels the frame's box is widened, so a single point or a straight line
    // still gets a frame that can be grabbed and scaled.
    static constexpr int MinFrameSide = 16;

    TrunkToolFilter(int effectId, uint32_t layerKind, QObject* parent = nullptr);

    // The number of drawn segments in the current record.
    int segmentCount() const;
    void RunWithMask(int mode) override;
    bool IsMaskEmpty() const override { return segmentCount() == 0; }

    // The line tools, in palette order, their texts, icons, and the current one.
    std::vector<int> lineToolIds() const { return {LineTool, EraserTool, TransformTool}; }
    QString lineToolText(int id) const;
    QString lineToolStatusTip(int id) const;
    QString lineToolIcon(int id) const;
    // Selecting the transform tool places the frame around the lines (with a view attached);
    // selecting another tool hides it.
    void selectLineTool(int id);
    int currentLineTool() const { return m_lineTool; }
    int eraserSize() const { return m_eraserSize; }
    void setEraserSize(int pixels);

    // Whether an image window shows this effect; without one the transform tool has no frame.
    void setViewAttached(bool attached);
    bool isViewAttached() const { return m_viewAttached; }
    // The frame of the transform tool (empty unless that tool is current with a view attached).
    Orvex::TransformTool& transformFrame() { return *m_frame; }
    const Orvex::TransformTool& transformFrame() const { return *m_frame; }
    // The box the frame is built on for `lines`: their end points' bounds (each a 1 x 1 pixel),
    // widened symmetrically to at least 17 pixels along a side narrower than MinFrameSide.
    static QRectF frameBox(const std::vector<Segment>& lines);
    // `lines` mapped through `transform`: projective when the matrix is, rounded half away from
    // zero; segments whose ends fall together are left out.
    static std::vector<Segment> mapLines(const std::vector<QLineF>& lines, const QTransform& transform);

    // Pointer events in image coordinates.
    void OnNewPoint(NodeInfo& node) override;
    // The line being drawn, for the view: valid while isDrawingLine().
    bool isDrawingLine() const { return m_drawing; }
    QPointF lineStart() const { return m_start; }
    QPointF lineEnd() const { return m_end; }
    // The lines as the view shows them: while the frame is dragged, where the drag takes them.
    std::vector<QLineF> displayLines() const;

    // The trunk list file of the lines (LoadStrokes keeps the lines on any failure).
    bool LoadStrokes(const QString& path) override;
    bool SaveStrokes(const QString& path) override;

signals:
    // The drawn lines changed (a line added or erased, a file loaded, a transform) or the one being
    // drawn, or the transform frame, moved.
    void linesChanged();

public slots:
    // The frame's drag ended: the lines are rebuilt from the copy taken when the tool was selected.
    void transformChanged();

private:
    // Ends an edit of the lines: `before` is the list as it was, kept by the undo step.
    void linesEdited(const std::vector<Segment>& before);
    void buildFrame();

    int m_lineTool = LineTool;
    int m_eraserSize = 40;
    bool m_drawing = false;
    QPointF m_start, m_end;
    bool m_viewAttached = false;
    Orvex::TransformTool* m_frame; // owned as a child
    // The lines when the transform tool was selected, relative to the frame box's top-left corner.
    std::vector<QLineF> m_transformCopy;
};

} // namespace Orvex::Document::Filters
