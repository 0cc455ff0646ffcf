// The progress widget against a live progress record.
#include "ui/EvalProgressBar.h"
#include "WidgetTestSupport.h"
#include "document/ProgressData.h"

#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>

#include <gtest/gtest.h>

using Orvex::Document::ProgressData;
using Orvex::Testing::waitUntil;
using Orvex::UI::EvalProgressBar;

TEST(EvalProgressBar, WritesItsRangeIntoTheRecord) {
    ProgressData progress;
    progress.setDisplayRange(7, 3);
    EvalProgressBar bar(&progress);
    EXPECT_EQ(progress.displayMin(), 0);
    EXPECT_EQ(progress.displaySpan(), 100);
    EXPECT_EQ(bar.progress(), &progress);
}

TEST(EvalProgressBar, PollsWhileShownAndStopsWhenHidden) {
    ProgressData progress;
    EvalProgressBar bar(&progress);
    EXPECT_FALSE(bar.isPolling());
    bar.show();
    EXPECT_TRUE(bar.isPolling());
    EXPECT_EQ(bar.bar()->value(), 0);
    progress.setTotal(4);
    progress.step(3);
    ASSERT_TRUE(waitUntil([&] { return bar.bar()->value() == 75; }));
    bar.hide();
    EXPECT_FALSE(bar.isPolling());
    progress.step();
    QTest::qWait(120);
    EXPECT_EQ(bar.bar()->value(), 75) << "a hidden bar does not poll";
    bar.show();
    EXPECT_EQ(bar.bar()->value(), 100) << "showing reads the record at once";
}

TEST(EvalProgressBar, RoundsHalfAwayFromZero) {
    ProgressData progress;
    progress.setPlainRatio(true);
    EvalProgressBar bar(&progress);
    progress.setTotal(8);
    progress.step(); // 12.5 %
    bar.refresh();
    EXPECT_EQ(bar.bar()->value(), 13);
}

TEST(EvalProgressBar, BusyIndicatorWhileIndeterminate) {
    ProgressData progress;
    EvalProgressBar bar(&progress);
    bar.show();
    progress.setTotal(2);
    progress.step();
    progress.setIndeterminate(true);
    ASSERT_TRUE(waitUntil([&] { return bar.bar()->maximum() == 0; }));
    EXPECT_EQ(bar.bar()->minimum(), 0);
    progress.setIndeterminate(false);
    ASSERT_TRUE(waitUntil([&] { return bar.bar()->maximum() == 100; }));
    EXPECT_EQ(bar.bar()->value(), 50);
}

TEST(EvalProgressBar, ModesShowOneButtonEach) {
    EvalProgressBar bar(nullptr, EvalProgressBar::CancelMode);
    bar.show();
    EXPECT_TRUE(bar.buttonCancel()->isVisible());
    EXPECT_FALSE(bar.buttonCommit()->isVisible());
    EXPECT_EQ(bar.buttonCancel()->text(), "Cancel");
    bar.setMode(EvalProgressBar::CommitMode);
    EXPECT_FALSE(bar.buttonCancel()->isVisible());
    EXPECT_TRUE(bar.buttonCommit()->isVisible());
    EXPECT_EQ(bar.buttonCommit()->text(), "Stop");
    bar.setMode(7); // unknown: the cancel mode
    EXPECT_EQ(bar.mode(), EvalProgressBar::CancelMode);
}

TEST(EvalProgressBar, WorksWithoutARecordAndWhenItIsTakenAway) {
    ProgressData progress;
    EvalProgressBar bar(&progress);
    bar.show();
    progress.setTotal(1);
    progress.step();
    bar.refresh();
    EXPECT_EQ(bar.bar()->value(), 100);
    bar.setProgress(nullptr);
    EXPECT_EQ(bar.bar()->value(), 0);
    QTest::qWait(120); // ticks with no record
    EXPECT_EQ(bar.bar()->value(), 0);
}
