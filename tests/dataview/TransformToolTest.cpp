// The transform frame: its mapping and the drags that move, scale and rotate it.
#include "dataview/TransformTool.h"

#include <gtest/gtest.h>

using Orvex::TransformTool;

namespace {

void expectNear(const QPointF& actual, const QPointF& expected, double tolerance = 1e-9) {
    EXPECT_NEAR(actual.x(), expected.x(), tolerance) << "x";
    EXPECT_NEAR(actual.y(), expected.y(), tolerance) << "y";
}

// A 40 x 20 frame around (100, 50): box corners (80, 40) ... (120, 60).
struct Frame : ::testing::Test {
    TransformTool tool;
    int changes = 0;
    void SetUp() override {
        tool.reset(QSizeF(40, 20), QPointF(100, 50));
        tool.setVisible(true);
        QObject::connect(&tool, &TransformTool::transformChanged, [this] { ++changes; });
    }
    void drag(QPointF from, QPointF to, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        tool.press(from, modifiers);
        tool.move((from + to) / 2, modifiers);
        tool.move(to, modifiers);
        tool.release(to, modifiers);
    }
};

TEST_F(Frame, StartsAsTheIdentityOnItsBox) {
    expectNear(tool.transform().map(QPointF(0, 0)), QPointF(80, 40));
    expectNear(tool.transform().map(QPointF(40, 20)), QPointF(120, 60));
    EXPECT_TRUE(tool.transform().isAffine());
    const auto c = tool.corners();
    expectNear(c[1], QPointF(120, 40));
    expectNear(c[3], QPointF(80, 60));
}

TEST_F(Frame, DragInsideMovesByThePointerAndReportsOnceOnRelease) {
    tool.press(QPointF(95, 52), {});
    tool.move(QPointF(99, 50), {});
    EXPECT_EQ(changes, 0) << "nothing is reported while dragging";
    tool.move(QPointF(102, 49), {});
    tool.release(QPointF(102, 49), {});
    EXPECT_EQ(changes, 1);
    expectNear(tool.center(), QPointF(107, 47));
    expectNear(tool.transform().map(QPointF(0, 0)), QPointF(87, 37));
    EXPECT_FALSE(tool.isDragging());
}

TEST_F(Frame, PressesThatGrabNothingOrChangeNothingReportNothing) {
    drag(QPointF(300, 300), QPointF(320, 320)); // far outside
    drag(QPointF(95, 52), QPointF(95, 52));     // a click inside
    EXPECT_EQ(changes, 0);
    expectNear(tool.center(), QPointF(100, 50));
    tool.setVisible(false); // a hidden frame grabs nothing
    drag(QPointF(95, 52), QPointF(120, 80));
    EXPECT_EQ(changes, 0);
    tool.clear();
    EXPECT_TRUE(tool.isEmpty());
    EXPECT_EQ(tool.hitTest(QPointF(100, 50)), TransformTool::Grab::None);
}

TEST_F(Frame, CornerAndEdgeHandlesScaleAgainstTheOppositeSide) {
    // The bottom-right corner pulled out by the box size doubles it; the top-left stays.
    drag(QPointF(120, 60), QPointF(160, 80));
    EXPECT_EQ(changes, 1);
    EXPECT_DOUBLE_EQ(tool.scaleX(), 2.0);
    EXPECT_DOUBLE_EQ(tool.scaleY(), 2.0);
    expectNear(tool.transform().map(QPointF(0, 0)), QPointF(80, 40));
    expectNear(tool.transform().map(QPointF(40, 20)), QPointF(160, 80));

    // The left edge moves only the width; the right edge stays.
    tool.reset(QSizeF(40, 20), QPointF(100, 50));
    drag(QPointF(80, 50), QPointF(100, 57));
    EXPECT_DOUBLE_EQ(tool.scaleX(), 0.5);
    EXPECT_DOUBLE_EQ(tool.scaleY(), 1.0);
    expectNear(tool.corners()[1], QPointF(120, 40));
    expectNear(tool.corners()[0], QPointF(100, 40));

    // Dragged past the opposite side, the frame keeps one pixel instead of folding over.
    tool.reset(QSizeF(40, 20), QPointF(100, 50));
    drag(QPointF(120, 60), QPointF(20, 0));
    EXPECT_NEAR(tool.scaleX() * 40, 1.0, 1e-9);
    EXPECT_NEAR(tool.scaleY() * 20, 1.0, 1e-9);
}

TEST_F(Frame, ShiftKeepsTheAspect) {
    drag(QPointF(120, 60), QPointF(200, 70), Qt::ShiftModifier);
    EXPECT_DOUBLE_EQ(tool.scaleX(), tool.scaleY());
    EXPECT_GT(tool.scaleX(), 1.0);
    expectNear(tool.transform().map(QPointF(0, 0)), QPointF(80, 40));
    // An edge with Shift scales both axes by the dragged one's factor.
    tool.reset(QSizeF(40, 20), QPointF(100, 50));
    drag(QPointF(100, 60), QPointF(100, 80), Qt::ShiftModifier);
    EXPECT_DOUBLE_EQ(tool.scaleY(), 2.0);
    EXPECT_DOUBLE_EQ(tool.scaleX(), 2.0);
    expectNear(tool.corners()[0], QPointF(60, 40)); // the top edge stays, centred across
}

TEST_F(Frame, DraggingJustOutsideRotatesAboutTheCentre) {
    // From right of the frame to below its centre: a quarter turn clockwise on the screen.
    drag(QPointF(130, 50), QPointF(100, 90));
    EXPECT_EQ(changes, 1);
    EXPECT_NEAR(tool.angle(), 90.0, 1e-9);
    expectNear(tool.center(), QPointF(100, 50));
    expectNear(tool.transform().map(QPointF(0, 0)), QPointF(110, 30), 1e-9);
    // Shift snaps to whole steps.
    tool.reset(QSizeF(40, 20), QPointF(100, 50));
    drag(QPointF(130, 50), QPointF(130, 58), Qt::ShiftModifier); // about 15 degrees
    EXPECT_NEAR(tool.angle(), 15.0, 1e-9);
}

TEST_F(Frame, HitDistancesAreViewPixels) {
    // 5 image pixels beyond the corner: a handle at 100 %, too far at 400 % (20 view pixels) but
    // still close enough to rotate.
    const QPointF nearCorner(125, 60);
    tool.setViewScale(1.0);
    EXPECT_EQ(tool.hitTest(nearCorner), TransformTool::Grab::Scale);
    tool.setViewScale(4.0);
    EXPECT_EQ(tool.hitTest(nearCorner), TransformTool::Grab::Rotate);
    tool.setViewScale(10.0);
    EXPECT_EQ(tool.hitTest(nearCorner), TransformTool::Grab::None);
    EXPECT_EQ(tool.hitTest(QPointF(100, 50)), TransformTool::Grab::Move);
}

} // namespace
