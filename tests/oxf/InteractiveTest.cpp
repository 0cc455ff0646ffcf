// Interactive runs (no `batch` node) as a host sees them: the image and the selection are loaded
// channel by channel in the host's numbering and in stripes, nothing is written before Apply, and
// Apply writes back exactly the host's own channels.

#include "LinkTestSupport.h"

#include "oxf/InteractiveRun.h"
#include "oxf/MasterSession.h"
#include "oxf/OXF.h"
#include "oxf/OXFDataPad.h"

#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace Orvex::OXF;

namespace {

// The host codes of a colour mode's own channels, ascending by channel identifier.
std::vector<int> colourCodes(ColorModel model) {
    switch (model) {
    case ColorModel::Grey:
        return {10};
    case ColorModel::RGB:
        return {4, 5, 6};
    case ColorModel::CMYK:
        return {11, 12, 13, 14};
    case ColorModel::Lab:
        return {7, 8, 9};
    }
    return {};
}

// Rows per stripe for rows of `rowBytes`, written out from the link's rule: the data block's
// capacity in rows, at least 64, rounded up to a multiple of 64.
int expectedStripe(size_t rowBytes, int height) {
    size_t rows = std::max<size_t>(64, OXFDataPad::MaxDataSize / rowBytes);
    rows = (rows + 63) / 64 * 64;
    return int(std::min<size_t>(rows, size_t(height)));
}

struct Transfer {
    bool put;
    int code;
};

// The channel requests grouped into whole-channel transfers, checking on the way that each channel
// travels as consecutive full-width stripes from the top.
std::vector<Transfer> transfers(const MasterReply& reply, int width, int height, int bytes) {
    std::vector<Transfer> out;
    const int stripe = expectedStripe(size_t(width) * size_t(bytes), height);
    int nextTop = 0;
    for (const ChannelEvent& e : reply.events) {
        EXPECT_EQ(e.left, 0);
        EXPECT_EQ(e.right, width);
        if (nextTop == 0) out.push_back({e.put, e.code});
        EXPECT_EQ(e.put, out.back().put);
        EXPECT_EQ(e.code, out.back().code);
        EXPECT_EQ(e.top, nextTop);
        EXPECT_EQ(e.bottom, std::min(nextTop + stripe, height)) << "code " << e.code;
        nextTop = e.bottom == height ? 0 : e.bottom;
    }
    EXPECT_EQ(nextTop, 0) << "a channel ended before the image's last row";
    return out;
}


MasterReply interactiveRun(MasterSession& session, ImageRecord& image, const ImageRecord* selection,
                           const std::string& params = "window\n{\n    effect Rain\n}\n") {
    MasterRun run;
    run.image = &image;
    run.selection = selection;
    run.params = params;
    run.timeoutSeconds = 120;
    return session.run(run);
}

} // namespace

TEST(Interactive, ApplyOfTheUnchangedImageWritesOnlyTheHostChannelsInEveryMode) {
    ScopedEnv autoApply("ELEMORAMA_AUTO", "apply");
    MasterSession session(fxPath());
    uint32_t seed = 40;
    for (ColorModel model : {ColorModel::Grey, ColorModel::RGB, ColorModel::CMYK, ColorModel::Lab})
        for (int type : {-1, -2, -3})
            for (bool alpha : {false, true})
                for (bool withSelection : {false, true}) {
                    SCOPED_TRACE(testing::Message() << "model " << int(model) << " type " << type << " alpha "
                                                    << alpha << " selection " << withSelection);
                    ImageRecord image = makeImage(97, 70, model, type, alpha, ++seed);
                    const ImageRecord original = image;
                    ImageRecord selection = makeMask(97, 70, 0);
                    for (int y = 10; y < 30; ++y) std::fill_n(&selection.samples[size_t(y) * 97 + 20], 50, 200);
                    const MasterReply reply = interactiveRun(session, image, withSelection ? &selection : nullptr);
                    ASSERT_EQ(reply.status, 0) << reply.error;
                    EXPECT_TRUE(image.samples == original.samples);
                    EXPECT_EQ(reply.params, writeParameterText(parseParameterText("window { effect Rain }")));

                    std::vector<int> gets = colourCodes(model), puts = colourCodes(model);
                    if (alpha) gets.push_back(1), puts.push_back(1);
                    if (withSelection) gets.push_back(3);
                    std::vector<int> seenGets, seenPuts;
                    bool putSeen = false;
                    for (const Transfer& t : transfers(reply, 97, 70, image.bytesPerSample())) {
                        if (t.put)
                            putSeen = true, seenPuts.push_back(t.code);
                        else {
                            EXPECT_FALSE(putSeen) << "a read after the write-back began";
                            seenGets.push_back(t.code);
                        }
                    }
                    EXPECT_EQ(seenGets, gets);
                    EXPECT_EQ(seenPuts, puts);
                }
    EXPECT_EQ(session.quit(), 0);
}

TEST(Interactive, LockedTransparencyIsNotWrittenAndCancelWritesNothing) {
    ImageRecord image = makeImage(64, 65, ColorModel::RGB, -2, true, 3);
    const ImageRecord original = image;
    {
        ScopedEnv autoApply("ELEMORAMA_AUTO", "apply");
        MasterSession session(fxPath());
        MasterRun run;
        run.image = &image;
        run.params = "window";
        run.transparencyLocked = true;
        const MasterReply reply = session.run(run);
        ASSERT_EQ(reply.status, 0) << reply.error;
        for (const ChannelEvent& e : reply.events)
            if (e.put) { EXPECT_NE(e.code, 1); }
        EXPECT_EQ(reply.channelsWritten, 3);
        EXPECT_EQ(session.quit(), 0);
    }
    ScopedEnv autoCancel("ELEMORAMA_AUTO", "cancel");
    MasterSession session(fxPath());
    for (int i = 0; i < 2; ++i) {
        const MasterReply reply = interactiveRun(session, image, nullptr);
        EXPECT_EQ(reply.status, 1);
        EXPECT_EQ(reply.channelsWritten, 0);
        EXPECT_EQ(reply.channelsRead, 4);
        EXPECT_TRUE(reply.params.empty()); // a cancelled run returns no parameters
    }
    EXPECT_TRUE(image.samples == original.samples);
    EXPECT_EQ(session.quit(), 0);
}

TEST(Interactive, TheRunWaitsForTheUserUntilTheMasterEndsIt) {
    ScopedEnv noAuto("ELEMORAMA_AUTO", nullptr);
    ImageRecord image = makeImage(300, 200, ColorModel::RGB, -1, false, 5);
    const ImageRecord original = image;
    MasterSession session(fxPath());
    const pid_t pid = session.childPid();
    MasterRun run;
    run.image = &image;
    run.timeoutSeconds = 3;
    try {
        session.run(run); // loads, then waits: the master gives up after 3 s and sets the shutdown flag
        FAIL() << "an interactive run without a user ended by itself";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("did not answer within 3 s"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(image.samples == original.samples);
    EXPECT_NE(kill(pid, 0), 0); // no stray process
    EXPECT_EQ(session.exitCode(), 1); // the shutdown flag ends it quietly
}

TEST(Interactive, AMasterThatDiesDuringTheWaitEndsTheProcess) {
    ScopedEnv noAuto("ELEMORAMA_AUTO", nullptr);
    // The master runs and never comes back.
    const ForkedMaster forked = forkMaster(makeImage(40, 30, ColorModel::Grey, -1, false, 6), [](MasterRun&) {});
    ASSERT_GT(forked.master, 0);
    const pid_t master = forked.master, fx = forked.fx;
    usleep(1500 * 1000); // the image is loaded and the run waits
    ASSERT_TRUE(runs(fx)) << "the effect process did not wait";
    kill(master, SIGKILL);
    int status = 0;
    waitpid(master, &status, 0);
    // The effect process is not our child: poll until it is gone (its watch runs every 250 ms here).
    bool gone = false;
    for (int i = 0; i < 200 && !gone; ++i) {
        gone = !runs(fx);
        if (!gone) usleep(50 * 1000);
    }
    EXPECT_TRUE(gone) << "the effect process outlived its master";
}

TEST(Interactive, LargeAndWideImagesTravelInTheStripesAndBlocksOfTheLink) {
    ScopedEnv autoApply("ELEMORAMA_AUTO", "apply");
    MasterSession session(fxPath());
    struct Case {
        int width, height;
        ColorModel model;
        int type;
        bool alpha, selection;
    } cases[] = {
        {1000, 3000, ColorModel::RGB, -1, true, true},    // one stripe of the whole height
        {70000, 520, ColorModel::Grey, -2, false, false}, // stripes of 512 rows and 8
        {40000, 460, ColorModel::CMYK, -1, false, true},
        {600000, 65, ColorModel::Grey, -3, false, false}, // 64 + 1 rows; a stripe of three blocks
        {65539, 1024, ColorModel::Grey, -1, false, false}, // a stripe of exactly one data block
        {17, 3947761, ColorModel::Grey, -1, false, false}, // a stripe of one block and one byte
    };
    EXPECT_EQ(expectedStripe(1000, 1 << 30), 67136);
    EXPECT_EQ(expectedStripe(140000, 1 << 30), 512);
    EXPECT_EQ(size_t(65539) * 1024, size_t(OXFDataPad::MaxDataSize));
    EXPECT_EQ(size_t(17) * 3947761, size_t(OXFDataPad::MaxDataSize) + 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        ImageRecord image = makeImage(c.width, c.height, c.model, c.type, c.alpha, uint32_t(c.width));
        const ImageRecord original = image;
        ImageRecord selection;
        if (c.selection) {
            selection = makeMask(c.width, c.height, 0);
            std::fill(selection.samples.begin() + selection.samples.size() / 3, selection.samples.end(), 255);
        }
        const MasterReply reply = interactiveRun(session, image, c.selection ? &selection : nullptr);
        ASSERT_EQ(reply.status, 0) << reply.error;
        EXPECT_TRUE(image.samples == original.samples);
        const std::vector<Transfer> moved = transfers(reply, c.width, c.height, image.bytesPerSample());
        const size_t colours = colourCodes(c.model).size() + (c.alpha ? 1 : 0);
        EXPECT_EQ(moved.size(), colours * 2 + (c.selection ? 1 : 0));
    }
    EXPECT_EQ(session.quit(), 0);
}

// The teardown a run leaves for after its reply: all of it runs once, in order, a failing piece
// does not stop the rest, and what the work itself defers waits for the next reply.
TEST(Interactive, WorkDeferredUntilTheReplyRunsOnceInOrder) {
    std::vector<int> done;
    deferUntilReplied([&] { done.push_back(1); });
    deferUntilReplied([&] { throw std::runtime_error("broken teardown"); });
    deferUntilReplied([&] {
        done.push_back(2);
        deferUntilReplied([&] { done.push_back(3); });
    });
    deferUntilReplied({});
    EXPECT_TRUE(done.empty());
    runDeferredWork();
    EXPECT_EQ(done, (std::vector<int>{1, 2}));
    runDeferredWork();
    EXPECT_EQ(done, (std::vector<int>{1, 2, 3}));
    runDeferredWork();
    EXPECT_EQ(done.size(), 3u);
}
