// The trunk effects' transform tool: the frame around the lines, the lines mapped through it, and
// the undo step of every drag.
#include "FilterTestSupport.h"

#include <gtest/gtest.h>

using namespace FilterTest;

namespace {

struct TrunkToolsFixture : ::testing::Test {
    TestSettings settings;
    CapturedMessages boxes;
    FilterDocument document{rgbaPlane(200, 120)};
    Aurora aurora;

    void SetUp() override {
        aurora.setAutoRun(false);
        aurora.setDocument(&document);
        aurora.CreateParamsWidget();
        aurora.Activate();
        aurora.setViewAttached(true);
    }
    void TearDown() override { aurora.Deactivate(); }

    void send(int kind, double x, double y) {
        NodeInfo node;
        node.kind = kind;
        node.x = x;
        node.y = y;
        aurora.OnNewPoint(node);
    }
    void line(double x1, double y1, double x2, double y2) {
        aurora.selectLineTool(TrunkToolFilter::LineTool);
        send(NodeInfo::Press, x1, y1);
        send(NodeInfo::Move, x2, y2);
        send(NodeInfo::Release, x2, y2);
    }
    void drag(QPointF from, QPointF to) {
        send(NodeInfo::Press, from.x(), from.y());
        send(NodeInfo::Move, to.x(), to.y());
        send(NodeInfo::Release, to.x(), to.y());
    }
    std::vector<Segment> lines() const { return *aurora.current().segments(); }
    // The lines in the document's copy of the record (what undo brings back).
    std::vector<Segment> storedLines() {
        auto* holder = dynamic_cast<ToolFilter::ParamsDataHolder*>(
            document.findTag(ToolFilter::TagPath, aurora.FilterKey()).get());
        return holder && holder->params && holder->params->segments() ? *holder->params->segments()
                                                                       : std::vector<Segment>();
    }
};

TEST(TrunkFrameBox, NarrowSidesAreWidenedSymmetricallyToSeventeenPixels) {
    // One point: a 1 x 1 pixel, widened by 8 on every side.
    EXPECT_EQ(TrunkToolFilter::frameBox({Segment{10, 20, 10, 20}}), QRectF(2, 12, 17, 17));
    // A horizontal line: its width as it is, the height widened.
    EXPECT_EQ(TrunkToolFilter::frameBox({Segment{0, 5, 40, 5}}), QRectF(0, -3, 41, 17));
    // A short vertical one: half pixels where the widening is odd.
    EXPECT_EQ(TrunkToolFilter::frameBox({Segment{50, 50, 50, 53}}), QRectF(42, 43.5, 17, 17));
    // Sixteen pixels and more stay.
    EXPECT_EQ(TrunkToolFilter::frameBox({Segment{0, 0, 15, 30}, Segment{-4, 9, 1, 2}}), QRectF(-4, 0, 20, 31));
    EXPECT_TRUE(TrunkToolFilter::frameBox({}).isNull());
}

TEST(TrunkMapLines, RoundsHalfAwayFromZeroAndDividesProjectiveMatrices) {
    const std::vector<QLineF> copy{QLineF(1, -1, 3, 5)};
    EXPECT_EQ(TrunkToolFilter::mapLines(copy, QTransform::fromScale(2.5, 2.5)),
              (std::vector<Segment>{{3, -3, 8, 13}})); // 2.5 -> 3, -2.5 -> -3, 7.5 -> 8, 12.5 -> 13
    // A projective term: w = 1 + x / 1000.
    const QTransform perspective(1, 0, 0.001, 0, 1, 0, 0, 0, 1);
    EXPECT_EQ(TrunkToolFilter::mapLines({QLineF(1000, 0, 0, 50)}, perspective),
              (std::vector<Segment>{{500, 0, 0, 50}}));
    // Below the threshold the matrix counts as affine (no division).
    const QTransform nearlyAffine(1, 0, 0.0000001, 0, 1, 0, 0, 0, 1);
    EXPECT_EQ(TrunkToolFilter::mapLines({QLineF(1000, 0, 0, 50)}, nearlyAffine),
              (std::vector<Segment>{{1000, 0, 0, 50}}));
    // Ends that fall together leave the segment out.
    EXPECT_TRUE(TrunkToolFilter::mapLines(copy, QTransform::fromScale(0.01, 0.01)).empty());
}

TEST_F(TrunkToolsFixture, TheToolComesThirdWithItsTextsAndIcon) {
    EXPECT_EQ(aurora.lineToolIds(), (std::vector<int>{1, 2, 6}));
    EXPECT_EQ(aurora.lineToolText(6), "Transform tool");
    EXPECT_EQ(aurora.lineToolStatusTip(6), "Transform tool status tip");
    EXPECT_EQ(aurora.lineToolIcon(6), "tools/transform");
    EXPECT_EQ(aurora.lineToolIcon(1), "tools/ns_linepen");
}

TEST_F(TrunkToolsFixture, SelectingTheToolFramesTheLines) {
    line(10, 10, 30, 10);
    line(10, 20, 30, 20);
    aurora.selectLineTool(TrunkToolFilter::TransformTool);
    const auto& frame = aurora.transformFrame();
    ASSERT_TRUE(frame.isVisible());
    // x 10 ... 31, y 10 ... 21 widened to 17: 7 ... 24.
    EXPECT_EQ(frame.box(), QSizeF(21, 17));
    EXPECT_EQ(frame.center(), QPointF(20.5, 15.5));
    EXPECT_EQ(frame.angle(), 0.0);
    EXPECT_EQ(frame.scaleX(), 1.0);
    // Another tool hides it and keeps the lines.
    aurora.selectLineTool(TrunkToolFilter::EraserTool);
    EXPECT_FALSE(frame.isVisible());
    EXPECT_EQ(lines().size(), 2u);
}

TEST_F(TrunkToolsFixture, AMoveShiftsEveryEndPointInOneUndoableStep) {
    line(10, 10, 30, 10);
    line(12, 40, 50, 70);
    const auto before = lines();
    aurora.selectLineTool(TrunkToolFilter::TransformTool);
    const int steps = document.undoCount();
    drag(QPointF(30, 40), QPointF(37, 37)); // (7, -3)
    EXPECT_EQ(document.undoCount(), steps + 1);
    const auto moved = lines();
    ASSERT_EQ(moved.size(), before.size());
    for (size_t i = 0; i < moved.size(); ++i)
        EXPECT_EQ(moved[i], (Segment{before[i].x1 + 7, before[i].y1 - 3, before[i].x2 + 7, before[i].y2 - 3}));
    EXPECT_EQ(storedLines(), moved) << "the document's copy has the new lines";
    EXPECT_TRUE(aurora.isUpdatePending()) << "a run is scheduled";
    EXPECT_TRUE(aurora.transformFrame().isVisible());

    // A second drag maps the copy again: the lines go on from where the frame is.
    drag(QPointF(37, 37), QPointF(38, 38));
    EXPECT_EQ(document.undoCount(), steps + 2);
    EXPECT_EQ(lines()[0], (Segment{before[0].x1 + 8, before[0].y1 - 2, before[0].x2 + 8, before[0].y2 - 2}));

    // Undo brings back the lines of each step in turn.
    ASSERT_TRUE(document.undo());
    ASSERT_TRUE(aurora.LoadParamsFromDocument());
    EXPECT_EQ(lines(), moved);
    ASSERT_TRUE(document.undo());
    ASSERT_TRUE(aurora.LoadParamsFromDocument());
    EXPECT_EQ(lines(), before);
    ASSERT_TRUE(document.redo());
    ASSERT_TRUE(aurora.LoadParamsFromDocument());
    EXPECT_EQ(lines(), moved);
}

TEST_F(TrunkToolsFixture, RotationAndScaleAboutTheCentreRoundHalfAwayFromZero) {
    line(10, 10, 30, 10);
    line(10, 20, 30, 20);
    aurora.selectLineTool(TrunkToolFilter::TransformTool);
    auto& frame = aurora.transformFrame();
    // Centre (20.5, 15.5): twice as far from it lands on half pixels.
    frame.setScale(2.0, 2.0);
    aurora.transformChanged();
    EXPECT_EQ(lines(), (std::vector<Segment>{{-1, 5, 40, 5}, {-1, 25, 40, 25}})); // -0.5, 4.5, 39.5, 24.5
    // A quarter turn of the original lines (the copy, not the scaled ones).
    frame.setScale(1.0, 1.0);
    frame.setAngle(90);
    aurora.transformChanged();
    EXPECT_EQ(lines(), (std::vector<Segment>{{26, 5, 26, 25}, {16, 5, 16, 25}}));
}

TEST_F(TrunkToolsFixture, DragsThatChangeNothingRecordNothing) {
    line(10, 10, 30, 10);
    aurora.selectLineTool(TrunkToolFilter::TransformTool);
    const int steps = document.undoCount();
    drag(QPointF(150, 100), QPointF(160, 110)); // far from the frame
    drag(QPointF(20, 10), QPointF(20.2, 10.1)); // a move that rounds away
    EXPECT_EQ(document.undoCount(), steps);
    EXPECT_EQ(lines(), (std::vector<Segment>{{10, 10, 30, 10}}));
}

TEST_F(TrunkToolsFixture, TheLineToolAfterATransformKeepsTheTransformedLines) {
    line(10, 10, 30, 10);
    aurora.selectLineTool(TrunkToolFilter::TransformTool);
    drag(QPointF(20, 10), QPointF(25, 30));
    const auto transformed = lines();
    EXPECT_EQ(transformed, (std::vector<Segment>{{15, 30, 35, 30}}));
    line(100, 100, 120, 110);
    EXPECT_FALSE(aurora.transformFrame().isVisible());
    EXPECT_EQ(lines(), (std::vector<Segment>{{15, 30, 35, 30}, {100, 100, 120, 110}}));
    // Back to the frame: it is built around the lines as they are now.
    aurora.selectLineTool(TrunkToolFilter::TransformTool);
    EXPECT_EQ(aurora.transformFrame().box(), QSizeF(106, 81));
}

TEST_F(TrunkToolsFixture, WithoutAViewTheToolOnlyClearsTheFrame) {
    line(10, 10, 30, 10);
    aurora.selectLineTool(TrunkToolFilter::TransformTool);
    ASSERT_TRUE(aurora.transformFrame().isVisible());
    aurora.setViewAttached(false);
    EXPECT_TRUE(aurora.transformFrame().isEmpty());
    aurora.selectLineTool(TrunkToolFilter::TransformTool);
    EXPECT_TRUE(aurora.transformFrame().isEmpty());
    EXPECT_FALSE(aurora.transformFrame().isVisible());
    const int steps = document.undoCount();
    drag(QPointF(20, 10), QPointF(40, 40));
    aurora.transformChanged();
    EXPECT_EQ(document.undoCount(), steps);
    EXPECT_EQ(lines(), (std::vector<Segment>{{10, 10, 30, 10}}));
    // No lines at all: no frame either.
    Lightning empty;
    empty.setViewAttached(true);
    empty.selectLineTool(TrunkToolFilter::TransformTool);
    EXPECT_TRUE(empty.transformFrame().isEmpty());
}

} // namespace
