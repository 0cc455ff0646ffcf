#include "document/WorkThread.h"
#include "document/WorkJobContext.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QObject>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace Orvex::Document;

namespace {

// Receives the work thread's events on the interface thread.
class Receiver : public QObject {
    Q_OBJECT
public:
    std::vector<int> codes;
    std::atomic<bool> onWrongThread{false};
public slots:
    void onEvent(int code, const void* data) {
        if (QThread::currentThread() != QCoreApplication::instance()->thread()) onWrongThread = true;
        codes.push_back(code + (data ? *static_cast<const int*>(data) : 0));
    }
};

// A job owner whose jobs count, optionally sleep, and report to the interface thread.
class CountingContext : public WorkJobContext {
public:
    ~CountingContext() override { stopThread(); }
    std::atomic<int> executed{0};
    std::atomic<int> sleepMs{0};
    std::atomic<bool> reportToGui{true};
    std::atomic<bool> sawResetProgress{true};
    int pending = 0; // under the thread's mutex

protected:
    void post(const void* argument) override { pending += argument ? *static_cast<const int*>(argument) : 1; }
    bool hasWork() override { return pending > 0; }
    void execute() override {
        {
            std::lock_guard<std::mutex> lock(mutex());
            --pending;
        }
        if (progress().value() != 0.0 || progress().isCancelRequested()) sawResetProgress = false;
        progress().beginPhase(1.0, 2);
        progress().step(2);
        if (sleepMs) std::this_thread::sleep_for(std::chrono::milliseconds(sleepMs.load()));
        const int payload = 100;
        if (reportToGui) emitToGUI(executed.load(), &payload); // blocks until the receiver has run
        ++executed;
    }
};

// Processes events until `done` or a generous limit passes.
template <class F> bool waitFor(F done, int limitMs = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limitMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace

TEST(WorkThread, PostedJobsRunAndTheirEventsReachTheInterfaceThread) {
    Receiver receiver;
    CountingContext context;
    context.start(&receiver, SLOT(onEvent(int, const void*)), true);
    EXPECT_TRUE(context.isRunning());
    const int three = 3;
    context.callLocked(&three);
    ASSERT_TRUE(waitFor([&] { return context.executed == 3; }));
    context.waitIdle();
    EXPECT_FALSE(context.isBusy());
    EXPECT_EQ(receiver.codes, (std::vector<int>{100, 101, 102}));
    EXPECT_FALSE(receiver.onWrongThread);
    EXPECT_TRUE(context.sawResetProgress);
    EXPECT_DOUBLE_EQ(context.progress().value(), 1.0);
}

TEST(WorkThread, DisablingWaitsForTheRunningJobAndParksPostedWork) {
    Receiver receiver;
    CountingContext context;
    context.sleepMs = 100;
    context.start(&receiver, SLOT(onEvent(int, const void*)), true);
    context.callLocked(nullptr);
    ASSERT_TRUE(waitFor([&] { return context.isBusy(); }));
    // The running job emits a blocking event while we disable: setEnabled must keep delivering
    // events or both threads would wait for each other.
    context.setEnabled(false);
    EXPECT_FALSE(context.isBusy());
    EXPECT_EQ(context.executed.load(), 1);
    EXPECT_EQ(receiver.codes.size(), 1u);

    context.callLocked(nullptr);
    context.callLocked(nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    QCoreApplication::processEvents();
    EXPECT_EQ(context.executed.load(), 1) << "a disabled thread ran posted work";

    context.sleepMs = 0;
    context.setEnabled(true);
    ASSERT_TRUE(waitFor([&] { return context.executed == 3; }));
    context.waitIdle();
    EXPECT_EQ(receiver.codes.size(), 3u);
}

TEST(WorkThread, DestroyingTheContextDuringABlockingEventDoesNotDeadlock) {
    Receiver receiver;
    auto context = std::make_unique<CountingContext>();
    context->sleepMs = 30;
    context->start(&receiver, SLOT(onEvent(int, const void*)), true);
    const int many = 1000;
    context->callLocked(&many);
    ASSERT_TRUE(waitFor([&] { return context->isBusy(); }));
    context.reset(); // stops after the current job, delivering its event meanwhile
    EXPECT_GE(receiver.codes.size(), 1u);
    EXPECT_LT(receiver.codes.size(), 1000u);
}

TEST(WorkThread, StopAndRestart) {
    Receiver receiver;
    CountingContext context;
    context.reportToGui = false;
    context.start(&receiver, SLOT(onEvent(int, const void*)), false);
    context.callLocked(nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(context.executed.load(), 0); // started disabled
    context.stopThread();
    EXPECT_FALSE(context.isRunning());
    context.start(&receiver, SLOT(onEvent(int, const void*)), true);
    ASSERT_TRUE(waitFor([&] { return context.executed == 1; }));
    context.waitIdle();
    EXPECT_TRUE(receiver.codes.empty());
}

TEST(WorkThread, WaitIdleAndSetEnabledWithoutAThreadReturnAtOnce) {
    CountingContext context;
    context.waitIdle();
    context.setEnabled(true);
    context.callLocked(nullptr); // kept until a thread is started
    EXPECT_FALSE(context.isRunning());
    EXPECT_FALSE(context.isEnabled());
}

#include "WorkThreadTest.moc"
