// Runs of an effect object: coalescing, cancellation by a newer change, the last-run record's
// stability, failures from the computation and the selection rule.
#include "FilterTestSupport.h"

#include <QSignalSpy>
#include <QWidget>

#include <gtest/gtest.h>

using namespace FilterTest;

namespace {

struct RunFixture : ::testing::Test {
    TestSettings settings;
    CapturedMessages boxes;
    FilterDocument document{rgbaPlane(96, 80), maskChannel(96, 80, 255)};
    ScriptedRain rain;
    int finished = 0;
    int cancelled = 0;

    Ref<DataStorage::PixelPlane> original = document.layer();

    void SetUp() override {
        QObject::connect(&rain, &ToolFilter::CalcFinished,
                         [this](bool commit) { commit ? ++finished : ++cancelled; });
        rain.setDocument(&document);
        rain.CreateParamsWidget();
        rain.Activate();
    }
    void TearDown() override { rain.Deactivate(); }

    // Lets the run the activation scheduled (the host selection became the mask) end.
    void settle() {
        ASSERT_TRUE(waitFor([&] { return !rain.isUpdatePending() && !rain.isEvalRunning(); }));
        rain.processCalls = 0;
        finished = cancelled = 0;
    }
};

TEST_F(RunFixture, BurstOfChangesRunsOnceWithTheLastValues) {
    rain.ScheduleUpdate();
    settle();
    rain.setParamValue("density", "7");
    QThread::msleep(30);
    QCoreApplication::processEvents();
    rain.setParamValue("density", "9");
    QThread::msleep(30);
    QCoreApplication::processEvents();
    rain.setParamValue("length", "40");
    ASSERT_TRUE(waitFor([&] { return finished == 1; }));
    QThread::msleep(ThreadFilterUI::DeferredUpdateMs + 100);
    QCoreApplication::processEvents();
    EXPECT_EQ(rain.processCalls, 1);
    EXPECT_EQ(rain.lastRun().valueText("density"), "9");
    EXPECT_EQ(rain.lastRun().valueText("length"), "40");
    EXPECT_TRUE(rain.ParamsUnchanged());
}

TEST_F(RunFixture, UnchangedParametersDoNotRunAgain) {
    rain.ScheduleUpdate();
    settle();
    rain.setParamValue("density", "3");
    ASSERT_TRUE(waitFor([&] { return finished == 1; }));
    rain.ScheduleUpdate(); // nothing changed since: the shown result is current
    QThread::msleep(ThreadFilterUI::DeferredUpdateMs + 100);
    QCoreApplication::processEvents();
    EXPECT_EQ(rain.processCalls, 1);
    EXPECT_TRUE(rain.RequestRun(false, false)); // nothing to do
}

TEST_F(RunFixture, NewChangeCancelsTheRunInFlightAndTheNextRunSeesIt) {
    rain.ScheduleUpdate();
    settle();
    std::vector<QString> seen;
    std::atomic<bool> stable{true};
    rain.body = [&](ScriptedRain& self, const DataStorage::PixelPlane&, DataStorage::PixelPlane&) {
        const QString density = self.lastRun().valueText("density");
        seen.push_back(density);
        // The first run works until it is told to stop, checking its record all the while.
        for (int i = 0; i < 5000 && !self.cancelled(); ++i) {
            if (self.lastRun().valueText("density") != density) stable = false;
            QThread::msleep(1);
            if (density == "11") break;
        }
        return self.cancelled() ? RunOutcome::Cancelled : RunOutcome::Done;
    };
    rain.setParamValue("density", "4");
    ASSERT_TRUE(waitFor([&] { return rain.inProcess.load(); }));
    QElapsedTimer uiTimer;
    uiTimer.start();
    rain.setParamValue("density", "11"); // the interface does not wait for the run
    rain.setParamValue("length", "30");
    EXPECT_LT(uiTimer.elapsed(), 100);
    ASSERT_TRUE(waitFor([&] { return finished == 1; }));
    EXPECT_EQ(cancelled, 1);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], "4");
    EXPECT_EQ(seen[1], "11");
    EXPECT_EQ(rain.lastRun().valueText("length"), "30");
    EXPECT_TRUE(stable) << "the last-run record changed while the computation read it";
}

TEST_F(RunFixture, CancelledRunRollsTheDocumentBack) {
    rain.ScheduleUpdate();
    settle();
    const int undoBefore = document.undoCount();
    auto layerBefore = document.layer();
    rain.body = [&](ScriptedRain& self, const DataStorage::PixelPlane&, DataStorage::PixelPlane& result) {
        const uint8_t white = 255;
        result.writableChannel(DataStorage::ChannelRed)->fill(&white);
        while (!self.cancelled()) QThread::msleep(1);
        return RunOutcome::Cancelled;
    };
    rain.setParamValue("density", "6");
    ASSERT_TRUE(waitFor([&] { return rain.inProcess.load(); }));
    rain.CancelEval();
    ASSERT_TRUE(waitFor([&] { return cancelled == 1; }));
    EXPECT_EQ(document.layer().get(), layerBefore.get());
    EXPECT_EQ(document.undoCount(), undoBefore);
    EXPECT_EQ(rain.committedMode(), ToolFilter::Idle);
}

TEST_F(RunFixture, FailuresShowTheirMessageAndLeaveTheEffectUsable) {
    rain.ScheduleUpdate();
    settle();
    auto layerBefore = document.layer();
    int mode = 0;
    rain.body = [&](ScriptedRain&, const DataStorage::PixelPlane&, DataStorage::PixelPlane&) -> RunOutcome {
        if (mode == 0) throw std::runtime_error("renderer broke");
        if (mode == 1) throw std::bad_alloc();
        return RunOutcome::Done;
    };
    rain.setParamValue("density", "2");
    ASSERT_TRUE(waitFor([&] { return cancelled == 1; }));
    ASSERT_EQ(boxes.messages.size(), 1u);
    EXPECT_EQ(boxes.messages[0].kind, FilterMessage::Critical);
    EXPECT_EQ(boxes.messages[0].title, "Error");
    EXPECT_EQ(boxes.messages[0].text, "Unknown exception");
    EXPECT_EQ(document.layer().get(), layerBefore.get());
    EXPECT_TRUE(rain.paramsWidget()->isEnabled());

    mode = 1;
    rain.setParamValue("density", "3");
    ASSERT_TRUE(waitFor([&] { return cancelled == 2; }));
    ASSERT_EQ(boxes.messages.size(), 2u);
    EXPECT_EQ(boxes.messages[1].text,
              "Out of memory\nThe image is too large,\nOr decrease the value of 'History States'.");

    // The same parameters run again after a failure: the failed run does not count as shown.
    mode = 2;
    EXPECT_FALSE(rain.RequestRun(false, false));
    ASSERT_TRUE(waitFor([&] { return finished == 1; }));
    EXPECT_EQ(boxes.messages.size(), 2u);
}

TEST_F(RunFixture, MaskEffectWithoutSelectionWarnsAndPostsNothing) {
    rain.ScheduleUpdate();
    settle();
    rain.setMaskChannel(ToolFilter::Mask, maskChannel(96, 80, 0));
    EXPECT_FALSE(rain.RequestRun(false, false));
    EXPECT_FALSE(rain.jobFlags() & ToolFilter::ImageRequested);
    EXPECT_FALSE(rain.isEvalRunning());
    ASSERT_EQ(boxes.messages.size(), 1u);
    EXPECT_EQ(boxes.messages.back().text,
              "Nothing selected! Select working areas with Selection brush first");
}

TEST_F(RunFixture, RealRendererPaintsIntoTheDocumentAsOneStep) {
    rain.ScheduleUpdate();
    settle();
    auto before = document.layer();
    rain.setParamValue("density", "15");
    ASSERT_TRUE(waitFor([&] { return finished == 1; }, 20000));
    EXPECT_NE(document.layer().get(), before.get());
    EXPECT_TRUE(rain.haveResult());
    // The source stays the untouched layer: the next run starts again from it.
    EXPECT_EQ(rain.sourcePlane()->channel(DataStorage::ChannelRed)->tileAt(0),
              original->channel(DataStorage::ChannelRed)->tileAt(0));
    ASSERT_TRUE(document.undo());
}

// Undo and redo walk the steps both ways, with the selection; a new step forgets what was undone,
// and a new layer forgets everything.
TEST(FilterDocumentSteps, UndoAndRedoWalkBothWays) {
    FilterDocument document{rgbaPlane(8, 8), maskChannel(8, 8, 255)};
    const auto first = document.layer();
    const auto firstSelection = document.selection();
    document.beginStep(QStringLiteral("one"), 5);
    document.setSelection(maskChannel(8, 8, 7));
    ASSERT_TRUE(document.commitStep(rgbaPlane(8, 8)));
    const auto second = document.layer();
    const auto secondSelection = document.selection();
    ASSERT_TRUE(document.commitStep(rgbaPlane(8, 8)));
    const auto third = document.layer();
    EXPECT_FALSE(document.redo()) << "nothing undone yet";

    ASSERT_TRUE(document.undo());
    ASSERT_TRUE(document.undo());
    EXPECT_EQ(document.layer(), first);
    EXPECT_EQ(document.selection(), firstSelection);
    EXPECT_EQ(document.redoCount(), 2);
    ASSERT_TRUE(document.redo());
    EXPECT_EQ(document.layer(), second);
    EXPECT_EQ(document.selection(), secondSelection);
    EXPECT_EQ(document.lastStepName(), QStringLiteral("one"));
    ASSERT_TRUE(document.redo());
    EXPECT_EQ(document.layer(), third);
    EXPECT_FALSE(document.redo());
    EXPECT_EQ(document.undoCount(), 2);

    ASSERT_TRUE(document.undo());
    ASSERT_TRUE(document.commitStep(rgbaPlane(8, 8)));
    EXPECT_EQ(document.redoCount(), 0) << "a new step forgets the undone one";
    ASSERT_TRUE(document.undo());
    document.setLayer(rgbaPlane(8, 8));
    EXPECT_EQ(document.redoCount(), 0);
    EXPECT_FALSE(document.undo());
}

TEST(TrunkFilter, RefusesToRunWithoutLines) {
    TestSettings settings;
    CapturedMessages boxes;
    FilterDocument document{rgbaPlane(32, 32)};
    Lightning lightning;
    lightning.setDocument(&document);
    lightning.Activate();
    lightning.RequestRun(false, false);
    ASSERT_EQ(boxes.messages.size(), 1u);
    EXPECT_EQ(boxes.messages[0].text, "Nothing to do! Draw line(s) with Direction tool first");
    lightning.Deactivate();
}

TEST(EffectObjects, EveryListedEffectCarriesItsClassInformation) {
    TestSettings settings;
    for (const EffectInfo& info : EffectRegistry::all()) {
        std::unique_ptr<ToolFilter> filter(createFilter(info.id));
        if (info.id == EffectId::Ice || info.id == EffectId::Snow) {
            EXPECT_EQ(filter, nullptr);
            continue;
        }
        ASSERT_NE(filter, nullptr) << info.shortName;
        EXPECT_EQ(filter->ClassName(), info.className);
        EXPECT_EQ(filter->FilterKey(), info.filterKey);
        const QString lower = QString::fromLatin1(info.shortName).toLower();
        EXPECT_EQ(filter->classInfo("FilterIcon"), ":/filter/" + lower);
        EXPECT_EQ(filter->classInfo("FilterDescription"), QString::fromLatin1(info.shortName) + "_HINT");
        // The panel has one control per labelled field of the record's table.
        QWidget* panel = filter->CreateParamsWidget();
        ASSERT_NE(panel, nullptr);
        EXPECT_EQ(filter->CreateParamsWidget(), panel);
        for (const FieldInfo& f : EffectRegistry::fields(info.id))
            if (f.label && *f.label) {
                EXPECT_NE(filter->control(f.member), nullptr) << info.shortName << f.member;
            }
        delete panel;
    }
}

} // namespace
