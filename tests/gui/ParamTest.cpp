// The parameter controls as a user and an effect panel meet them: reports while dragging, typing,
// keys, range changes and bad input.
#include "gui/Param.h"
#include "WidgetTestSupport.h"
#include "gui/ColorButton.h"

#include <QCursor>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSignalSpy>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace Orvex::GUI;
using Orvex::Testing::dragTo;
using Orvex::Testing::showActive;
using Orvex::Testing::waitUntil;

namespace {

// A window holding one control at a size where the slider has room to move.
template <class Control> struct Panel {
    QWidget window;
    Control* control;
    Panel() {
        auto* layout = new QVBoxLayout(&window);
        control = new Control(&window);
        layout->addWidget(control);
        window.resize(420, 70);
    }
};

QPoint handleCentre(ParamSlider* slider) {
    return {slider->xOfValue(slider->value()), slider->height() / 2};
}

} // namespace

TEST(ParamCaption, CutsBeforeTheLastCommaParenthesisOrIdeographicComma) {
    EXPECT_EQ(ParamBase::cutCaption("Opacity, %"), "Opacity");
    EXPECT_EQ(ParamBase::cutCaption("Size (px)"), "Size ");
    EXPECT_EQ(ParamBase::cutCaption("Density"), "Density");
    EXPECT_EQ(ParamBase::cutCaption("a, b (c)"), "a, b ");
    EXPECT_EQ(ParamBase::cutCaption("a (b), c"), "a (b)");
    EXPECT_EQ(ParamBase::cutCaption(QString::fromUtf8("角度、度")), QString::fromUtf8("角度"));
    EXPECT_EQ(ParamBase::cutCaption(""), "");
    Param param;
    param.setText("Length, px");
    EXPECT_EQ(param.label()->text(), "Length");
    EXPECT_EQ(param.caption(), "Length, px");
}

TEST(ParamSuffix, GoesIntoTheSpinBoxAfterOneBlank) {
    Param param;
    param.setSuffix("px");
    EXPECT_EQ(param.spinBox()->suffix(), " px");
    EXPECT_EQ(param.suffix(), "px");
    EXPECT_TRUE(param.labelSuffix()->text().isEmpty());
    param.setSuffix("");
    EXPECT_EQ(param.suffix(), "");
    ParamDbl real;
    real.setSuffix("°");
    EXPECT_EQ(real.suffix(), "°");
    EXPECT_EQ(real.property("suffix").toString(), "°");
}

TEST(ParamValue, FirstSetValueIsAlwaysReportedAndNeverFinalized) {
    for (int first : {0, 37, -5}) {
        Param param;
        param.setRange(-10, 100);
        QSignalSpy changed(&param, SIGNAL(valueChanged(int)));
        QSignalSpy finalized(&param, SIGNAL(finalizedValue(int)));
        param.setValue(first);
        ASSERT_EQ(changed.count(), 1) << first;
        EXPECT_EQ(changed.at(0).at(0).toInt(), first);
        param.setValue(first);
        EXPECT_EQ(changed.count(), 1) << "an unchanged value is not reported again";
        param.setValue(first + 1);
        EXPECT_EQ(changed.count(), 2);
        EXPECT_EQ(finalized.count(), 0);
    }
}

TEST(ParamValue, SetValueKeepsSliderAndSpinBoxInStep) {
    Param param;
    param.setRange(1, 1000, 100);
    param.setValue(100);
    EXPECT_EQ(param.slider()->value(), 99);
    EXPECT_EQ(param.spinBox()->value(), 100);
    param.setValue(1000);
    EXPECT_EQ(param.slider()->value(), 198);
}

TEST(ParamValue, OutOfRangeValuesAreClampedAndReportedClamped) {
    Param param;
    param.setRange(0, 50);
    QSignalSpy changed(&param, SIGNAL(valueChanged(int)));
    param.setValue(500);
    EXPECT_EQ(param.value(), 50);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.at(0).at(0).toInt(), 50);
    param.setValue(std::numeric_limits<int>::min());
    EXPECT_EQ(param.value(), 0);
    EXPECT_EQ(param.slider()->value(), 0);
}

TEST(ParamValue, BlockedSignalsStillTrackTheValue) {
    Param param;
    QSignalSpy changed(&param, SIGNAL(valueChanged(int)));
    param.blockSignals(true);
    param.setValue(12);
    param.blockSignals(false);
    EXPECT_EQ(changed.count(), 0);
    param.setValue(12);
    EXPECT_EQ(changed.count(), 0) << "the blocked set already made 12 the last reported value";
}

TEST(ParamRange, LinearNonLinearAndBadRanges) {
    Param param;
    param.setRange(1, 1000, 100);
    EXPECT_EQ(param.slider()->minimum(), 0);
    EXPECT_EQ(param.slider()->maximum(), 198);
    EXPECT_NE(dynamic_cast<const NonLinear*>(&param.scale()), nullptr);

    param.setRange(100, 0); // upside down
    EXPECT_EQ(param.minimum(), 0);
    EXPECT_EQ(param.maximum(), 100);
    EXPECT_EQ(param.slider()->maximum(), 100);
    EXPECT_EQ(dynamic_cast<const NonLinear*>(&param.scale()), nullptr);

    param.setRange(5, 5); // empty
    EXPECT_EQ(param.slider()->maximum(), 0);
    param.setValue(9);
    EXPECT_EQ(param.value(), 5);

    param.setRange(0, 100, 0); // mid outside the open range: linear
    EXPECT_EQ(param.slider()->maximum(), 100);
    param.setRange(0, 100, 400);
    EXPECT_EQ(param.slider()->maximum(), 100);

    param.setRange(std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
    param.setValue(0);
    EXPECT_EQ(param.value(), 0);
    EXPECT_GT(param.slider()->maximum(), 0);
    EXPECT_EQ(param.scale().positionToValue(param.slider()->value()),
              param.scale().positionToValue(param.scale().valueToPosition(0)));
    EXPECT_EQ(param.scale().positionToValue(param.slider()->maximum()), std::numeric_limits<int>::max());
}

TEST(ParamRange, RangeChangeClampsQuietly) {
    Param param;
    param.setRange(0, 100);
    param.setValue(80);
    QSignalSpy changed(&param, SIGNAL(valueChanged(int)));
    param.setMaximum(50);
    EXPECT_EQ(param.value(), 50);
    EXPECT_EQ(param.slider()->value(), 50);
    EXPECT_EQ(changed.count(), 0);
    param.setMinimum(10);
    EXPECT_EQ(param.minimum(), 10);
    EXPECT_EQ(param.slider()->maximum(), 40);
}

TEST(ParamDblRange, DecimalsDriveSliderPositions) {
    ParamDbl param;
    param.setDecimals(2);
    param.setRange(0.0, 5.0);
    EXPECT_EQ(param.slider()->maximum(), 500);
    EXPECT_DOUBLE_EQ(param.singleStep(), 0.01);
    param.setDecimals(20);
    EXPECT_EQ(param.decimals(), 16);
    EXPECT_DOUBLE_EQ(param.singleStep(), 1e-16);
    param.setDecimals(-4);
    EXPECT_EQ(param.decimals(), 0);
    EXPECT_EQ(param.slider()->maximum(), 5);
    param.setDecimals(1);
    EXPECT_EQ(param.slider()->maximum(), 50) << "decimals set after the range rebuild the slider";
}

TEST(ParamDblRange, BadInputIsIgnoredOrClamped) {
    ParamDbl param;
    param.setRange(0.0, 5.0);
    const double inf = std::numeric_limits<double>::infinity();
    param.setRange(std::nan(""), 1.0);
    param.setRange(0.0, inf);
    EXPECT_DOUBLE_EQ(param.maximum(), 5.0);
    param.setRange(5.0, -5.0);
    EXPECT_DOUBLE_EQ(param.minimum(), -5.0);
    EXPECT_DOUBLE_EQ(param.maximum(), 5.0);
    EXPECT_EQ(param.slider()->maximum(), 1000);

    QSignalSpy changed(&param, SIGNAL(valueChanged(double)));
    param.setValue(1.25);
    ASSERT_EQ(changed.count(), 1);
    param.setValue(std::nan(""));
    EXPECT_DOUBLE_EQ(param.value(), 1.25);
    param.setValue(inf);
    EXPECT_DOUBLE_EQ(param.value(), 5.0);
    EXPECT_EQ(param.slider()->value(), 1000);
    param.setValue(-inf);
    EXPECT_DOUBLE_EQ(param.value(), -5.0);
    EXPECT_EQ(changed.count(), 3);

    param.setDecimals(16); // 10^17 positions asked for: capped, still linear and monotonic
    EXPECT_GT(param.slider()->maximum(), 1000);
    param.setValue(2.5);
    EXPECT_NEAR(param.scale().positionToValue(param.slider()->value()), 2.5, 1e-6);
}

TEST(ParamDblValue, ReportsWhatTheSpinBoxShows) {
    ParamDbl param;
    param.setDecimals(1);
    param.setRange(0.0, 10.0);
    QSignalSpy changed(&param, SIGNAL(valueChanged(double)));
    param.setValue(2.34);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_DOUBLE_EQ(changed.at(0).at(0).toDouble(), 2.3);
    EXPECT_EQ(param.slider()->value(), 23);
}

TEST(ParamDrag, OneSecondOfDraggingReportsAboutFourTimesAndFinalizesOnce) {
    Panel<Param> panel;
    Param* param = panel.control;
    param->setRange(0, 1000);
    param->setValue(0);
    ASSERT_TRUE(showActive(panel.window));
    ParamSlider* slider = param->slider();
    QSignalSpy changed(param, SIGNAL(valueChanged(int)));
    QSignalSpy finalized(param, SIGNAL(finalizedValue(int)));

    const QPoint start = handleCentre(slider);
    const int travel = slider->width() - 2 * start.x();
    QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, start);
    EXPECT_TRUE(param->isDragging());
    QElapsedTimer clock;
    clock.start();
    int moves = 0;
    while (clock.elapsed() < 1000) {
        dragTo(slider, {start.x() + int(travel * clock.elapsed() / 1000), start.y()});
        ++moves;
        QTest::qWait(15);
    }
    const QPoint end(start.x() + travel * 3 / 4, start.y());
    dragTo(slider, end);
    const qint64 elapsed = clock.elapsed();
    const int duringDrag = changed.count();
    QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, end);

    EXPECT_FALSE(param->isDragging());
    ASSERT_EQ(finalized.count(), 1);
    EXPECT_GE(duringDrag, moves >= 30 ? 2 : 1); // a starved event loop moves less often
    EXPECT_LE(duringDrag, elapsed / 256 + 1);
    EXPECT_LT(changed.count(), moves / 4) << "throttled, not once per mouse move";
    const int final = finalized.at(0).at(0).toInt();
    EXPECT_EQ(final, param->value());
    EXPECT_EQ(changed.last().at(0).toInt(), final) << "the last report before finalising is the final value";
    EXPECT_EQ(param->scale().positionToValue(slider->value()), final);
    EXPECT_FALSE(param->isThrottleRunning());
}

TEST(ParamDrag, UnthrottledControlReportsEveryPosition) {
    Panel<ParamDbl> panel;
    ParamDbl* param = panel.control;
    param->setDecimals(0);
    param->setRange(0.0, 100.0);
    param->setThrottled(false);
    ASSERT_TRUE(showActive(panel.window));
    ParamSlider* slider = param->slider();
    QSignalSpy changed(param, SIGNAL(valueChanged(double)));
    QSignalSpy finalized(param, SIGNAL(finalizedValue(double)));
    const QPoint start = handleCentre(slider);
    QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, start);
    for (int v : {10, 20, 30}) dragTo(slider, {slider->xOfValue(v), start.y()});
    QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, {slider->xOfValue(30), start.y()});
    ASSERT_EQ(changed.count(), 3);
    EXPECT_DOUBLE_EQ(changed.at(2).at(0).toDouble(), 30.0);
    ASSERT_EQ(finalized.count(), 1);
    EXPECT_DOUBLE_EQ(finalized.at(0).at(0).toDouble(), 30.0);
}

TEST(ParamSliderInput, TrackClickJumpsAtOnceAndKeysFinalize) {
    Panel<Param> panel;
    Param* param = panel.control;
    param->setRange(0, 100);
    param->setValue(0);
    ASSERT_TRUE(showActive(panel.window));
    ParamSlider* slider = param->slider();
    QSignalSpy changed(param, SIGNAL(valueChanged(int)));
    QSignalSpy finalized(param, SIGNAL(finalizedValue(int)));

    const QPoint target(slider->xOfValue(60), slider->height() / 2);
    QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, target);
    ASSERT_EQ(changed.count(), 1) << "the jump is reported before any throttling";
    EXPECT_EQ(changed.at(0).at(0).toInt(), 60);
    QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, target);
    ASSERT_EQ(finalized.count(), 1);
    EXPECT_EQ(finalized.at(0).at(0).toInt(), 60);

    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_Right);
    EXPECT_EQ(param->value(), 61);
    EXPECT_EQ(changed.last().at(0).toInt(), 61);
    ASSERT_EQ(finalized.count(), 2);
    EXPECT_EQ(finalized.last().at(0).toInt(), 61);
    QTest::keyClick(slider, Qt::Key_Home);
    EXPECT_EQ(finalized.last().at(0).toInt(), 0);
    QTest::keyClick(slider, Qt::Key_Left); // already at the end: nothing to report
    EXPECT_EQ(finalized.count(), 3);
}

TEST(ParamSliderInput, DisablingDuringADragStillFinalizes) {
    Panel<Param> panel;
    Param* param = panel.control;
    param->setValue(0);
    ASSERT_TRUE(showActive(panel.window));
    ParamSlider* slider = param->slider();
    QSignalSpy finalized(param, SIGNAL(finalizedValue(int)));
    const QPoint start = handleCentre(slider);
    QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, start);
    dragTo(slider, {slider->xOfValue(40), start.y()});
    param->setEnabled(false);
    EXPECT_FALSE(param->isDragging());
    ASSERT_EQ(finalized.count(), 1);
    EXPECT_EQ(finalized.at(0).at(0).toInt(), 40);
}

TEST(ParamTyping, ValueOnTheCurrentPositionReportsOnlyWhenEditingFinishes) {
    Panel<Param> panel;
    Param* param = panel.control;
    param->setRange(1, 1000, 100);
    param->setValue(995);
    const int position = param->slider()->value();
    // Another value that the bent scale puts on the same slider position.
    int sameSpot = 0;
    for (int v = 994; v > 900 && sameSpot == 0; --v)
        if (param->scale().valueToPosition(v) == position) sameSpot = v;
    ASSERT_NE(sameSpot, 0);
    ASSERT_TRUE(showActive(panel.window));

    QSignalSpy changed(param, SIGNAL(valueChanged(int)));
    QSignalSpy finalized(param, SIGNAL(finalizedValue(int)));
    QAbstractSpinBox* box = param->spinBox()->box();
    box->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(param->spinBox()->hasEditFocus());
    box->selectAll();
    QTest::keyClicks(box, QString::number(sameSpot));
    QTest::qWait(400); // longer than the typing throttle
    EXPECT_EQ(param->spinBox()->value(), sameSpot);
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(finalized.count(), 0);
    EXPECT_EQ(param->slider()->value(), position);

    QTest::keyClick(box, Qt::Key_Return);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.at(0).at(0).toInt(), sameSpot);
    ASSERT_EQ(finalized.count(), 1);
    EXPECT_EQ(finalized.at(0).at(0).toInt(), sameSpot);
}

TEST(ParamTyping, NewPositionMovesTheSliderAndReportsAfterThePause) {
    Panel<Param> panel;
    Param* param = panel.control;
    param->setRange(0, 100);
    param->setValue(10);
    ASSERT_TRUE(showActive(panel.window));
    QSignalSpy changed(param, SIGNAL(valueChanged(int)));
    QSignalSpy finalized(param, SIGNAL(finalizedValue(int)));
    QAbstractSpinBox* box = param->spinBox()->box();
    box->setFocus(Qt::TabFocusReason);
    box->selectAll();
    QTest::keyClicks(box, "75");
    EXPECT_EQ(changed.count(), 0) << "keystrokes are not reported one by one";
    ASSERT_TRUE(waitUntil([&] { return changed.count() == 1; }));
    EXPECT_EQ(changed.at(0).at(0).toInt(), 75);
    EXPECT_EQ(param->slider()->value(), 75);
    EXPECT_EQ(finalized.count(), 0);
    // Leaving the box finishes the edit.
    param->slider()->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(changed.count(), 1);
    ASSERT_EQ(finalized.count(), 1);
    EXPECT_EQ(finalized.at(0).at(0).toInt(), 75);
}

TEST(ParamTyping, ArrowKeysInTheSpinBoxReportAndFinalizeAtOnce) {
    Panel<ParamDbl> panel;
    ParamDbl* param = panel.control;
    param->setDecimals(1);
    param->setRange(0.0, 10.0);
    param->setValue(5.0);
    ASSERT_TRUE(showActive(panel.window));
    QSignalSpy changed(param, SIGNAL(valueChanged(double)));
    QSignalSpy finalized(param, SIGNAL(finalizedValue(double)));
    QAbstractSpinBox* box = param->spinBox()->box();
    box->setFocus(Qt::TabFocusReason);
    QTest::keyClick(box, Qt::Key_Up);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_DOUBLE_EQ(changed.at(0).at(0).toDouble(), 5.1);
    ASSERT_EQ(finalized.count(), 1);
    EXPECT_DOUBLE_EQ(finalized.at(0).at(0).toDouble(), 5.1);
    EXPECT_EQ(param->slider()->value(), 51);
    // Leaving the box afterwards adds nothing: the step was already final.
    param->slider()->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(finalized.count(), 1);
}

TEST(ParamThrottle, ANestedTickDoesNotEmitWhileAnotherTickIsEmitting) {
    Param first, second;
    first.setRange(0, 100);
    second.setRange(0, 100);
    first.setValue(0);
    second.setValue(0);
    QSignalSpy secondChanged(&second, SIGNAL(valueChanged(int)));
    int nestedReports = -1;
    QObject::connect(&first, &Param::valueChanged, &first, [&](int) {
        if (nestedReports >= 0) return;
        // A listener that spins the event loop (as a blocking wait for the work thread does).
        const int before = secondChanged.count();
        QTest::qWait(700);
        nestedReports = secondChanged.count() - before;
    });
    // Both controls are mid-drag with a change pending.
    first.slider()->setSliderDown(true);
    second.slider()->setSliderDown(true);
    first.slider()->setValue(30);
    QTest::qWait(100);
    second.slider()->setValue(70);
    ASSERT_TRUE(waitUntil([&] { return nestedReports >= 0; }, 5000));
    EXPECT_EQ(nestedReports, 0);
    ASSERT_TRUE(
        waitUntil([&] { return secondChanged.count() == 1; })); // reported once the outer emission is over
    EXPECT_EQ(secondChanged.at(0).at(0).toInt(), 70);
}

TEST(ParamTyping, AfterDraggingTheSliderTypingReplacesTheValue) {
    Panel<Param> panel;
    Param* param = panel.control;
    param->setRange(0, 100);
    param->setValue(20);
    ASSERT_TRUE(showActive(panel.window));
    ParamSlider* slider = param->slider();
    QSignalSpy finalized(param, SIGNAL(finalizedValue(int)));
    const QPoint start = handleCentre(slider);
    QCursor::setPos(slider->mapToGlobal(start)); // the pointer is over the slider while dragging
    QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, start);
    for (int v : {30, 40, 50}) {
        dragTo(slider, {slider->xOfValue(v), start.y()});
        QTest::qWait(10);
    }
    QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, {slider->xOfValue(50), start.y()});
    ASSERT_EQ(finalized.count(), 1);
    QAbstractSpinBox* box = param->spinBox()->box();
    ASSERT_TRUE(box->hasFocus()) << "the spin box takes the keyboard while the slider moves";
    EXPECT_EQ(param->spinBox()->lineEdit()->selectedText(), QString("50"));
    QTest::keyClicks(box, "33");
    QTest::keyClick(box, Qt::Key_Return);
    ASSERT_EQ(finalized.count(), 2);
    EXPECT_EQ(finalized.last().at(0).toInt(), 33);
    EXPECT_EQ(slider->value(), 33);
}

// Effect panels connect by signature strings, spaces and all.
class Receiver : public QObject {
    Q_OBJECT
public:
    QList<int> ints;
    QList<double> reals;
public slots:
    void OnIntChanged(int v) { ints << v; }
    void OnRealChanged(double v) { reals << v; }
};

TEST(ParamSignals, StringConnectionsAsPanelsWriteThem) {
    Param param;
    ParamDbl real;
    ColorButton color;
    Receiver r;
    EXPECT_TRUE(QObject::connect(&param, "2finalizedValue( int )", &r, "1OnIntChanged( int )"));
    EXPECT_TRUE(QObject::connect(&param, "2valueChanged ( int )", &r, "1OnIntChanged(int)"));
    EXPECT_TRUE(QObject::connect(&real, "2finalizedValue( double )", &r, "1OnRealChanged(double)"));
    EXPECT_TRUE(QObject::connect(&color, "2valueChanged ( int )", &r, "1OnIntChanged(int)"));
    param.setValue(12);
    real.setValue(0.5);
    param.OnSliderFinalized(0);
    real.OnSpinBoxFinalized(0.5);
    EXPECT_EQ(r.ints, (QList<int>{12, 12}));
    EXPECT_EQ(r.reals, (QList<double>{0.5}));
    EXPECT_EQ(param.property("value").toInt(), 12);
    EXPECT_TRUE(param.setProperty("maximum", 10));
    EXPECT_EQ(param.value(), 10);
}

#include "ParamTest.moc"
