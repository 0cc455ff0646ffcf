// The effect window over a small image, offscreen: effect choice, auto-run, Apply and closing.

#include "FilterTestSupport.h"

#include "document/framework/MaskToolFilter.h"
#include "document/framework/ToolFilter.h"
#include "ui/EvalProgressBar.h"
#include "dataview/Navigator.h"
#include "ui/ActionSet.h"
#include "ui/PluginUI.h"
#include "imageio/ImageIO.h"

#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QSplitter>
#include <QToolButton>
#include <QPrinter>
#include <QPushButton>
#include <QCheckBox>
#include <QComboBox>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

using namespace FilterTest;
using Orvex::UI::ImagePreview;
using Orvex::UI::PluginUI;
using Orvex::UI::WindowSession;

namespace {

Ref<DataStorage::PixelPlane> gradientPlane(int w, int h) {
    Ref<DataStorage::PixelPlane> plane = rgbaPlane(w, h);
    std::vector<uint8_t> rgba(size_t(w) * size_t(h) * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &rgba[(size_t(y) * size_t(w) + size_t(x)) * 4];
            p[0] = uint8_t(x * 255 / w), p[1] = uint8_t(y * 255 / h), p[2] = 128, p[3] = 255;
        }
    DataStorage::setData(*plane, plane->bounds(), rgba.data(), 0,
                         DataStorage::PixelFormat::fromMask(DataStorage::MaskRGBA, DataStorage::TypeU8));
    return plane;
}

std::vector<uint8_t> bytesOf(const DataStorage::PixelPlane& plane) {
    std::vector<uint8_t> out(size_t(plane.width()) * size_t(plane.height()) * 4);
    DataStorage::getData(plane, plane.bounds(), out.data(), 0,
                         DataStorage::PixelFormat::fromMask(DataStorage::MaskRGBA, DataStorage::TypeU8));
    return out;
}

struct WindowFixture : testing::Test {
    TestSettings settings;
    CapturedMessages boxes;
    SettingsMap windowStore;
    short result = 99;
    int applies = 0;
    bool applyOk = true;
    bool withSelection = true;
    std::vector<uint8_t> applied;
    Ref<DataStorage::PixelPlane> image = gradientPlane(120, 90);

    WindowSession session() {
        WindowSession s;
        s.image = image;
        if (withSelection) s.selection = maskChannel(120, 90, 255);
        s.hostFileName = QStringLiteral("lake.png");
        s.apply = [this](const DataStorage::PixelPlane& plane) {
            ++applies;
            applied = bytesOf(plane);
            return applyOk;
        };
        return s;
    }
    std::unique_ptr<PluginUI> open() {
        auto window = std::make_unique<PluginUI>(nullptr, Qt::Window, &result, session(),
                                                 SettingsGroupRW(&windowStore, QString()));
        window->show();
        return window;
    }
    bool idle(PluginUI& w) {
        return waitFor([&] { return !w.isRunning() && !w.filter()->isProcessing() && !w.filter()->isUpdatePending(); },
                       20000);
    }
};

} // namespace

TEST_F(WindowFixture, EffectListAndStoredEffect) {
    for (int stored : {1, 99, -3}) {
        windowStore.setValue(QStringLiteral("Effect"), stored);
        auto window = open();
        ASSERT_EQ(window->effectCombo()->count(), 7);
        const int order[] = {0, 2, 4, 8, 3, 5, 9};
        for (int i = 0; i < 7; ++i) EXPECT_EQ(window->effectCombo()->itemData(i).toInt(), order[i]);
        EXPECT_EQ(window->currentEffectId(), 0) << "stored " << stored;
        EXPECT_EQ(window->resultCode(), PluginUI::Cancelled);
        EXPECT_TRUE(window->windowTitle().contains("lake.png (RGB/8, 120x90)")) << window->windowTitle().toStdString();
    }
    windowStore.setValue(QStringLiteral("Effect"), 4);
    {
        auto window = open();
        EXPECT_EQ(window->currentEffectId(), 4);
        window->OnEffectChanged(window->effectCombo()->findData(5));
        EXPECT_EQ(window->filter()->effectId(), 5);
    }
    EXPECT_EQ(windowStore.value(QStringLiteral("Effect"), -1).toInt(), 5); // saved on destruction
}

TEST_F(WindowFixture, WithoutAutoRunChangesWaitForRun) {
    auto window = open();
    ASSERT_FALSE(window->autoRunBox()->isChecked());
    ASSERT_TRUE(idle(*window));
    window->filter()->setParamValue(QStringLiteral("density"), QStringLiteral("7"));
    QTest::qWait(ThreadFilterUI::DeferredUpdateMs + 150);
    EXPECT_FALSE(window->filter()->isProcessing());
    EXPECT_FALSE(window->filter()->haveResult());
    window->runButton()->click();
    ASSERT_TRUE(idle(*window));
    EXPECT_EQ(window->commitState(), 1);
    EXPECT_TRUE(window->filter()->haveResult());
    EXPECT_NE(bytesOf(*window->currentResult()), bytesOf(*image));

    // Turning auto-run on is stored and makes the next change run by itself.
    window->autoRunBox()->click();
    EXPECT_TRUE(windowStore.value(QStringLiteral("AutoRunMode"), false).toBool());
    window->filter()->setParamValue(QStringLiteral("density"), QStringLiteral("9"));
    ASSERT_TRUE(waitFor([&] { return window->filter()->isProcessing() || window->filter()->haveResult(); }));
    ASSERT_TRUE(idle(*window));
    EXPECT_EQ(window->filter()->lastRun().valueText("density"), "9");
}

TEST_F(WindowFixture, ApplyRendersFirstThenWritesTheShownResultAndCloses) {
    auto window = open();
    ASSERT_TRUE(idle(*window));
    window->filter()->setParamValue(QStringLiteral("density"), QStringLiteral("8"));
    window->okButton()->click(); // no final result yet: starts it and stays open
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(applies, 0);
    ASSERT_TRUE(idle(*window));
    EXPECT_EQ(window->commitState(), 1);
    const std::vector<uint8_t> shown = bytesOf(*window->currentResult());
    EXPECT_NE(shown, bytesOf(*image));
    window->okButton()->click();
    EXPECT_EQ(applies, 1);
    EXPECT_EQ(applied, shown);
    EXPECT_EQ(window->resultCode(), 0);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(WindowFixture, UndoAndRedoStepThroughTheRuns) {
    windowStore.setValue(QStringLiteral("AutoRunMode"), true);
    auto window = open();
    ASSERT_TRUE(idle(*window));
    auto* undo = window->findChild<QPushButton*>(QStringLiteral("topbar/undo"));
    auto* redo = window->findChild<QPushButton*>(QStringLiteral("topbar/redo"));
    ASSERT_NE(undo, nullptr);
    ASSERT_NE(redo, nullptr);
    window->filter()->setParamValue(QStringLiteral("density"), QStringLiteral("8"));
    ASSERT_TRUE(idle(*window));
    const std::vector<uint8_t> eight = bytesOf(*window->view()->plane());
    window->filter()->setParamValue(QStringLiteral("density"), QStringLiteral("15"));
    ASSERT_TRUE(idle(*window));
    const std::vector<uint8_t> fifteen = bytesOf(*window->view()->plane());
    ASSERT_NE(eight, fifteen);
    EXPECT_FALSE(redo->isEnabled());
    ASSERT_TRUE(undo->isEnabled());
    undo->click();
    EXPECT_EQ(bytesOf(*window->view()->plane()), eight);
    ASSERT_TRUE(redo->isEnabled());
    redo->click();
    EXPECT_EQ(bytesOf(*window->view()->plane()), fifteen);
    EXPECT_FALSE(redo->isEnabled());
    window->setQuitQuestion([] { return PluginUI::QuitDiscard; });
    window->close();
}

TEST_F(WindowFixture, AFailedWriteBackSaysSoAndCountsAsNotApplied) {
    applyOk = false;
    auto window = open();
    ASSERT_TRUE(idle(*window));
    window->runFilter();
    ASSERT_TRUE(idle(*window));
    window->saveChanges();
    EXPECT_EQ(applies, 1);
    EXPECT_EQ(window->resultCode(), PluginUI::Cancelled);
    ASSERT_FALSE(boxes.messages.empty());
    EXPECT_EQ(boxes.messages.back().text, "Error saving image data back to host application");
}

TEST_F(WindowFixture, ClosingWithUnappliedChangesAsksFirst) {
    auto window = open();
    ASSERT_TRUE(idle(*window));
    window->runFilter();
    ASSERT_TRUE(idle(*window));
    const std::vector<uint8_t> before = bytesOf(*window->currentResult());
    int asked = 0;
    window->setQuitQuestion([&] {
        ++asked;
        return PluginUI::QuitKeepOpen;
    });
    EXPECT_FALSE(window->close());
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(bytesOf(*window->currentResult()), before); // the state is intact
    EXPECT_EQ(window->commitState(), 1);

    window->setQuitQuestion([&] {
        ++asked;
        return PluginUI::QuitDiscard;
    });
    EXPECT_TRUE(window->close());
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(applies, 0);
    EXPECT_EQ(window->resultCode(), PluginUI::Cancelled);
}

TEST_F(WindowFixture, ClosingDuringARunAsksToInterruptAndStaysOpen) {
    auto window = open();
    ASSERT_TRUE(idle(*window));
    window->filter()->setParamValue(QStringLiteral("density"), QStringLiteral("10"));
    window->runFilter();
    if (window->filter()->isProcessing()) {
        boxes.answer = true;
        EXPECT_FALSE(window->close());
        ASSERT_FALSE(boxes.messages.empty());
        EXPECT_EQ(boxes.messages.back().text, "Interrupt image processing?");
        EXPECT_TRUE(window->isVisible());
    }
    ASSERT_TRUE(idle(*window));
    window->setQuitQuestion([] { return PluginUI::QuitDiscard; });
    EXPECT_TRUE(window->close());
}

TEST_F(WindowFixture, BeforeShowsTheSourceAndAfterTheResult) {
    auto window = open();
    ASSERT_TRUE(idle(*window));
    window->runFilter();
    ASSERT_TRUE(idle(*window));
    // The run wrote its result in place: what the view draws must have followed it.
    const QImage afterPicture = window->view()->shownImage();
    window->beforeButton()->click();
    EXPECT_NE(window->view()->shownImage(), afterPicture);
    EXPECT_TRUE(window->isBefore());
    EXPECT_EQ(window->view()->plane(), image);
    EXPECT_EQ(window->beforeButton()->font().weight(), 75);
    window->afterButton()->click();
    EXPECT_FALSE(window->isBefore());
    EXPECT_NE(window->view()->plane(), image);
    EXPECT_EQ(bytesOf(*window->view()->plane()), bytesOf(*window->currentResult()));
    EXPECT_FALSE(window->view()->shownImage().isNull());
    window->setQuitQuestion([] { return PluginUI::QuitDiscard; });
    window->close();
}

namespace {

// Pointer input on the window's view, given in image coordinates.
struct ViewInput {
    ImagePreview* view;
    QPoint at(double x, double y) const { return view->toView(QPointF(x, y)).toPoint(); }
    void drag(QPoint from, QPoint to) const {
        QTest::mousePress(view, Qt::LeftButton, {}, from);
        QTest::mouseMove(view, (from + to) / 2);
        QTest::mouseMove(view, to);
        QTest::mouseRelease(view, Qt::LeftButton, {}, to);
    }
    // A brush stroke of nine dabs along row 20, from x 10 to x 90.
    void strokeAcross() const {
        QTest::mousePress(view, Qt::LeftButton, {}, at(10, 20));
        for (int i = 1; i <= 8; ++i) QTest::mouseMove(view, at(10 + 10 * i, 20));
        QTest::mouseRelease(view, Qt::LeftButton, {}, at(90, 20));
    }
};

} // namespace

TEST_F(WindowFixture, LinesDrawnOnTheViewSteerTheTrunkEffectsAndTravelThroughTheirFile) {
    windowStore.setValue(QStringLiteral("Effect"), 9); // aurora
    auto window = open();
    window->resize(900, 600);
    QCoreApplication::processEvents();
    auto* aurora = qobject_cast<TrunkToolFilter*>(window->filter());
    ASSERT_NE(aurora, nullptr);
    ImagePreview* view = window->view();
    const ViewInput input{view};
    auto at = [&](double x, double y) { return input.at(x, y); };
    auto drag = [&](QPoint from, QPoint to) { input.drag(from, to); };
    drag(at(10, 60), at(110, 50));
    ASSERT_EQ(aurora->segmentCount(), 1);
    const Segment s = aurora->current().segments()->front();
    EXPECT_NEAR(s.x1, 10, 1);
    EXPECT_NEAR(s.y1, 60, 1);
    EXPECT_NEAR(s.x2, 110, 1);
    EXPECT_NEAR(s.y2, 50, 1);
    drag(at(30, 30), at(30, 30)); // a click draws nothing
    EXPECT_EQ(aurora->segmentCount(), 1);
    drag(at(20, 10), at(20, 80));
    EXPECT_EQ(aurora->segmentCount(), 2);

    // The file keeps them; the eraser takes the one near its press, never splitting it.
    QTemporaryDir dir;
    const QString file = dir.filePath("lines.elemor");
    ASSERT_TRUE(aurora->SaveStrokes(file));
    aurora->selectLineTool(TrunkToolFilter::EraserTool);
    aurora->setEraserSize(10);
    QTest::mouseClick(view, Qt::LeftButton, {}, at(20, 40));
    EXPECT_EQ(aurora->segmentCount(), 1);
    EXPECT_EQ(aurora->current().segments()->front(), s);
    ASSERT_TRUE(aurora->LoadStrokes(file));
    EXPECT_EQ(aurora->segmentCount(), 2);
    EXPECT_TRUE(boxes.messages.empty());

    // With lines the effect runs.
    window->runFilter();
    ASSERT_TRUE(idle(*window));
    EXPECT_EQ(window->commitState(), 1);
    window->setQuitQuestion([] { return PluginUI::QuitDiscard; });
    window->close();
}

TEST_F(WindowFixture, TheTransformFrameMovesTheLinesAndUndoBringsThemBack) {
    windowStore.setValue(QStringLiteral("Effect"), 9); // aurora
    auto window = open();
    window->resize(900, 600);
    QCoreApplication::processEvents();
    auto* aurora = qobject_cast<TrunkToolFilter*>(window->filter());
    ASSERT_NE(aurora, nullptr);
    ImagePreview* view = window->view();
    const ViewInput input{view};
    auto at = [&](double x, double y) { return input.at(x, y); };
    auto drag = [&](QPoint from, QPoint to) { input.drag(from, to); };
    drag(at(20, 30), at(100, 30));
    drag(at(20, 60), at(100, 80));
    ASSERT_EQ(aurora->segmentCount(), 2);
    const std::vector<Segment> drawn = *aurora->current().segments();

    // The tool row offers the frame third; choosing it frames the lines.
    auto* button = window->findChild<QPushButton*>(QStringLiteral("tool6"));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), "Transform tool");
    EXPECT_EQ(button->statusTip(), "Transform tool status tip");
    button->click();
    EXPECT_EQ(aurora->currentLineTool(), TrunkToolFilter::TransformTool);
    ASSERT_TRUE(aurora->transformFrame().isVisible());
    ASSERT_EQ(view->transformFrame(), &aurora->transformFrame());
    const QImage shot = view->grab().toImage();
    shot.save(QDir::temp().filePath(QStringLiteral("elemorama-transform-frame.png")));

    // A drag inside moves both lines by the same whole-pixel offset.
    const QPoint from = at(60, 50), to = from + QPoint(40, 25);
    drag(from, to);
    const std::vector<Segment> moved = *aurora->current().segments();
    ASSERT_EQ(moved.size(), 2u);
    const int dx = moved[0].x1 - drawn[0].x1, dy = moved[0].y1 - drawn[0].y1;
    EXPECT_NEAR(dx, 40 / view->zoom(), 1.0);
    EXPECT_NEAR(dy, 25 / view->zoom(), 1.0);
    for (size_t i = 0; i < 2; ++i)
        EXPECT_EQ(moved[i], (Segment{drawn[i].x1 + dx, drawn[i].y1 + dy, drawn[i].x2 + dx, drawn[i].y2 + dy}));

    // Undo returns to the drawn lines, and the frame sits around them again.
    window->Undo();
    EXPECT_EQ(*aurora->current().segments(), drawn);
    EXPECT_EQ(aurora->transformFrame().center(), TrunkToolFilter::frameBox(drawn).center());
    window->Redo();
    EXPECT_EQ(*aurora->current().segments(), moved);
    // The line tool keeps them.
    window->findChild<QPushButton*>(QStringLiteral("tool1"))->click();
    EXPECT_FALSE(aurora->transformFrame().isVisible());
    EXPECT_EQ(*aurora->current().segments(), moved);
    window->setQuitQuestion([] { return PluginUI::QuitDiscard; });
    window->close();
}

TEST_F(WindowFixture, TheTransformFrameCarriesThePaintedSelection) {
    withSelection = false;
    auto window = open();
    window->resize(900, 600);
    QCoreApplication::processEvents();
    auto* rain = qobject_cast<MaskToolFilter*>(window->filter());
    ASSERT_NE(rain, nullptr);
    const auto size = rain->maskPlane(ToolFilter::Mask)->size();
    auto painted = maskChannel(size.width, size.height, 0);
    std::vector<uint8_t> block(40 * 30, 255);
    DataStorage::setData(*painted, Orvex::Detail::RectI{20, 20, 60, 50}, block.data(), 0);
    rain->setMaskChannel(ToolFilter::Mask, painted);

    auto* button = window->findChild<QPushButton*>(QStringLiteral("tool6"));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), "Transform tool");
    button->click();
    ASSERT_TRUE(rain->transformFrame().isVisible());
    EXPECT_EQ(rain->transformFrame().center(), QPointF(40, 35));
    ImagePreview* view = window->view();
    // A drag inside by whole image pixels moves the selection by as much.
    const QPoint from = view->toView(QPointF(40, 35)).toPoint();
    const QPointF step = view->toView(QPointF(40 + 30, 35 + 10)) - view->toView(QPointF(40, 35));
    QTest::mousePress(view, Qt::LeftButton, {}, from);
    QTest::mouseMove(view, from + step.toPoint());
    QTest::mouseRelease(view, Qt::LeftButton, {}, from + step.toPoint());
    const auto moved = rain->maskPlane(ToolFilter::Mask)->channel(DataStorage::ChannelMask);
    const QPointF shift = view->toImage(from + step.toPoint()) - view->toImage(from);
    const int cx = int(std::lround(40 + shift.x())), cy = int(std::lround(35 + shift.y()));
    EXPECT_EQ(moved->value<uint8_t>(cx, cy), 255);
    EXPECT_EQ(moved->value<uint8_t>(22, 22), 0) << "the old place is free";
    window->setQuitQuestion([] { return PluginUI::QuitDiscard; });
    window->close();
}

TEST_F(WindowFixture, TheBrushPaintsTheSelectionTheMaskEffectsNeed) {
    withSelection = false;
    auto window = open();
    window->resize(900, 600);
    QCoreApplication::processEvents();
    auto* rain = qobject_cast<MaskToolFilter*>(window->filter());
    ASSERT_NE(rain, nullptr);
    ASSERT_TRUE(rain->IsMaskEmpty());
    window->runFilter(); // nothing selected yet: a message, no run
    ASSERT_FALSE(boxes.messages.empty());
    EXPECT_EQ(window->commitState(), 0);

    ImagePreview* view = window->view();
    int painted = 0;
    QObject::connect(rain, &ToolFilter::maskPainted, [&](const QRect&) { ++painted; });
    rain->setPenSize(20);
    ViewInput{view}.strokeAcross();
    ASSERT_TRUE(waitFor([&] { return painted > 0 && !rain->isProcessing(); }));
    EXPECT_FALSE(rain->IsMaskEmpty());
    // The stroke lies where it was drawn: under it selected, far from it not.
    const auto mask = rain->maskPlane(ToolFilter::Mask)->channel(DataStorage::ChannelMask);
    uint8_t under = 0, far = 0;
    DataStorage::getData(*mask, DataStorage::RectI{50, 20, 51, 21}, &under, 1);
    DataStorage::getData(*mask, DataStorage::RectI{50, 80, 51, 81}, &far, 1);
    EXPECT_GT(under, 128);
    EXPECT_EQ(far, 0);

    boxes.messages.clear();
    window->runFilter();
    ASSERT_TRUE(idle(*window));
    EXPECT_TRUE(boxes.messages.empty());
    EXPECT_EQ(window->commitState(), 1);
    window->setQuitQuestion([] { return PluginUI::QuitDiscard; });
    window->close();
}

// Undo takes a brush stroke off the mask the effect reads (and Redo puts it back), so that the
// next preview and the shown selection follow the history.
TEST_F(WindowFixture, UndoAndRedoOfAStrokeReachTheEffectsMask) {
    withSelection = false;
    auto window = open();
    window->resize(900, 600);
    QCoreApplication::processEvents();
    auto* rain = qobject_cast<MaskToolFilter*>(window->filter());
    ASSERT_NE(rain, nullptr);
    ImagePreview* view = window->view();
    int painted = 0;
    QObject::connect(rain, &ToolFilter::maskPainted, [&](const QRect&) { ++painted; });
    rain->setPenSize(20);
    ViewInput{view}.strokeAcross();
    ASSERT_TRUE(waitFor([&] { return painted > 0 && !rain->isProcessing(); }));
    ASSERT_TRUE(idle(*window));
    auto maskAt = [&](int x, int y) {
        uint8_t v = 0;
        DataStorage::getData(*rain->maskPlane(ToolFilter::Mask)->channel(DataStorage::ChannelMask),
                             DataStorage::RectI{x, y, x + 1, y + 1}, &v, 1);
        return int(v);
    };
    ASSERT_GT(maskAt(50, 20), 128);
    const QImage paintedOverlay = view->overlay();

    window->Undo();
    ASSERT_TRUE(idle(*window));
    EXPECT_TRUE(rain->IsMaskEmpty()) << "the stroke is undone in the mask the effect reads";
    EXPECT_NE(view->overlay(), paintedOverlay) << "the shown selection follows";

    window->Redo();
    ASSERT_TRUE(idle(*window));
    EXPECT_GT(maskAt(50, 20), 128);
    EXPECT_EQ(maskAt(50, 80), 0);
    window->setQuitQuestion([] { return PluginUI::QuitDiscard; });
    window->close();
}

namespace {

void wheel(QWidget* w, QPoint at, int delta, int times) {
    for (int i = 0; i < times; ++i) {
        QWheelEvent e(QPointF(at), w->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
        QApplication::sendEvent(w, &e);
    }
}

// A drag with the middle button held (QTest's moves carry no buttons).
void middleDrag(QWidget* w, QPoint from, QPoint to) {
    QTest::mousePress(w, Qt::MiddleButton, {}, from);
    QMouseEvent move(QEvent::MouseMove, QPointF(to), w->mapToGlobal(to), Qt::NoButton, Qt::MiddleButton,
                     Qt::NoModifier);
    QApplication::sendEvent(w, &move);
    QTest::mouseRelease(w, Qt::MiddleButton, {}, to);
}

} // namespace

TEST_F(WindowFixture, TheViewZoomsAroundThePointerPansAndFollowsTheNavigator) {
    auto window = open();
    window->resize(900, 600);
    QCoreApplication::processEvents();
    ImagePreview* view = window->view();
    auto* navigator = window->findChild<Orvex::DataView::Navigator*>(QStringLiteral("navigator"));
    ASSERT_NE(navigator, nullptr);
    ASSERT_TRUE(view->fitted());
    const double fit = view->zoom();
    std::vector<double> zooms;
    QObject::connect(view, &ImagePreview::ImageZoomed, [&](double z) { zooms.push_back(z); });

    // The wheel zooms in from the fit.
    wheel(view, view->toView(QPointF(30, 40)).toPoint(), 120, 10);
    EXPECT_FALSE(view->fitted());
    EXPECT_GT(view->zoom(), fit);
    EXPECT_EQ(zooms.size(), 10u);
    // Once the image is larger than the view, the image point under the pointer stays there.
    view->setZoom(10.0);
    view->centerOn(QPointF(60, 45));
    const QPoint pointer = view->toView(QPointF(55, 40)).toPoint();
    const QPointF under = view->toImage(QPointF(pointer));
    wheel(view, pointer, 120, 30);
    EXPECT_GT(view->zoom(), 10.0);
    EXPECT_NEAR(view->toImage(QPointF(pointer)).x(), under.x(), 0.05);
    EXPECT_NEAR(view->toImage(QPointF(pointer)).y(), under.y(), 0.05);
    wheel(view, pointer, -120, 30);
    EXPECT_NEAR(view->zoom(), 10.0, 1e-9);

    // At 800 % the image is larger than the view: the middle button drags it, within its edges.
    view->setZoom(8.0);
    EXPECT_DOUBLE_EQ(view->zoom(), 8.0);
    const QRectF before = view->visibleRect();
    EXPECT_NEAR(before.width(), view->width() / 8.0, 0.01);
    const QPoint from(view->width() / 2, view->height() / 2);
    middleDrag(view, from, from + QPoint(-80, 0));
    EXPECT_NEAR(view->visibleRect().left(), before.left() + 10.0, 0.01);
    middleDrag(view, from, from + QPoint(5000, 5000));
    EXPECT_DOUBLE_EQ(view->visibleRect().left(), 0.0);
    EXPECT_DOUBLE_EQ(view->visibleRect().top(), 0.0);

    // The navigator's requests move the view; its zoom and rectangle follow.
    emit navigator->zoomRequested(2.0);
    EXPECT_DOUBLE_EQ(view->zoom(), 2.0);
    EXPECT_DOUBLE_EQ(zooms.back(), 2.0);
    emit navigator->fitRequested();
    EXPECT_TRUE(view->fitted());
    EXPECT_DOUBLE_EQ(view->zoom(), fit);
    // Zoom limits: 6400 % at most, and a wheel step there changes nothing.
    view->setZoom(1000.0);
    EXPECT_DOUBLE_EQ(view->zoom(), 64.0);
    const size_t count = zooms.size();
    wheel(view, pointer, 120, 1);
    EXPECT_EQ(zooms.size(), count);
    window->close();
}

// The same stroke in image pixels gives the same mask whether drawn at fit, 250 % or 800 %: the
// pointer lands on whole view pixels, so positions differ by under a view pixel, and the soft
// edge of the brush by little.
TEST_F(WindowFixture, TheInitialZoomFollowsThePreferences) {
    image = gradientPlane(1600, 1200); // larger than the view, so fit and 100 % differ
    withSelection = false;
    {
        auto window = open();
        window->resize(900, 600);
        QCoreApplication::processEvents();
        EXPECT_TRUE(window->view()->fitted());
        EXPECT_LT(window->view()->zoom(), 1.0);
    }
    windowStore.setValue(QStringLiteral("InitialFit"), false);
    auto window = open();
    window->resize(900, 600);
    QCoreApplication::processEvents();
    EXPECT_FALSE(window->view()->fitted());
    EXPECT_DOUBLE_EQ(window->view()->zoom(), 1.0);
    // At 100 % the middle of the image is in view.
    EXPECT_TRUE(window->view()->visibleRect().contains(QPointF(800, 600)));
    EXPECT_LT(window->view()->visibleRect().width(), 1600.0);
}

TEST_F(WindowFixture, TheNavigatorFoldsAndTheWindowRemembersIt) {
    windowStore.setValue(QStringLiteral("boxNavgExpanded"), false);
    {
        auto window = open();
        auto* navigator = window->findChild<Orvex::DataView::Navigator*>(QStringLiteral("navigator"));
        auto* header = window->findChild<QToolButton*>(QStringLiteral("boxNavg"));
        ASSERT_NE(navigator, nullptr);
        ASSERT_NE(header, nullptr);
        EXPECT_FALSE(navigator->isVisible());
        header->click();
        EXPECT_TRUE(navigator->isVisible());
    }
    EXPECT_TRUE(windowStore.value(QStringLiteral("boxNavgExpanded"), false).toBool());
}

TEST_F(WindowFixture, TheMenuBarCarriesTheCommandsWithTheirKeys) {
    auto window = open();
    auto* bar = window->findChild<QMenuBar*>(QStringLiteral("menuBar"));
    ASSERT_NE(bar, nullptr);
    QStringList texts;
    for (QAction* menu : bar->actions())
        for (QAction* a : menu->menu()->actions())
            if (!a->isSeparator()) texts << a->text();
    EXPECT_EQ(texts, (QStringList{"&New...", "&Open...", "&Save...", "&Print...", "&Run", "Apply", "Cancel", "Undo", "Redo", "Preferences...", "&help...",
                                  "ORVEX home page..."}));
    auto* undo = window->findChild<QAction*>(QStringLiteral("actionUndo"));
    ASSERT_NE(undo, nullptr);
    EXPECT_EQ(undo->shortcut(), QKeySequence(QKeySequence::Undo));
    EXPECT_FALSE(undo->isEnabled()) << "nothing to undo yet";
    // The host owns the run's image: the window neither opens nor creates another.
    EXPECT_FALSE(window->findChild<QAction*>(QStringLiteral("actionNew"))->isEnabled());
    EXPECT_FALSE(window->findChild<QAction*>(QStringLiteral("actionOpen"))->isEnabled());
    EXPECT_TRUE(window->findChild<QAction*>(QStringLiteral("actionSave"))->isEnabled());
    EXPECT_TRUE(window->findChild<QAction*>(QStringLiteral("actionPrint"))->isEnabled());
    // Cancel closes the window without applying.
    window->findChild<QAction*>(QStringLiteral("actionCancel"))->trigger();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(applies, 0);
    EXPECT_EQ(window->resultCode(), PluginUI::Cancelled);
}

TEST(HelpPages, TheUsersLanguageFirstThenTheGeneralPage) {
    QTemporaryDir installed, beside;
    auto write = [](const QTemporaryDir& dir, const char* name) {
        QFile f(dir.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("<html></html>");
    };
    const QStringList folders{installed.path(), beside.path(), QStringLiteral("/no/such/folder")};
    EXPECT_TRUE(Orvex::UI::findHelpPage(folders, QStringLiteral("de")).isEmpty());
    write(installed, "index.html");
    EXPECT_EQ(Orvex::UI::findHelpPage(folders, QStringLiteral("de")), installed.filePath("index.html"));
    write(beside, "index_de.html");
    EXPECT_EQ(Orvex::UI::findHelpPage(folders, QStringLiteral("de")), beside.filePath("index_de.html"));
    EXPECT_EQ(Orvex::UI::findHelpPage(folders, QStringLiteral("fr")), installed.filePath("index.html"));
    EXPECT_EQ(Orvex::UI::findHelpPage(folders, QString()), installed.filePath("index.html"));
    // The pages the build ships are found from the build tree.
    EXPECT_FALSE(Orvex::UI::findHelpPage(Orvex::UI::helpFolders(), QStringLiteral("de")).isEmpty());
}

TEST_F(WindowFixture, TheHintsPanelSitsWhereThePreferencesSay) {
    for (const char* where : {"right", "left", "hidden"}) {
        SCOPED_TRACE(where);
        windowStore.setValue(QStringLiteral("showHints"), QString::fromLatin1(where));
        auto window = open();
        window->resize(1000, 650);
        QCoreApplication::processEvents();
        auto* hint = window->findChild<QLabel*>(QStringLiteral("hintLabel"));
        ASSERT_NE(hint, nullptr);
        const int viewX = window->view()->mapTo(window.get(), QPoint(0, 0)).x();
        const int hintX = hint->mapTo(window.get(), QPoint(0, 0)).x();
        if (QLatin1String(where) == QLatin1String("hidden")) {
            EXPECT_FALSE(hint->isVisible());
        } else {
            EXPECT_TRUE(hint->isVisible());
            EXPECT_EQ(hintX > viewX, QLatin1String(where) == QLatin1String("right"));
        }
    }
}

// A locked control panel keeps its width; unlocked, the splitter between image and panel moves.
TEST_F(WindowFixture, TheControlPanelMovesOnlyWhenUnlocked) {
    for (bool locked : {true, false}) {
        SCOPED_TRACE(locked);
        windowStore.setValue(QStringLiteral("Topbar/LockPanel"), locked);
        auto window = open();
        window->resize(1200, 700);
        window->show();
        QCoreApplication::processEvents();
        auto* split = window->findChild<QSplitter*>(QStringLiteral("bodySplitter"));
        ASSERT_NE(split, nullptr);
        ASSERT_EQ(split->count(), 2);
        EXPECT_EQ(split->widget(0), window->view());
        QSplitterHandle* handle = split->handle(1);
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(handle->isEnabled(), !locked);
        // A drag on the handle, as a person would do it: 120 pixels to the left.
        const int before = split->sizes().at(1);
        const QPoint grip = handle->rect().center();
        auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
            QMouseEvent event(type, at, handle->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
            QApplication::sendEvent(handle, &event);
        };
        send(QEvent::MouseButtonPress, grip, Qt::LeftButton);
        send(QEvent::MouseMove, grip - QPoint(120, 0), Qt::LeftButton);
        send(QEvent::MouseButtonRelease, grip - QPoint(120, 0), Qt::NoButton);
        QCoreApplication::processEvents();
        if (locked)
            EXPECT_EQ(split->sizes().at(1), before);
        else
            EXPECT_GT(split->sizes().at(1), before + 60);
        // The hints keep their places on either side of the splitter.
        auto* hint = window->findChild<QLabel*>(QStringLiteral("hintLabel"));
        ASSERT_NE(hint, nullptr);
        EXPECT_TRUE(split->widget(1)->isAncestorOf(hint));
    }
}

// The selection shows as an outline of black and white dashes, or filled with the chosen colour;
// the window takes the choice from the preferences.
TEST_F(WindowFixture, TheSelectionShowsAsAnOutlineOrFilled) {
    ImagePreview view;
    view.resize(120, 90);
    view.setPlane(gradientPlane(120, 90));
    auto mask = maskChannel(120, 90, 0);
    const std::vector<uint8_t> full(60 * 90, 255);
    DataStorage::setData(*mask, DataStorage::RectI{0, 0, 60, 90}, full.data(), 60);
    view.setMaskOverlay(mask);
    QImage shown = view.overlay();
    ASSERT_FALSE(shown.isNull());
    auto at = [&](double fx, double fy) {
        return shown.pixel(std::min(shown.width() - 1, int(fx * shown.width())), int(fy * shown.height()));
    };
    EXPECT_EQ(qAlpha(at(0.25, 0.5)), 0) << "the inside of an outlined selection is clear";
    EXPECT_EQ(qAlpha(at(0.75, 0.5)), 0);
    int edge = 0, black = 0;
    for (int y = 0; y < shown.height(); ++y) {
        const QRgb p = shown.pixel(int(0.5 * shown.width()) - 1, y);
        edge += qAlpha(p) == 255;
        black += qAlpha(p) == 255 && qRed(p) == 0;
    }
    EXPECT_EQ(edge, shown.height()) << "the boundary column is all outline";
    EXPECT_GT(black, 0);
    EXPECT_LT(black, edge) << "dashes of black and white";

    view.setSelectionDisplay(true, 0x8000FF00);
    shown = view.overlay();
    EXPECT_NEAR(qAlpha(at(0.25, 0.5)), 128, 1);
    EXPECT_GT(qGreen(at(0.25, 0.5)), 100);
    EXPECT_EQ(qRed(at(0.25, 0.5)), 0);
    EXPECT_EQ(qAlpha(at(0.75, 0.5)), 0);

    // The window reads the display from its settings.
    windowStore.setValue(QStringLiteral("SelectionMode"), true);
    windowStore.setValue(QStringLiteral("SelectionColor"), int(0x800000FF));
    auto window = open();
    window->findChild<QCheckBox*>(QStringLiteral("ckShowStrokes"))->setChecked(true);
    window->view()->setMaskOverlay(mask);
    const QImage windowShown = window->view()->overlay();
    ASSERT_FALSE(windowShown.isNull());
    const QRgb inside = windowShown.pixel(windowShown.width() / 4, windowShown.height() / 2);
    EXPECT_GT(qBlue(inside), 100);
    EXPECT_EQ(qGreen(inside), 0);
}

TEST_F(WindowFixture, AStrokeGivesTheSameMaskAtEveryZoom) {
    withSelection = false;
    std::vector<std::vector<uint8_t>> masks;
    for (const double zoom : {0.0, 8.0, 2.5}) {
        auto window = open();
        window->resize(900, 600);
        QCoreApplication::processEvents();
        auto* rain = qobject_cast<MaskToolFilter*>(window->filter());
        ASSERT_NE(rain, nullptr);
        ImagePreview* view = window->view();
        if (zoom > 0) {
            view->setZoom(zoom);
            view->centerOn(QPointF(50, 30));
        }
        auto at = [&](double x, double y) { return view->toView(QPointF(x, y)); };
        int painted = 0;
        QObject::connect(rain, &ToolFilter::maskPainted, [&](const QRect&) { ++painted; });
        rain->setPenSize(12);
        // Points on whole view pixels at every zoom: image points that are exact at all three.
        QTest::mousePress(view, Qt::LeftButton, {}, at(40, 30).toPoint());
        for (int i = 1; i <= 4; ++i) QTest::mouseMove(view, at(40 + 5 * i, 30).toPoint());
        QTest::mouseRelease(view, Qt::LeftButton, {}, at(60, 30).toPoint());
        ASSERT_TRUE(waitFor([&] { return painted > 0 && !rain->isProcessing(); }));
        const auto mask = rain->maskPlane(ToolFilter::Mask)->channel(DataStorage::ChannelMask);
        std::vector<uint8_t> bytes(120 * 90);
        DataStorage::getData(*mask, DataStorage::RectI{0, 0, 120, 90}, bytes.data(), 120);
        masks.push_back(bytes);
        window->setQuitQuestion([] { return PluginUI::QuitDiscard; });
        window->close();
    }
    for (size_t k = 1; k < masks.size(); ++k) {
        SCOPED_TRACE(k);
        long sum0 = 0, sumK = 0, overlap = 0; // overlap: a stroke in the wrong place shares little
        int worst = 0;
        for (size_t i = 0; i < masks[0].size(); ++i) {
            sum0 += masks[0][i], sumK += masks[k][i];
            overlap += std::min(masks[0][i], masks[k][i]);
            worst = std::max(worst, std::abs(int(masks[0][i]) - int(masks[k][i])));
        }
        EXPECT_GT(sum0, 255 * 200); // the stroke is there: about 20 x 12 pixels
        EXPECT_NEAR(double(sumK), double(sum0), 0.05 * sum0);
        EXPECT_GT(double(overlap), 0.9 * sum0);
        EXPECT_LE(worst, 128);
    }
}

// Save and Print put out the result the After view shows and never write to the host.
TEST_F(WindowFixture, SaveWritesTheShownResultToAFileWithoutApplying) {
    QTemporaryDir dir;
    auto window = open();
    ASSERT_TRUE(idle(*window));
    QString chosen;
    window->setSaveFileQuestion([&] { return chosen; });
    auto* save = window->findChild<QAction*>(QStringLiteral("actionSave"));
    ASSERT_NE(save, nullptr);

    // Before any run the source goes out; a name without an extension becomes a PNG.
    chosen = dir.filePath(QStringLiteral("source"));
    save->trigger();
    const ImageIO::ImageRecord source = ImageIO::loadImage(dir.filePath(QStringLiteral("source.png")));
    EXPECT_EQ(source.samples, bytesOf(*image));

    window->filter()->setParamValue(QStringLiteral("density"), QStringLiteral("8"));
    window->runFilter();
    ASSERT_TRUE(idle(*window));
    const std::vector<uint8_t> result = bytesOf(*window->currentResult());
    ASSERT_NE(result, bytesOf(*image));
    window->setBefore(true); // what is shown does not matter: Save writes the result
    chosen = dir.filePath(QStringLiteral("result.png"));
    save->trigger();
    const ImageIO::ImageRecord saved = ImageIO::loadImage(chosen);
    EXPECT_EQ(saved.width, 120);
    EXPECT_EQ(saved.height, 90);
    EXPECT_TRUE(saved.hasAlpha);
    EXPECT_EQ(saved.samples, result);
    // JPEG cannot hold alpha: the file still comes out, without it.
    chosen = dir.filePath(QStringLiteral("result.jpg"));
    save->trigger();
    EXPECT_FALSE(ImageIO::loadImage(chosen).hasAlpha);

    // A place that cannot be written says so; a cancelled dialog does nothing.
    boxes.messages.clear();
    chosen = dir.filePath(QStringLiteral("no/such/folder/result.png"));
    save->trigger();
    ASSERT_EQ(boxes.messages.size(), 1u);
    EXPECT_EQ(boxes.messages[0].kind, Orvex::Document::FilterMessage::Critical);
    EXPECT_TRUE(boxes.messages[0].text.startsWith("The image could not be saved:"));
    chosen.clear();
    save->trigger();
    EXPECT_EQ(boxes.messages.size(), 1u);

    EXPECT_EQ(applies, 0);
    EXPECT_EQ(window->resultCode(), PluginUI::Cancelled);
    EXPECT_TRUE(window->isVisible());
    window->setQuitQuestion([] { return PluginUI::QuitDiscard; });
    window->close();
}

TEST_F(WindowFixture, PrintDrawsTheResultOnThePageWithoutApplying) {
    QTemporaryDir dir;
    auto window = open();
    ASSERT_TRUE(idle(*window));
    const QString pdf = dir.filePath(QStringLiteral("page.pdf"));
    bool answer = false;
    bool printOpenDuringDialog = true;
    auto* print = window->findChild<QAction*>(QStringLiteral("actionPrint"));
    ASSERT_NE(print, nullptr);
    window->setPrintQuestion([&](QPrinter& printer) {
        printOpenDuringDialog = print->isEnabled();
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        return answer;
    });
    print->trigger();
    EXPECT_FALSE(printOpenDuringDialog) << "a second print waits for the dialog";
    EXPECT_TRUE(print->isEnabled());
    EXPECT_FALSE(QFile::exists(pdf)) << "a cancelled dialog prints nothing";
    answer = true;
    print->trigger();
    QFile file(pdf);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.read(5) == "%PDF-");
    EXPECT_GT(file.size(), 1000);
    EXPECT_TRUE(boxes.messages.empty());
    EXPECT_EQ(applies, 0);
    EXPECT_EQ(window->resultCode(), PluginUI::Cancelled);
}

// The top bar folds to the commands that end a run; the window starts as it was left.
TEST_F(WindowFixture, TheTopBarFoldsAndTheWindowRemembersIt) {
    auto button = [](PluginUI& w, const char* name) {
        return w.findChild<QWidget*>(QString::fromLatin1(name));
    };
    {
        auto window = open(); // nothing stored: unfolded
        EXPECT_TRUE(window->isTopbarExpanded());
        EXPECT_TRUE(button(*window, "topbar/load_preset")->isVisible());
        EXPECT_TRUE(button(*window, "topbar/load_outlines")->isVisible());
        auto* toggle = window->findChild<QToolButton*>(QStringLiteral("topbar/expand"));
        ASSERT_NE(toggle, nullptr);
        toggle->click();
        EXPECT_FALSE(window->isTopbarExpanded());
    }
    EXPECT_FALSE(windowStore.value(QStringLiteral("Topbar/isExpanded"), true).toBool());
    {
        auto window = open();
        EXPECT_FALSE(window->isTopbarExpanded());
        for (const char* name : {"topbar/load_preset", "topbar/save_outlines", "topbar/undo", "topbar/settings"})
            EXPECT_FALSE(button(*window, name)->isVisible()) << name;
        for (const char* name : {"topbar/run", "topbar/ok", "topbar/cancel", "topbar/expand"})
            EXPECT_TRUE(button(*window, name)->isVisible()) << name;
        // Another effect keeps the bar folded; unfolding brings its strokes buttons back.
        window->OnEffectChanged(window->effectCombo()->findData(4));
        EXPECT_FALSE(button(*window, "topbar/load_outlines")->isVisible());
        window->setTopbarExpanded(true);
        EXPECT_TRUE(button(*window, "topbar/load_outlines")->isVisible());
    }
    EXPECT_TRUE(windowStore.value(QStringLiteral("Topbar/isExpanded"), false).toBool());
}
