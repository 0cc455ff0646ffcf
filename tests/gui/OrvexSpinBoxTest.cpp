// The spin-box wrapper on its own: what it reports for typing, steps, focus and code.
#include "gui/OrvexSpinBox.h"
#include "WidgetTestSupport.h"

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
struct BoxWindow {
    QWidget window;
    OrvexSpinBox* box;
    QWidget* other;
    BoxWindow() {
        auto* layout = new QVBoxLayout(&window);
        box = new OrvexSpinBox(&window);
        other = new QLineEdit(&window);
        layout->addWidget(box);
        layout->addWidget(other);
        box->setRange(0, 1000);
    }
};
} // namespace

TEST(OrvexSpinBox, SettingTheValueInCodeReportsNothing) {
    OrvexSpinBox box;
    box.setRange(0, 100);
    QSignalSpy changed(&box, SIGNAL(valueChanged(int)));
    QSignalSpy finalized(&box, SIGNAL(finalizedValue(int)));
    box.setValue(40);
    box.setValue(400); // clamped by the box
    EXPECT_EQ(box.value(), 100);
    EXPECT_EQ(box.lastReported(), 100);
    EXPECT_EQ(box.lastFinalized(), 100);
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(finalized.count(), 0);
}

TEST(OrvexSpinBox, ChangesWithoutFocusAreReportedAtOnce) {
    OrvexSpinBox box;
    box.setRange(0, 100);
    QSignalSpy changed(&box, SIGNAL(valueChanged(int)));
    box.box()->setValue(7); // as a change arriving while the box has no focus
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.at(0).at(0).toInt(), 7);
    box.box()->setValue(7);
    EXPECT_EQ(changed.count(), 1);
}

TEST(OrvexSpinBox, TypingIsReportedAfterAPauseAndFinalizedOnEnter) {
    BoxWindow w;
    w.box->setValue(5);
    ASSERT_TRUE(showActive(w.window));
    QSignalSpy changed(w.box, SIGNAL(valueChanged(int)));
    QSignalSpy finalized(w.box, SIGNAL(finalizedValue(int)));
    w.box->setFocus();
    ASSERT_TRUE(w.box->hasEditFocus());
    w.box->selectAll();
    QTest::keyClicks(w.box->box(), "321");
    EXPECT_EQ(changed.count(), 0);
    ASSERT_TRUE(waitUntil([&] { return changed.count() == 1; }));
    EXPECT_EQ(changed.at(0).at(0).toInt(), 321);
    QTest::keyClick(w.box->box(), Qt::Key_Enter);
    EXPECT_EQ(changed.count(), 1) << "already reported";
    ASSERT_EQ(finalized.count(), 1);
    EXPECT_EQ(finalized.at(0).at(0).toInt(), 321);
    QTest::keyClick(w.box->box(), Qt::Key_Enter);
    EXPECT_EQ(finalized.count(), 1) << "an unchanged value is not finalised twice";
}

TEST(OrvexSpinBox, EnterBeforeThePauseReportsBothAtOnce) {
    BoxWindow w;
    ASSERT_TRUE(showActive(w.window));
    QSignalSpy changed(w.box, SIGNAL(valueChanged(int)));
    QSignalSpy finalized(w.box, SIGNAL(finalizedValue(int)));
    w.box->setFocus();
    w.box->selectAll();
    QTest::keyClicks(w.box->box(), "12");
    QTest::keyClick(w.box->box(), Qt::Key_Return);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.at(0).at(0).toInt(), 12);
    ASSERT_EQ(finalized.count(), 1);
    QTest::qWait(350);
    EXPECT_EQ(changed.count(), 1) << "the stopped timer does not report again";
}

TEST(OrvexSpinBox, FocusLossFinishesTheEdit) {
    BoxWindow w;
    ASSERT_TRUE(showActive(w.window));
    QSignalSpy finalized(w.box, SIGNAL(finalizedValue(int)));
    w.box->setFocus();
    w.box->selectAll();
    QTest::keyClicks(w.box->box(), "77");
    w.other->setFocus();
    EXPECT_FALSE(w.box->hasEditFocus());
    ASSERT_EQ(finalized.count(), 1);
    EXPECT_EQ(finalized.at(0).at(0).toInt(), 77);
}

TEST(OrvexSpinBox, StepsReportAndFinalizeAtOnceEvenWithFocus) {
    BoxWindow w;
    w.box->setValue(10);
    ASSERT_TRUE(showActive(w.window));
    QSignalSpy changed(w.box, SIGNAL(valueChanged(int)));
    QSignalSpy finalized(w.box, SIGNAL(finalizedValue(int)));
    w.box->setFocus();
    QTest::keyClick(w.box->box(), Qt::Key_Up);
    QTest::keyClick(w.box->box(), Qt::Key_Up);
    ASSERT_EQ(changed.count(), 2);
    EXPECT_EQ(changed.at(1).at(0).toInt(), 12);
    ASSERT_EQ(finalized.count(), 2);
    EXPECT_EQ(finalized.at(1).at(0).toInt(), 12);
}

TEST(OrvexSpinBox, ThrottleOffReportsEveryKeystroke) {
    BoxWindow w;
    w.box->setThrottled(false);
    ASSERT_TRUE(showActive(w.window));
    QSignalSpy changed(w.box, SIGNAL(valueChanged(int)));
    w.box->setFocus();
    w.box->selectAll();
    QTest::keyClicks(w.box->box(), "45");
    ASSERT_EQ(changed.count(), 2);
    EXPECT_EQ(changed.at(0).at(0).toInt(), 4);
    EXPECT_EQ(changed.at(1).at(0).toInt(), 45);
}

TEST(OrvexSpinBox, MouseFocusSelectsTheWholeText) {
    BoxWindow w;
    w.box->setValue(123);
    ASSERT_TRUE(showActive(w.window));
    QLineEdit* edit = w.box->lineEdit();
    w.other->setFocus(); // the box took the window's first focus; start from elsewhere
    ASSERT_FALSE(w.box->hasEditFocus());
    // A click inside the text places the cursor first; the whole text is selected right after.
    QTest::mouseClick(edit, Qt::LeftButton, Qt::NoModifier, QPoint(edit->width() - 4, edit->height() / 2));
    ASSERT_TRUE(w.box->hasEditFocus());
    ASSERT_TRUE(waitUntil([&] { return edit->selectedText() == QString("123"); }));
}

TEST(OrvexDoubleSpinBox, NonFiniteInputIsIgnoredOrClamped) {
    OrvexDoubleSpinBox box;
    box.setDecimals(3);
    box.setRange(-1.0, 1.0);
    box.setValue(0.25);
    box.setValue(std::nan(""));
    EXPECT_DOUBLE_EQ(box.value(), 0.25);
    box.setValue(std::numeric_limits<double>::infinity());
    EXPECT_DOUBLE_EQ(box.value(), 1.0);
    box.setRange(std::nan(""), 5.0);
    EXPECT_DOUBLE_EQ(box.maximum(), 1.0);
    box.setRange(2.0, -2.0);
    EXPECT_DOUBLE_EQ(box.minimum(), -2.0);
    EXPECT_EQ(box.decimals(), 3);
}

TEST(OrvexSpinBox, RealClickWithAJitterSelectsTheWholeText) {
    BoxWindow w;
    w.box->setValue(456);
    ASSERT_TRUE(showActive(w.window));
    QLineEdit* edit = w.box->lineEdit();
    w.other->setFocus();
    // A real click: press and release reach the box in separate passes of the event loop, and the
    // hand moves the pointer by a pixel in between (which would extend a selection from the press).
    const QPoint at(edit->width() - 4 - edit->fontMetrics().horizontalAdvance("56"), edit->height() / 2);
    QTest::mousePress(edit, Qt::LeftButton, Qt::NoModifier, at);
    QTest::qWait(20);
    dragTo(edit, at + QPoint(1, 0));
    QTest::qWait(20);
    QTest::mouseRelease(edit, Qt::LeftButton, Qt::NoModifier, at + QPoint(1, 0));
    ASSERT_TRUE(waitUntil([&] { return edit->selectedText() == QString("456"); }));
    QTest::keyClicks(w.box->box(), "9");
    EXPECT_EQ(w.box->value(), 9) << "typing replaces the value";
}
