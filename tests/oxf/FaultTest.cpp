// Faults at every step of a run: the effect process killed or frozen by its master, and a master
// that dies or freezes under a working effect process. Every case must end in bounded time, with
// no process left behind and the host's image either untouched or written by a complete reply.

#include "LinkTestSupport.h"

#include "oxf/MasterSession.h"

#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace Orvex;
using namespace Orvex::OXF;

namespace {

constexpr LinkStep kSteps[] = {LinkStep::Run,       LinkStep::Get,       LinkStep::GetStream,
                               LinkStep::Put,       LinkStep::PutStream, LinkStep::Done};

const char* nameOf(LinkStep step) {
    switch (step) {
    case LinkStep::Run:
        return "run";
    case LinkStep::Get:
        return "get";
    case LinkStep::GetStream:
        return "get stream";
    case LinkStep::Put:
        return "put";
    case LinkStep::PutStream:
        return "put stream";
    case LinkStep::Done:
        return "done";
    }
    return "?";
}

// A run that reads and writes every channel: rain over a small colour picture.
constexpr const char* kRainBatch = "batch\n{\n    effect Rain\n}\n";

double secondsSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

} // namespace

// The master stops (SIGKILL) or freezes (SIGSTOP) the effect process at each step. The run ends
// with an error, except after the reply, and the process is reaped either way.
TEST(Faults, AnEffectProcessKilledOrFrozenAtAnyStepEndsTheRunCleanly) {
    const ImageRecord original = makeImage(64, 48, ColorModel::RGB, -1, false, 11);
    for (const int signal : {SIGKILL, SIGSTOP}) {
        for (const LinkStep step : kSteps) {
            SCOPED_TRACE(std::string(signal == SIGKILL ? "killed" : "frozen") + " at " + nameOf(step));
            ImageRecord image = original;
            pid_t fx = 0;
            bool struck = false;
            std::string error;
            int status = -1;
            const auto t0 = std::chrono::steady_clock::now();
            {
                MasterSession session(fxPath());
                fx = session.childPid();
                MasterRun run;
                run.image = &image;
                run.params = kRainBatch;
                run.timeoutSeconds = 2;
                run.onStep = [&](LinkStep at) {
                    if (at != step || struck) return;
                    struck = true;
                    kill(fx, signal);
                };
                try {
                    status = session.run(run).status;
                } catch (const std::runtime_error& e) {
                    error = e.what();
                }
            }
            EXPECT_TRUE(struck);
            EXPECT_LT(secondsSince(t0), 15.0);
            if (step == LinkStep::Done) {
                // The reply was complete before the fault: the result stands.
                EXPECT_EQ(status, 0) << error;
            } else {
                EXPECT_FALSE(error.empty()) << "the run ended with status " << status;
                EXPECT_NE(error.find("elemorama-fx"), std::string::npos) << error;
            }
            if (step == LinkStep::Run || step == LinkStep::Get || step == LinkStep::GetStream) {
                EXPECT_EQ(image.samples, original.samples) << "written before any put";
            }
            EXPECT_FALSE(runs(fx)) << "the effect process outlived its session";
        }
    }
}

// The master dies (exit) or freezes (SIGSTOP) at each step while the effect process works for it.
// The effect process notices and ends with a failure code on its own; as a subreaper this test
// inherits it and sees how it ended.
TEST(Faults, AnEffectProcessWhoseMasterDiesOrFreezesEndsOnItsOwn) {
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    // The effect process gives up on a silent master after 1.5 s instead of the usual 30 s.
    ScopedEnv shortAnswers("ORVEX_OXF_TIMEOUTS_MS", "10000,1500,250");
    for (const bool freeze : {false, true}) {
        for (const LinkStep step : kSteps) {
            if (step == LinkStep::Done) continue; // the run is over then: nothing is waiting
            SCOPED_TRACE(std::string(freeze ? "frozen" : "dead") + " master at " + nameOf(step));
            const ForkedMaster forked =
                forkMaster(makeImage(64, 48, ColorModel::RGB, -1, false, 12), [&](MasterRun& run) {
                    run.params = kRainBatch;
                    run.onStep = [step, freeze](LinkStep at) {
                        if (at != step) return;
                        if (freeze) raise(SIGSTOP);
                        _exit(5); // no destructor, no quit: the master is simply gone
                    };
                });
            ASSERT_GT(forked.master, 0);
            const pid_t master = forked.master, fx = forked.fx;

            if (freeze) {
                // Wait until the master has stopped itself at the step.
                int st = 0;
                for (int i = 0; i < 400; ++i) {
                    if (waitpid(master, &st, WUNTRACED | WNOHANG) == master && WIFSTOPPED(st)) break;
                    usleep(25 * 1000);
                }
            }
            const auto t0 = std::chrono::steady_clock::now();
            int fxStatus = 0;
            bool reaped = false;
            while (!reaped && secondsSince(t0) < 20.0) {
                // The effect process becomes our child once a dead master is reaped; a frozen
                // master still holds it, so the process is only watched then.
                if (!freeze) waitpid(master, nullptr, WNOHANG);
                const pid_t r = waitpid(fx, &fxStatus, WNOHANG);
                if (r == fx) reaped = true;
                else if (freeze && !runs(fx)) break;
                else usleep(25 * 1000);
            }
            const bool gone = reaped || !runs(fx);
            EXPECT_TRUE(gone) << "the effect process outlived its master";
            if (reaped) {
                EXPECT_TRUE(WIFEXITED(fxStatus)) << "the effect process died from a signal";
                if (WIFEXITED(fxStatus)) { EXPECT_NE(WEXITSTATUS(fxStatus), 0); }
            }
            if (!gone) kill(fx, SIGKILL);
            kill(master, SIGKILL);
            waitpid(master, nullptr, 0);
            waitpid(fx, nullptr, WNOHANG);
        }
    }
    prctl(PR_SET_CHILD_SUBREAPER, 0);
}

// An effect process that never answers the handshake, or ends before it: the session is refused
// with a clear error in bounded time, and the process does not stay behind.
TEST(Faults, AHandshakeThatNeverComesIsRefused) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Case {
        const char* name;
        const char* script;
    };
    for (const Case& c : {Case{"silent", "#!/bin/sh\necho $$ >\"$0.pid\"\nexec sleep 120\n"}, Case{"ends", "#!/bin/sh\nexit 1\n"}}) {
        SCOPED_TRACE(c.name);
        const std::string path = (dir.path() + "/" + c.name).toStdString();
        FILE* f = fopen(path.c_str(), "w");
        ASSERT_TRUE(f);
        fputs(c.script, f);
        fclose(f);
        chmod(path.c_str(), 0755);
        const auto t0 = std::chrono::steady_clock::now();
        std::string error;
        try {
            MasterSession session(path);
        } catch (const std::runtime_error& e) {
            error = e.what();
        }
        EXPECT_FALSE(error.empty());
        EXPECT_LT(secondsSince(t0), 20.0);
        // The silent one was stopped with its session.
        if (FILE* pidFile = fopen((path + ".pid").c_str(), "r")) {
            int pid = 0;
            if (fscanf(pidFile, "%d", &pid) == 1) {
                EXPECT_FALSE(runs(pid_t(pid)));
            }
            fclose(pidFile);
        }
    }
}
