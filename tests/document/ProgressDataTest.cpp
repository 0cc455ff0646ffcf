#include "document/ProgressData.h"
#include "mt/JobsPool.h"

#include <gtest/gtest.h>

using Orvex::Document::ProgressData;

TEST(ProgressData, StageInsideRange) {
    ProgressData progress;
    EXPECT_DOUBLE_EQ(progress.value(), 0.0);
    progress.setStage(0.5, 0.5, 4);
    progress.step(3);
    EXPECT_DOUBLE_EQ(progress.value(), 0.875);
    progress.step(5); // beyond the stage's end: stays at the range end
    EXPECT_DOUBLE_EQ(progress.value(), 1.0);

    ProgressData ranged;
    ranged.setRange(0.2, 0.5);
    ranged.setStage(0.0, 1.0, 10);
    ranged.step(20);
    EXPECT_DOUBLE_EQ(ranged.value(), 0.7);
}

TEST(ProgressData, NoTotalMeansNoProgressAndPlainRatio) {
    ProgressData progress;
    progress.step(5);
    EXPECT_DOUBLE_EQ(progress.value(), 0.0);
    ProgressData plain;
    plain.setPlainRatio(true);
    plain.setRange(0.5, 0.5); // ignored by the plain ratio
    plain.setTotal(8);
    plain.step(2);
    EXPECT_DOUBLE_EQ(plain.value(), 0.25);
}

TEST(ProgressData, PhasesFoldAndShareIsCutAtTheEnd) {
    ProgressData progress;
    progress.beginPhase(0.5, 10);
    progress.step(10);
    EXPECT_DOUBLE_EQ(progress.value(), 0.5);
    progress.beginPhase(0.3, 4); // an unfinished phase folds only what it filled
    progress.step(2);
    EXPECT_DOUBLE_EQ(progress.value(), 0.65);
    progress.beginPhase(0.9, 2); // 0.65 + 0.9 would pass the end: cut to 0.35
    progress.step(1);
    EXPECT_DOUBLE_EQ(progress.value(), 0.825);
    progress.step(5);
    EXPECT_DOUBLE_EQ(progress.value(), 1.0);
}

TEST(ProgressData, NestedStagesDivideTheEnclosingPhase) {
    ProgressData progress;
    progress.beginPhase(0.5, 2);
    progress.step(); // 0.25
    progress.pushStage();
    EXPECT_EQ(progress.stageDepth(), 1);
    // The nested window runs from 0.25 to the phase's end, 0.5: its phases are fractions of it.
    progress.beginPhase(0.5, 1);
    progress.step();
    EXPECT_DOUBLE_EQ(progress.value(), 0.375);
    progress.beginPhase(1.0, 2);
    progress.step(2);
    EXPECT_DOUBLE_EQ(progress.value(), 0.5);
    progress.popStage();
    EXPECT_EQ(progress.stageDepth(), 0);
    progress.step(); // the enclosing phase's own second step
    EXPECT_DOUBLE_EQ(progress.value(), 0.5);
    progress.beginPhase(0.5, 1);
    progress.step();
    EXPECT_DOUBLE_EQ(progress.value(), 1.0);
    progress.popStage(); // unbalanced pop: ignored
    EXPECT_DOUBLE_EQ(progress.value(), 1.0);
}

TEST(ProgressData, ResetAndFlagsAndDisplay) {
    ProgressData progress;
    progress.beginPhase(1.0, 3);
    progress.step();
    progress.requestCancel();
    progress.requestStop();
    progress.pushStage();
    progress.setDisplayRange(10, 200);
    EXPECT_EQ(progress.displayValue(), 10 + 67); // round(200 / 3) + 10
    progress.reset();
    EXPECT_DOUBLE_EQ(progress.value(), 0.0);
    EXPECT_FALSE(progress.isCancelRequested());
    EXPECT_FALSE(progress.isStopRequested());
    EXPECT_EQ(progress.stageDepth(), 0);
    EXPECT_EQ(progress.done(), 0);
    EXPECT_EQ(progress.displayMin(), 10); // the bar's range belongs to the bar
}

TEST(ProgressData, ConcurrentStepsFromPoolWorkers) {
    ProgressData progress;
    progress.beginPhase(1.0, 10000);
    Orvex::MT::JobsPool pool(2);
    Orvex::MT::parallelFor(pool, 0, 10000, [&](uint32_t a, uint32_t b) {
        for (uint32_t i = a; i < b; ++i) progress.step();
    });
    EXPECT_EQ(progress.done(), 10000);
    EXPECT_DOUBLE_EQ(progress.value(), 1.0);
}
