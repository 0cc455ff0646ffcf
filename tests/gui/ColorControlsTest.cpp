// The colour button, the colour-fraction bar and the hue slider.
#include "WidgetTestSupport.h"
#include "gui/ColorButton.h"
#include "gui/ColorFraction.h"
#include "gui/ParamSlider.h"

#include <QColorDialog>
#include <QSignalSpy>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace Orvex::GUI;
using Orvex::Testing::dragTo;
using Orvex::Testing::showActive;

namespace {
// Answers the colour dialog that the next click opens: picks `color` and accepts, or rejects when
// the colour is invalid. Fails the test if no dialog came up.
void answerDialog(ColorButton& button, const QColor& color, bool* sawAlpha = nullptr) {
    bool answered = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        if (sawAlpha) *sawAlpha = dialog->testOption(QColorDialog::ShowAlphaChannel);
        answered = true;
        if (color.isValid()) {
            dialog->setCurrentColor(color);
            dialog->accept();
        } else {
            dialog->reject();
        }
    });
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_TRUE(answered);
}
} // namespace

TEST(ColorButton, SetValueReportsNothingAndKeepsArgb) {
    ColorButton button;
    QSignalSpy changed(&button, SIGNAL(valueChanged(int)));
    button.setValue(int(0x66FF0000u));
    EXPECT_EQ(quint32(button.value()), 0x66FF0000u);
    EXPECT_EQ(button.color().alpha(), 0x66);
    button.setColor(QColor()); // invalid: ignored
    EXPECT_EQ(quint32(button.value()), 0x66FF0000u);
    EXPECT_EQ(changed.count(), 0);
}

TEST(ColorButton, ChoosingADifferentColourReportsItOnce) {
    ColorButton button;
    button.setValue(int(0xFF102030u));
    ASSERT_TRUE(showActive(button));
    QSignalSpy changed(&button, SIGNAL(valueChanged(int)));
    bool alphaShown = true;
    answerDialog(button, QColor(200, 100, 50), &alphaShown);
    EXPECT_FALSE(alphaShown);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(quint32(changed.at(0).at(0).toInt()), 0xFFC86432u);

    answerDialog(button, QColor(200, 100, 50)); // the same colour again
    EXPECT_EQ(changed.count(), 1);
    answerDialog(button, QColor()); // cancelled
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(quint32(button.value()), 0xFFC86432u);
}

TEST(ColorButton, WithoutTransparencyThePickedColourKeepsTheButtonsAlpha) {
    ColorButton button;
    button.setValue(int(0x66FF0000u));
    ASSERT_TRUE(showActive(button));
    answerDialog(button, QColor(0, 0, 255));
    EXPECT_EQ(quint32(button.value()), 0x660000FFu);
    button.setValue(0); // fully transparent black, as a store might hold
    answerDialog(button, QColor(0, 255, 0));
    EXPECT_EQ(quint32(button.value()), 0xFF00FF00u) << "a transparent colour becomes opaque";
}

TEST(ColorButton, TransparencyAllowedAcceptsAlphaZero) {
    ColorButton button;
    button.setTransparentAllowed(true);
    button.setValue(int(0xFFFFFFFFu));
    ASSERT_TRUE(showActive(button));
    QSignalSpy changed(&button, SIGNAL(valueChanged(int)));
    bool alphaShown = false;
    answerDialog(button, QColor(10, 20, 30, 0), &alphaShown);
    EXPECT_TRUE(alphaShown);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(quint32(button.value()), 0x000A141Eu);
}

TEST(ColorFraction, DividersAreRoundedOrderedAndSumToOneHundred) {
    ColorFraction bar;
    bar.setDividers(0.161, 0.7249);
    EXPECT_DOUBLE_EQ(bar.divider1(), 0.16);
    EXPECT_DOUBLE_EQ(bar.divider2(), 0.72);
    EXPECT_EQ(bar.fraction(0), 16);
    EXPECT_EQ(bar.fraction(1), 56);
    EXPECT_EQ(bar.fraction(2), 28);
    bar.setDividers(0.9, 0.1); // upside down
    EXPECT_DOUBLE_EQ(bar.divider1(), 0.1);
    EXPECT_DOUBLE_EQ(bar.divider2(), 0.9);
    bar.setDividers(-3.0, 7.0);
    EXPECT_EQ(bar.fraction(0), 0);
    EXPECT_EQ(bar.fraction(2), 0);
    EXPECT_EQ(bar.fraction(1), 100);
    bar.setDividers(std::nan(""), 0.5);
    EXPECT_DOUBLE_EQ(bar.divider1(), 0.0);
    EXPECT_DOUBLE_EQ(bar.divider2(), 0.5);
    for (double a = 0.0; a <= 1.0; a += 0.037)
        for (double b = 0.0; b <= 1.0; b += 0.053) {
            bar.setDividers(a, b);
            EXPECT_EQ(bar.fraction(0) + bar.fraction(1) + bar.fraction(2), 100);
            EXPECT_GE(bar.fraction(1), 0);
        }
}

TEST(ColorFraction, DraggingADividerReportsAndFinishesOnRelease) {
    ColorFraction bar;
    bar.resize(300, 30);
    bar.setDividers(0.25, 0.75);
    ASSERT_TRUE(showActive(bar));
    QSignalSpy moved(&bar, SIGNAL(dividersChanged(double, double)));
    QSignalSpy finished(&bar, SIGNAL(editingFinished()));
    const int y = bar.height() / 2;
    const QPoint grab(int(std::round(bar.xOf(0.25))), y);
    QTest::mousePress(&bar, Qt::LeftButton, Qt::NoModifier, grab);
    EXPECT_TRUE(bar.isDragging());
    dragTo(&bar, {int(std::round(bar.xOf(0.40))), y});
    EXPECT_NEAR(bar.divider1(), 0.40, 0.011);
    dragTo(&bar, {int(std::round(bar.xOf(0.95))), y}); // pushed against the second divider
    EXPECT_DOUBLE_EQ(bar.divider1(), 0.75);
    EXPECT_DOUBLE_EQ(bar.divider2(), 0.75);
    EXPECT_GE(moved.count(), 2);
    EXPECT_EQ(finished.count(), 0);
    QTest::mouseRelease(&bar, Qt::LeftButton, Qt::NoModifier, {int(std::round(bar.xOf(0.95))), y});
    EXPECT_EQ(finished.count(), 1);
    EXPECT_FALSE(bar.isDragging());
}

TEST(ColorFraction, CoincidentDividersFollowTheFirstMovement) {
    ColorFraction bar;
    bar.resize(300, 30);
    const int y = bar.height() / 2;
    ASSERT_TRUE(showActive(bar));
    for (const bool right : {true, false}) {
        bar.setDividers(0.5, 0.5);
        const QPoint at(int(std::round(bar.xOf(0.5))), y);
        QTest::mousePress(&bar, Qt::LeftButton, Qt::NoModifier, at);
        const QPoint to(int(std::round(bar.xOf(right ? 0.8 : 0.2))), y);
        dragTo(&bar, to);
        QTest::mouseRelease(&bar, Qt::LeftButton, Qt::NoModifier, to);
        if (right) {
            EXPECT_DOUBLE_EQ(bar.divider1(), 0.5);
            EXPECT_NEAR(bar.divider2(), 0.8, 0.011);
        } else {
            EXPECT_NEAR(bar.divider1(), 0.2, 0.011);
            EXPECT_DOUBLE_EQ(bar.divider2(), 0.5);
        }
    }
}

TEST(ColorFraction, KeysMoveTheCurrentDividerAndFinishEachStep) {
    ColorFraction bar;
    bar.resize(300, 30);
    bar.setDividers(0.2, 0.6);
    ASSERT_TRUE(showActive(bar));
    bar.setFocus();
    QSignalSpy finished(&bar, SIGNAL(editingFinished()));
    QTest::keyClick(&bar, Qt::Key_Right);
    EXPECT_DOUBLE_EQ(bar.divider1(), 0.21);
    QTest::keyClick(&bar, Qt::Key_Space);
    QTest::keyClick(&bar, Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_DOUBLE_EQ(bar.divider2(), 0.5);
    EXPECT_EQ(finished.count(), 2);
    bar.setDividers(0.0, 1.0);
    QTest::keyClick(&bar, Qt::Key_Right); // the second divider is already at the end
    EXPECT_EQ(finished.count(), 2);
}

TEST(ColorFraction, PressOnASegmentBringsTheNearestDivider) {
    ColorFraction bar;
    bar.resize(300, 30);
    bar.setDividers(0.2, 0.8);
    ASSERT_TRUE(showActive(bar));
    QSignalSpy finished(&bar, SIGNAL(editingFinished()));
    const QPoint at(int(std::round(bar.xOf(0.7))), bar.height() / 2);
    QTest::mouseClick(&bar, Qt::LeftButton, Qt::NoModifier, at);
    EXPECT_DOUBLE_EQ(bar.divider1(), 0.2);
    EXPECT_NEAR(bar.divider2(), 0.7, 0.011);
    EXPECT_EQ(finished.count(), 1);
}
