// The mask tools: the brush stamp, strokes painted through the pen job, the bucket fill, the
// eraser's clear-all, the tool palette and undo of mask edits.
#include "FilterTestSupport.h"

#include "document/filters/RenderSupport.h"
#include "document/framework/MaskStroke.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace FilterTest;
using ::Orvex::Detail::RectI;

namespace {

std::vector<uint8_t> bytesOf(const DataStorage::DataChannel& channel) {
    return maskBytes(&channel, channel.bounds());
}

std::vector<uint8_t> maskOf(const ToolFilter& filter, ToolFilter::MaskKind kind = ToolFilter::Mask) {
    return bytesOf(*filter.maskPlane(kind)->channel(DataStorage::ChannelMask));
}

uint8_t at(const std::vector<uint8_t>& bytes, int width, int x, int y) {
    return bytes[size_t(y) * width + x];
}

// ---- the stamp on its own --------------------------------------------------------------------

TEST(MaskStroke, DabIsRoundSoftEdgedAndCentredOnThePoint) {
    auto channel = maskChannel(64, 64, 0);
    MaskStroke stroke(channel, 255, 10, false);
    stroke.stamp(32, 32);
    const auto bytes = bytesOf(*channel);
    EXPECT_EQ(at(bytes, 64, 32, 32), 255);
    EXPECT_EQ(at(bytes, 64, 32 + 7, 32), 255); // the solid core reaches radius - 1
    EXPECT_EQ(at(bytes, 64, 32 + 12, 32), 0);  // beyond the fall-off band
    // The edge is partial and falls off outwards, the same in every direction.
    const int edge = at(bytes, 64, 32 + 9, 32);
    EXPECT_GT(edge, 0);
    EXPECT_LT(edge, 255);
    EXPECT_GE(at(bytes, 64, 32 + 8, 32), edge);
    EXPECT_EQ(at(bytes, 64, 32 - 10, 32), at(bytes, 64, 32 + 9, 32));
    EXPECT_EQ(at(bytes, 64, 32, 32 - 10), at(bytes, 64, 32 + 9, 32));
    // The covered area is close to the circle of the radius (the 50 % contour).
    double sum = 0;
    for (uint8_t b : bytes) sum += b / 255.0;
    EXPECT_NEAR(sum, M_PI * 100, 0.03 * M_PI * 100);
    const RectI dirty = stroke.takeDirty();
    EXPECT_TRUE(dirty.contains(RectI{21, 21, 43, 43}));
    EXPECT_TRUE(stroke.takeDirty().isEmpty());
}

TEST(MaskStroke, OnePixelPenSetsItsPixelFully) {
    auto channel = maskChannel(8, 8, 0);
    MaskStroke stroke(channel, 255, 0.5, false);
    stroke.stamp(3.5, 4.5);
    const auto bytes = bytesOf(*channel);
    EXPECT_EQ(at(bytes, 8, 3, 4), 255);
    int set = 0;
    for (uint8_t b : bytes) set += b != 0;
    EXPECT_EQ(set, 1);
}

TEST(MaskStroke, SegmentsLeaveNoGapsAndDoNotDependOnHowThePathIsCut) {
    auto whole = maskChannel(200, 60, 0);
    MaskStroke one(whole, 255, 2, false);
    one.stamp(5, 30.5);
    one.stampSegment(5, 30.5, 190, 30.5);
    one.stamp(190, 30.5);
    const auto wholeBytes = bytesOf(*whole);
    for (int x = 5; x < 190; ++x) ASSERT_EQ(at(wholeBytes, 200, x, 30), 255) << "gap at x = " << x;

    // The same path in many short pieces: coverage is a maximum, so no build-up at the joints.
    auto pieces = maskChannel(200, 60, 0);
    MaskStroke many(pieces, 255, 2, false);
    many.stamp(5, 30.5);
    double x = 5;
    for (double step : {0.3, 7.0, 0.01, 13.5, 40.0, 2.2, 60.0, 0.7, 61.29}) {
        many.stampSegment(x, 30.5, x + step, 30.5);
        x += step;
    }
    ASSERT_NEAR(x, 190, 1e-9);
    many.stamp(190, 30.5);
    const auto pieceBytes = bytesOf(*pieces);
    int differing = 0;
    for (size_t i = 0; i < wholeBytes.size(); ++i) differing += std::abs(wholeBytes[i] - pieceBytes[i]) > 1;
    EXPECT_EQ(differing, 0);
}

TEST(MaskStroke, EraserBlendsTowardsZeroFromTheMaskAtTheStrokeStart) {
    auto channel = maskChannel(64, 64, 200);
    MaskStroke stroke(channel, 0, 8, false);
    stroke.stamp(32, 32);
    stroke.stamp(32.2, 32); // overlapping dabs do not erase the edge twice
    const auto bytes = bytesOf(*channel);
    EXPECT_EQ(at(bytes, 64, 32, 32), 0);
    EXPECT_EQ(at(bytes, 64, 2, 2), 200);
    const int edge = at(bytes, 64, 40, 32);
    EXPECT_GT(edge, 0);
    EXPECT_LT(edge, 200);
}

TEST(MaskStroke, HardLabelsAreNeverBlended) {
    auto channel = maskChannel(64, 64, 1);
    MaskStroke stroke(channel, 2, 6.5, true);
    stroke.stamp(20, 20);
    stroke.stampSegment(20, 20, 45, 40);
    for (uint8_t b : bytesOf(*channel)) ASSERT_TRUE(b == 1 || b == 2) << int(b);
    EXPECT_EQ(channel->value<uint8_t>(30, 28), 2);
}

TEST(MaskStroke, PointsAtAndFarBeyondTheEdgeAreClipped) {
    auto channel = maskChannel(70, 50, 0);
    MaskStroke stroke(channel, 255, 20, false);
    stroke.stamp(0, 0);
    stroke.stamp(70, 50);
    EXPECT_EQ(channel->value<uint8_t>(0, 0), 255);
    EXPECT_EQ(channel->value<uint8_t>(69, 49), 255);
    // Entirely outside: nothing painted, nothing reported.
    auto untouched = maskChannel(70, 50, 0);
    MaskStroke outside(untouched, 255, 5, false);
    outside.stamp(-100, 20);
    outside.stampSegment(-100, 20, -100, 4000);
    outside.stamp(1e300, -1e300);
    outside.stamp(std::nan(""), 3);
    EXPECT_TRUE(outside.takeDirty().isEmpty());
    for (uint8_t b : bytesOf(*untouched)) ASSERT_EQ(b, 0);
    // A segment thrown far away paints only its part near the image, at once.
    stroke.stampSegment(35, 25, 1e12, 25);
    EXPECT_EQ(channel->value<uint8_t>(69, 25), 255);
    EXPECT_TRUE(channel->bounds().contains(stroke.takeDirty()));
}

// ---- the tools of an effect ----------------------------------------------------------------

struct MaskToolsFixture : ::testing::Test {
    TestSettings settings;
    CapturedMessages boxes;
    FilterDocument document{rgbaPlane(96, 80)};
    ScriptedRain rain;
    int strokesFinished = 0; // maskPainted with a null rectangle: the whole mask may have changed
    int batchesPainted = 0;

    void SetUp() override {
        rain.body = [](ScriptedRain&, const DataStorage::PixelPlane&, DataStorage::PixelPlane&) {
            return RunOutcome::Done;
        };
        QObject::connect(&rain, &ToolFilter::maskPainted,
                         [this](const QRect& r) { r.isNull() ? ++strokesFinished : ++batchesPainted; });
        rain.setDocument(&document);
        rain.CreateParamsWidget();
        rain.Activate();
    }
    void TearDown() override { rain.Deactivate(); }

    static void send(ToolFilter& filter, int kind, double x, double y,
                     Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        NodeInfo node;
        node.kind = kind;
        node.x = x;
        node.y = y;
        node.modifiers = modifiers;
        filter.OnNewPoint(node);
    }
    bool settled() { return !rain.isUpdatePending() && (rain.jobFlags() & ToolFilter::CommitResult) == 0; }
};

// A recorded stroke: press, moves (one of them far outside the image), release.
const double RecordedStroke[][2] = {{10, 10}, {30.5, 14.25}, {55, 40}, {500, 40}, {80, 70}, {90.75, 75}};

void playRecorded(MaskToolsFixture& f, ToolFilter& filter) {
    const int count = int(std::size(RecordedStroke));
    for (int i = 0; i < count; ++i) {
        const int kind = i == 0 ? NodeInfo::Press : i == count - 1 ? NodeInfo::Release : NodeInfo::Move;
        f.send(filter, kind, RecordedStroke[i][0], RecordedStroke[i][1]);
    }
}

TEST_F(MaskToolsFixture, RecordedStrokeGivesTheStampedBytesAndReplaysIdentically) {
    rain.setPenSize(9);
    const int stepsBefore = document.undoCount();
    const int revisionBefore = rain.current().maskRevision();
    playRecorded(*this, rain);
    ASSERT_TRUE(waitFor([&] { return strokesFinished == 1; }));
    EXPECT_GE(batchesPainted, 1);
    EXPECT_FALSE(rain.isStrokeInProgress());

    // The same points stamped directly.
    auto expected = maskChannel(96, 80, 0);
    MaskStroke stroke(expected, 255, 4.5, false);
    stroke.stamp(RecordedStroke[0][0], RecordedStroke[0][1]);
    for (size_t i = 1; i < std::size(RecordedStroke); ++i)
        stroke.stampSegment(RecordedStroke[i - 1][0], RecordedStroke[i - 1][1], RecordedStroke[i][0],
                            RecordedStroke[i][1]);
    stroke.stamp(RecordedStroke[5][0], RecordedStroke[5][1]);
    const auto painted = maskOf(rain);
    EXPECT_EQ(painted, bytesOf(*expected));
    EXPECT_EQ(at(painted, 96, 10, 10), 255);
    EXPECT_EQ(at(painted, 96, 95, 40), 255); // towards the far point, clipped at the edge
    EXPECT_EQ(at(painted, 96, 5, 70), 0);

    // The change reaches the effect: one undoable step, the selection, a new cache key and a run.
    EXPECT_EQ(document.undoCount(), stepsBefore + 1);
    ASSERT_TRUE(document.selection());
    EXPECT_EQ(bytesOf(*document.selection()), painted);
    EXPECT_GT(rain.current().maskRevision(), revisionBefore);
    ASSERT_TRUE(waitFor([&] { return rain.processCalls.load() >= 1 && settled(); }));

    // A second effect replaying the recording paints the same bytes.
    FilterDocument otherDocument{rgbaPlane(96, 80)};
    ScriptedRain other;
    other.body = rain.body;
    int otherFinished = 0;
    QObject::connect(&other, &ToolFilter::maskPainted, [&](const QRect& r) { otherFinished += r.isNull(); });
    other.setDocument(&otherDocument);
    other.Activate();
    other.setPenSize(9);
    playRecorded(*this, other);
    ASSERT_TRUE(waitFor([&] { return otherFinished == 1; }));
    EXPECT_EQ(maskOf(other), painted);
    ASSERT_TRUE(
        waitFor([&] { return !other.isUpdatePending() && !(other.jobFlags() & ToolFilter::CommitResult); }));
    other.Deactivate();
}

TEST_F(MaskToolsFixture, StrokeEntirelyOutsideChangesNothingAndNeverCrashes) {
    rain.setPenSize(20);
    send(rain, NodeInfo::Press, -500, -500);
    send(rain, NodeInfo::Move, -500, 5000);
    send(rain, NodeInfo::Move, 1e15, -1e15);
    send(rain, NodeInfo::Move, std::nan(""), 10);
    send(rain, NodeInfo::Release, -40, 5000);
    ASSERT_TRUE(waitFor([&] { return strokesFinished == 1; }));
    for (uint8_t b : maskOf(rain)) ASSERT_EQ(b, 0);
    EXPECT_TRUE(rain.IsMaskEmpty());
}

TEST_F(MaskToolsFixture, EraserAndTheToolOfAnOpenStroke) {
    rain.setMaskChannel(ToolFilter::Mask, maskChannel(96, 80, 255));
    ASSERT_TRUE(rain.SelectTool(MaskToolFilter::EraserTool));
    rain.setPenSize(10);
    send(rain, NodeInfo::Press, 48, 40);
    // Switching tools mid-stroke does not leave the stroke open.
    ASSERT_TRUE(rain.SelectTool(MaskToolFilter::TransformTool));
    send(rain, NodeInfo::Move, 60, 40);
    send(rain, NodeInfo::Release, 60, 40);
    ASSERT_TRUE(waitFor([&] { return strokesFinished == 1; }));
    EXPECT_FALSE(rain.isStrokeInProgress());
    const auto bytes = maskOf(rain);
    EXPECT_EQ(at(bytes, 96, 54, 40), 0);
    EXPECT_EQ(at(bytes, 96, 5, 5), 255);
    // The transform tool paints nothing.
    send(rain, NodeInfo::Press, 10, 10);
    send(rain, NodeInfo::Release, 20, 10);
    QThread::msleep(50);
    QCoreApplication::processEvents();
    EXPECT_EQ(maskOf(rain), bytes);
}

TEST_F(MaskToolsFixture, ControlClickWithTheEraserClearsAllInOneUndoableStep) {
    rain.setPenSize(20);
    send(rain, NodeInfo::Press, 25, 20);
    send(rain, NodeInfo::Release, 25, 20);
    ASSERT_TRUE(waitFor([&] { return strokesFinished == 1; }));
    ASSERT_TRUE(waitFor([&] { return settled(); }));
    strokesFinished = 0;
    const int calls = rain.processCalls;
    const int stepsBefore = document.undoCount();
    rain.SelectTool(MaskToolFilter::EraserTool);
    send(rain, NodeInfo::Press, 5, 5, Qt::ControlModifier);
    send(rain, NodeInfo::Move, 6, 5, Qt::ControlModifier);
    send(rain, NodeInfo::Release, 7, 5, Qt::ControlModifier);
    EXPECT_TRUE(rain.IsMaskEmpty());
    EXPECT_EQ(document.undoCount(), stepsBefore + 1);
    EXPECT_EQ(strokesFinished, 1);
    EXPECT_TRUE(rain.isUpdatePending()); // a run is scheduled
    EXPECT_FALSE(rain.haveResult());

    // Undo (before the scheduled run commits a step of its own) brings the selection back; the
    // effect takes it up again.
    ASSERT_TRUE(document.undo());
    rain.TakeSelectionFromDocument();
    EXPECT_EQ(at(maskOf(rain), 96, 25, 20), 255);
    ASSERT_TRUE(waitFor([&] { return rain.processCalls.load() > calls && settled(); }));

    // Clearing an empty mask does nothing at all.
    rain.setMaskChannel(ToolFilter::Mask, maskChannel(96, 80, 0));
    const int stepsEmpty = document.undoCount();
    strokesFinished = 0;
    send(rain, NodeInfo::Press, 5, 5, Qt::ControlModifier);
    EXPECT_EQ(document.undoCount(), stepsEmpty);
    EXPECT_EQ(strokesFinished, 0);
}

TEST_F(MaskToolsFixture, ClearStateEmptiesMaskAndSelectionUndoably) {
    rain.setPenSize(30);
    send(rain, NodeInfo::Press, 40, 40);
    send(rain, NodeInfo::Release, 50, 40);
    ASSERT_TRUE(waitFor([&] { return strokesFinished == 1 && settled(); }));
    rain.ClearState(true);
    EXPECT_EQ(strokesFinished, 2);
    EXPECT_TRUE(rain.IsMaskEmpty());
    EXPECT_TRUE(maskBounds(document.selection().get()).isEmpty());
    ASSERT_TRUE(document.undo());
    EXPECT_EQ(document.selection()->value<uint8_t>(45, 40), 255);
    ASSERT_TRUE(waitFor([&] { return settled(); }));
}

TEST_F(MaskToolsFixture, BucketFillSpreadsWithinTheToleranceOfTheSeed) {
    // Three vertical bands: 0 | 100 | 200, and a 0 island inside the 200 band.
    auto channel = maskChannel(96, 80, 0);
    channel->fill(RectI{32, 0, 64, 80}, "\x64");
    channel->fill(RectI{64, 0, 96, 80}, "\xc8");
    channel->fill(RectI{80, 30, 90, 40}, "\x00");
    rain.setMaskChannel(ToolFilter::Mask, channel);
    ASSERT_TRUE(waitFor([&] { return settled(); }));
    ASSERT_TRUE(rain.SelectTool(MaskToolFilter::BucketTool));
    const int stepsBefore = document.undoCount();

    send(rain, NodeInfo::Press, 3.9, 7.2);
    auto bytes = maskOf(rain);
    EXPECT_EQ(at(bytes, 96, 0, 0), 255);
    EXPECT_EQ(at(bytes, 96, 50, 50), 255); // 100 is within 127 of the seed's 0
    EXPECT_EQ(at(bytes, 96, 70, 50), 200); // 200 is not
    EXPECT_EQ(at(bytes, 96, 85, 35), 0);   // not connected
    EXPECT_EQ(document.undoCount(), stepsBefore + 1);
    EXPECT_TRUE(rain.isUpdatePending());

    // On the fill value already, outside the image, or a move: nothing.
    send(rain, NodeInfo::Press, 10, 10);
    send(rain, NodeInfo::Press, -1, 10);
    send(rain, NodeInfo::Press, 96, 10);
    send(rain, NodeInfo::Move, 85, 35);
    EXPECT_EQ(document.undoCount(), stepsBefore + 1);
    EXPECT_EQ(maskOf(rain), bytes);

    // Ctrl fills with 0 from a 255 seed: 200 is within the tolerance of 255, the island is not.
    send(rain, NodeInfo::Press, 40, 40, Qt::ControlModifier);
    bytes = maskOf(rain);
    EXPECT_EQ(at(bytes, 96, 0, 0), 0);
    EXPECT_EQ(at(bytes, 96, 70, 50), 0);
    EXPECT_EQ(at(bytes, 96, 85, 35), 0);
    EXPECT_TRUE(rain.IsMaskEmpty());
    EXPECT_EQ(document.undoCount(), stepsBefore + 2);
}

TEST_F(MaskToolsFixture, PaletteAndPenSize) {
    EXPECT_EQ(rain.toolIds(), (std::vector<int>{1, 2, 5, 6, 9, 11, 12}));
    EXPECT_EQ(rain.currentTool(), MaskToolFilter::SelectionTool);
    EXPECT_EQ(rain.ToolText(1), "Selection tool");
    EXPECT_EQ(rain.ToolIcon(5), "tools/paint_bucket");
    EXPECT_EQ(rain.ToolText(12), "Zoom Tool");
    EXPECT_EQ(rain.ToolIcon(9), "tools/history_brush");
    EXPECT_TRUE(rain.ToolText(3).isEmpty());
    EXPECT_TRUE(rain.ToolIcon(99).isEmpty());
    EXPECT_FALSE(rain.SelectTool(MaskToolFilter::BluePenTool)); // duo mask only
    EXPECT_EQ(rain.currentTool(), MaskToolFilter::SelectionTool);
    EXPECT_EQ(rain.paintValue(MaskToolFilter::SelectionTool), 255);
    EXPECT_EQ(rain.paintValue(MaskToolFilter::EraserTool), 0);

    NightSky sky;
    EXPECT_EQ(sky.toolIds(), (std::vector<int>{1, 4, 2, 6, 9, 11, 12}));
    EXPECT_EQ(sky.ToolIcon(4), "tools/pencil_blue");
    EXPECT_EQ(sky.paintValue(MaskToolFilter::SelectionTool), 1);
    EXPECT_EQ(sky.paintValue(MaskToolFilter::BluePenTool), 2);
    EXPECT_FALSE(sky.SelectTool(MaskToolFilter::BucketTool));

    rain.setPenSize(0);
    EXPECT_EQ(rain.penSize(), ToolFilter::MinPenSize);
    rain.setPenSize(5000);
    EXPECT_EQ(rain.penSize(), ToolFilter::MaxPenSize);
}

TEST(MaskToolsDuo, BluePenAndSelectionPaintLabels) {
    TestSettings settings;
    CapturedMessages boxes;
    FilterDocument document{rgbaPlane(64, 48)};
    NightSky sky;
    int finished = 0;
    QObject::connect(&sky, &ToolFilter::maskPainted, [&](const QRect& r) { finished += r.isNull(); });
    sky.setDocument(&document);
    sky.Activate();
    sky.setAutoRun(false);
    sky.setPenSize(11);
    auto stroke = [&](int tool, double y) {
        ASSERT_TRUE(sky.SelectTool(tool));
        for (int kind : {NodeInfo::Press, NodeInfo::Move, NodeInfo::Release}) {
            NodeInfo node;
            node.kind = kind;
            node.x = kind == NodeInfo::Press ? 5 : 58;
            node.y = y;
            sky.OnNewPoint(node);
        }
    };
    stroke(MaskToolFilter::SelectionTool, 15);
    stroke(MaskToolFilter::BluePenTool, 20);
    ASSERT_TRUE(waitFor([&] { return finished == 2; }));
    const auto bytes = maskOf(sky, ToolFilter::DuoMask);
    for (uint8_t b : bytes) ASSERT_LE(b, 2);
    EXPECT_EQ(at(bytes, 64, 30, 11), 1);
    EXPECT_EQ(at(bytes, 64, 30, 20), 2);
    EXPECT_EQ(at(bytes, 64, 30, 40), 0);
    sky.Deactivate();
}

} // namespace

// ---- the transform tool ------------------------------------------------------------------------

TEST(MaskTransform, ResamplesThroughTheFrameAndClearsWhatItLeaves) {
    // A 20 x 10 block at (20, 10) on a 96 x 80 mask, and a stray pixel outside the frame's box.
    auto mask = maskChannel(96, 80, 0);
    std::vector<uint8_t> block(200, 255);
    DataStorage::setData(*mask, RectI{20, 10, 40, 20}, block.data(), 0);
    const uint8_t stray = 255;
    DataStorage::setData(*mask, RectI{90, 70, 91, 71}, &stray, 0);
    const QRectF box(20, 10, 20, 10);
    // The identity keeps the block bit for bit and drops what lay outside the box.
    auto same = MaskToolFilter::transformMask(*mask, box, QTransform::fromTranslate(20, 10), false);
    auto expected = maskChannel(96, 80, 0);
    DataStorage::setData(*expected, RectI{20, 10, 40, 20}, block.data(), 0);
    EXPECT_EQ(bytesOf(*same), bytesOf(*expected));
    // Moved by whole pixels: exactly the block, elsewhere.
    auto moved = MaskToolFilter::transformMask(*mask, box, QTransform::fromTranslate(33, 50), false);
    auto movedExpected = maskChannel(96, 80, 0);
    DataStorage::setData(*movedExpected, RectI{33, 50, 53, 60}, block.data(), 0);
    EXPECT_EQ(bytesOf(*moved), bytesOf(*movedExpected));
    // Doubled about (30, 15): full inside, soft only along the new edge, nothing outside it.
    QTransform twice;
    twice.translate(30, 15).scale(2, 2).translate(-10, -5);
    const auto big = bytesOf(*MaskToolFilter::transformMask(*mask, box, twice, false));
    EXPECT_EQ(at(big, 96, 30, 15), 255);
    EXPECT_EQ(at(big, 96, 11, 6), 255);
    EXPECT_EQ(at(big, 96, 48, 23), 255);
    EXPECT_EQ(at(big, 96, 9, 15), 0);
    EXPECT_EQ(at(big, 96, 51, 15), 0);
    EXPECT_EQ(at(big, 96, 30, 26), 0);
    EXPECT_GT(at(big, 96, 10, 15), 0);
    // Labels are never blended.
    std::vector<uint8_t> labels(200, 2);
    auto duo = maskChannel(96, 80, 0);
    DataStorage::setData(*duo, RectI{20, 10, 40, 20}, labels.data(), 0);
    QTransform turn;
    turn.translate(30, 15).rotate(33).translate(-10, -5);
    for (uint8_t v : bytesOf(*MaskToolFilter::transformMask(*duo, box, turn, true))) ASSERT_TRUE(v == 0 || v == 2);
}

TEST_F(MaskToolsFixture, TransformToolMovesTheSelectionInOneUndoableStep) {
    auto painted = maskChannel(96, 80, 0);
    std::vector<uint8_t> block(400, 255);
    DataStorage::setData(*painted, RectI{20, 10, 40, 30}, block.data(), 0);
    rain.setMaskChannel(ToolFilter::Mask, painted);
    document.setSelection(painted->clone());
    // Without a view the tool has no frame and a drag does nothing.
    ASSERT_TRUE(rain.SelectTool(MaskToolFilter::TransformTool));
    EXPECT_TRUE(rain.transformFrame().isEmpty());
    send(rain, NodeInfo::Press, 30, 20);
    send(rain, NodeInfo::Release, 40, 25);
    EXPECT_EQ(maskOf(rain), bytesOf(*painted));

    rain.setViewAttached(true);
    ASSERT_TRUE(rain.transformFrame().isVisible());
    EXPECT_EQ(rain.transformFrame().box(), QSizeF(20, 20));
    EXPECT_EQ(rain.transformFrame().center(), QPointF(30, 20));
    const int steps = document.undoCount();
    send(rain, NodeInfo::Press, 30, 20);
    send(rain, NodeInfo::Move, 35, 22);
    send(rain, NodeInfo::Release, 40, 25);
    EXPECT_EQ(document.undoCount(), steps + 1);
    auto expected = maskChannel(96, 80, 0);
    DataStorage::setData(*expected, RectI{30, 15, 50, 35}, block.data(), 0);
    EXPECT_EQ(maskOf(rain), bytesOf(*expected));
    EXPECT_EQ(bytesOf(*document.selection()), bytesOf(*expected)) << "the document's selection follows";
    EXPECT_TRUE(rain.isUpdatePending());

    // Undo gives the document its old selection back; the mask takes it from there.
    ASSERT_TRUE(document.undo());
    rain.TakeSelectionFromDocument();
    EXPECT_EQ(maskOf(rain), bytesOf(*painted));
    // Another tool hides the frame.
    ASSERT_TRUE(rain.SelectTool(MaskToolFilter::SelectionTool));
    EXPECT_FALSE(rain.transformFrame().isVisible());
}
