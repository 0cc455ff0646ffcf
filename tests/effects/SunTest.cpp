// The sun renderer: determinism, the disc, glow and halo formulas at chosen pixels, the rays' rules,
// placements at and beyond the picture's edges, and the sun file.
#include "RenderTestSupport.h"
#include "document/filters/sun/SunFile.h"
#include "document/filters/sun/SunRenderer.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <cmath>

using namespace Orvex::Document::Filters;
using namespace TestSupport;

namespace {

// Renders over `source` and returns the result's RGBA floats.
std::vector<float> render(SunParams p, const PixelPlane& source, int workers = 0,
                          RunOutcome* outcome = nullptr, const std::atomic<bool>* cancel = nullptr) {
    SunRenderer renderer;
    auto result = emptyLike(source);
    RunContext context;
    context.maxWorkers = workers;
    context.cancelFlag = cancel;
    const RunOutcome o = renderer.process(p, source, MaskChannels{}, *result, context);
    if (outcome) *outcome = o;
    return planeFloats(*result);
}

// A plain sun: no smoothing, halo or rays; red disc, blue glow, so that red / (red + blue) is the
// disc value and red + blue the coverage over a black picture.
SunParams plainSun(int cx, int cy, float radius) {
    SunParams p = SunParams::defaults();
    p.centerX = cx, p.centerY = cy, p.radius = radius;
    p.smoothColor = 0, p.halo = false, p.spikes = false;
    p.sunColor = 0xFFFF0000u, p.glowColor = 0xFF0000FFu;
    return p;
}

struct Pixel {
    float r, g, b;
};
Pixel at(const std::vector<float>& rgba, int w, int x, int y) {
    const float* p = &rgba[(size_t(y) * size_t(w) + size_t(x)) * 4];
    return {p[0], p[1], p[2]};
}

} // namespace

TEST(Sun, SameBytesForOneTwoAndSevenWorkersOffTheTileGrid) {
    SunParams p = SunParams::defaults();
    p.centerX = 141, p.centerY = 77, p.radius = 23.5f, p.randomDirection = true, p.number = 11,
    p.angle = 0.3f;
    for (int32_t type : {TypeU8, TypeU16, TypeF32}) {
        auto source = makePlane(333, 222, type, true, 0.6f);
        std::vector<uint8_t> reference;
        for (int workers : {1, 2, 7}) {
            SunRenderer renderer;
            auto result = emptyLike(*source);
            RunContext context;
            context.maxWorkers = workers;
            SunParams run = p;
            ASSERT_EQ(renderer.process(run, *source, MaskChannels{}, *result, context), RunOutcome::Done);
            const auto bytes = planeBytes(*result);
            if (reference.empty())
                reference = bytes;
            else
                EXPECT_EQ(bytes, reference) << workers << " workers, type " << type;
        }
        EXPECT_NE(reference, planeBytes(*source));
    }
}

TEST(Sun, DiscEdgeGlowAndHaloFollowTheirFormulas) {
    const int w = 400, h = 300;
    const auto black = blackPlane(w, h);
    // Radius 1.5: a hard disc of the pixels with d^2 < 2.25, so the diagonal neighbour is sun-coloured.
    auto small = render(plainSun(100, 100, 1.5f), *black);
    EXPECT_FLOAT_EQ(at(small, w, 100, 100).r, 1.0f);
    EXPECT_EQ(at(small, w, 101, 101).b, 0.0f);
    EXPECT_GT(at(small, w, 101, 101).r, 0.9f);
    EXPECT_EQ(at(small, w, 102, 100).r, 0.0f) << "d = 2 is glow";
    EXPECT_GT(at(small, w, 102, 100).b, 0.9f);

    // Radius 10.3 without smoothing: the edge spans one pixel, m = R + 0.5 - d.
    auto edge = render(plainSun(200, 150, 10.3f), *black);
    auto discValue = [&](int x, int y) {
        const Pixel p = at(edge, w, x, y);
        return p.r / (p.r + p.b);
    };
    EXPECT_NEAR(discValue(209, 150), 1.0f, 1e-5f); // d = 9 <= R - 0.5
    EXPECT_NEAR(discValue(210, 150), 0.8f, 1e-4f); // d = 10
    EXPECT_NEAR(discValue(211, 150), 0.0f, 1e-5f); // d = 11 >= R + 0.5
    // Smoothing spreads the edge over several pixels.
    SunParams soft = plainSun(200, 150, 10.3f);
    soft.smoothColor = 3;
    auto smoothed = render(soft, *black);
    const Pixel outside = at(smoothed, w, 213, 150);
    EXPECT_GT(outside.r / (outside.r + outside.b), 0.01f);

    // Power 1 with R0 = 10: at d = 210 the coverage is 1 / (1 + 1) - 0.01 = 0.49.
    SunParams glow = plainSun(10, 150, 10.0f);
    glow.power = 1.0f;
    auto far = render(glow, *black);
    const Pixel p = at(far, w, 220, 150);
    EXPECT_NEAR(p.r + p.b, 0.49f, 1e-4f);
    // The glow fades monotonically and never reaches 0 inside this picture at power 1.
    EXPECT_GT(at(far, w, 100, 150).b, at(far, w, 200, 150).b);
    EXPECT_GT(at(far, w, 399, 150).b, 0.0f);

    // Halo off, the colour stays the glow colour far out; on, it turns towards the halo colour.
    SunParams halo = plainSun(10, 150, 10.0f);
    halo.power = 1.0f, halo.halo = true, halo.haloColor = 0xFF00FF00u;
    auto haloed = render(halo, *black);
    const Pixel near = at(haloed, w, 22, 150), distant = at(haloed, w, 390, 150); // t = 0.2 and 37
    EXPECT_GT(near.b, near.g);
    EXPECT_GT(distant.g, 10 * distant.b);
    const double t = 380.0 / 10 - 1, hShare = (t + 1) / (6 * t * t + t + 1);
    EXPECT_NEAR(distant.b / (distant.g + distant.b), hShare, 1e-3);
}

TEST(Sun, RaysFollowTheirRules) {
    SizeI size{640, 480};
    SunParams p = SunParams::defaults();
    p.centerX = 320, p.centerY = 240, p.radius = 20;
    // One or two rays: full length and exact directions even with random direction on.
    for (int n : {1, 2}) {
        p.number = n, p.randomDirection = true;
        const auto rays = SunRenderer::layRays(p, size);
        ASSERT_EQ(int(rays.size()), n);
        for (int i = 0; i < n; ++i) {
            EXPECT_DOUBLE_EQ(rays[size_t(i)].length, 20 + std::trunc(20 / 10.0 * p.maxLength));
            const double angle = std::atan2(rays[size_t(i)].ey - 240, rays[size_t(i)].ex - 320);
            EXPECT_NEAR(std::remainder(angle - 2 * 3.14159265358979 * i / n, 2 * 3.14159265358979), 0, 1e-9);
        }
    }
    // From three rays on, lengths vary between 0.3 and 1 of the maximum.
    p.number = 12, p.randomDirection = false;
    const auto rays = SunRenderer::layRays(p, size);
    ASSERT_EQ(rays.size(), 12u);
    double shortest = 1e9, longest = 0;
    for (const SunRay& r : rays)
        shortest = std::min(shortest, r.length), longest = std::max(longest, r.length);
    EXPECT_LT(shortest, longest);
    EXPECT_GE(shortest, 20 + 0.3 * 180 - 1e-9);
    EXPECT_LE(longest, 20 + 180 + 1e-9);
    // Max length 0, or R x max length below 10: no ray can light anything.
    p.maxLength = 0;
    EXPECT_TRUE(SunRenderer::layRays(p, size).empty());
    p.maxLength = 4, p.radius = 2;
    EXPECT_TRUE(SunRenderer::layRays(p, size).empty());

    // Transparency 99 leaves rays barely visible; the disc and glow are the same as without rays.
    auto source = makePlane(320, 240, TypeF32);
    SunParams base = SunParams::defaults();
    base.centerX = 160, base.centerY = 120, base.radius = 12;
    SunParams without = base, faint = base, bright = base;
    without.spikes = false;
    faint.transparency = 99;
    bright.transparency = 0;
    const auto none = render(without, *source), weak = render(faint, *source),
               strong = render(bright, *source);
    float weakest = 0, strongest = 0;
    for (size_t i = 0; i < none.size(); ++i) {
        weakest = std::max(weakest, std::fabs(weak[i] - none[i]));
        strongest = std::max(strongest, std::fabs(strong[i] - none[i]));
    }
    EXPECT_LT(weakest, 0.01f);
    EXPECT_GT(strongest, 0.1f);
    // Pixels inside the disc are never touched by rays.
    EXPECT_EQ(at(strong, 320, 165, 120).r, at(none, 320, 165, 120).r);
}

TEST(Sun, PlacementsAtAndBeyondTheEdges) {
    const int w = 300, h = 200;
    const auto source = makePlane(w, h, TypeU8);
    const auto before = planeFloats(*source);
    // A centre far outside is cut to the picture's edge and its glow still shows there.
    for (auto [cx, cy] : {std::pair{-5000, 100}, std::pair{100000, -7}, std::pair{2147483647, 2147483647}}) {
        SunParams p = SunParams::defaults();
        p.centerX = cx, p.centerY = cy, p.radius = 15;
        RunOutcome outcome;
        const auto after = render(p, *source, 0, &outcome);
        EXPECT_EQ(outcome, RunOutcome::Done);
        const int ex = std::clamp(cx, 0, w - 1), ey = std::clamp(cy, 0, h - 1);
        const size_t i = (size_t(ey) * w + size_t(ex)) * 4;
        EXPECT_GT(after[i] + after[i + 1] + after[i + 2], before[i] + before[i + 1] + before[i + 2] + 0.3f);
    }
    // A radius larger than the picture fills it with the sun colour; the smallest radius still draws.
    SunParams huge = plainSun(150, 100, 100000.0f);
    huge.smoothColor = 25;
    const auto filled = render(huge, *blackPlane(w, h));
    for (size_t i = 0; i < filled.size(); i += 4) ASSERT_NEAR(filled[i], 1.0f, 1e-4f) << i / 4;
    SunParams tiny = plainSun(150, 100, 0.0f); // cut to 1
    const auto dot = render(tiny, *blackPlane(w, h));
    EXPECT_FLOAT_EQ(dot[(100 * size_t(w) + 150) * 4], 1.0f);
}

TEST(Sun, CancelledRunsSayCancelled) {
    std::atomic<bool> cancel{true};
    RunOutcome outcome = RunOutcome::Done;
    render(SunParams::defaults(), *makePlane(200, 100, TypeU8), 0, &outcome, &cancel);
    EXPECT_EQ(outcome, RunOutcome::Cancelled);
}

TEST(SunFile, RoundTripAndDamagedFiles) {
    QTemporaryDir dir;
    const QString path = dir.filePath("placement.elemor");
    SunParams p = SunParams::defaults();
    p.centerX = 333, p.centerY = 90, p.radius = 27.5f, p.angle = 0.75f;
    QString error;
    ASSERT_TRUE(saveSunFile(path, p, 1200, 800, &error)) << error.toStdString();
    EXPECT_FALSE(QFile::exists(path + ".tmp"));
    // Fractions: read back on a picture of twice the size, everything doubles.
    SunParams read = SunParams::defaults();
    ASSERT_TRUE(loadSunFile(path, 2400, 1600, read, &error)) << error.toStdString();
    EXPECT_EQ(read.centerX, 666);
    EXPECT_EQ(read.centerY, 180);
    EXPECT_NEAR(read.radius, 55.0f, 0.01f);
    EXPECT_NEAR(read.angle, 0.75f, 1e-5f);
    // Saving again replaces the old file.
    p.centerX = 10;
    ASSERT_TRUE(saveSunFile(path, p, 1200, 800, &error));
    ASSERT_TRUE(loadSunFile(path, 1200, 800, read, &error));
    EXPECT_EQ(read.centerX, 10);

    auto write = [&](const QString& name, const QByteArray& text) {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
        return dir.filePath(name);
    };
    const SunParams untouched = read;
    struct Case {
        QByteArray text;
        const char* message;
    };
    const Case cases[] = {
        {"<elemorama type=\"Rainbow\"><points/></elemorama>", "File bad.elemor is for Rainbow effect"},
        {"not xml at all", "Error loading from bad.elemor\nCannot read the file"},
        {"<elemorama type=\"Sun\"><sun><center x=\"0.5\" y=\"0.5\"/><radius>0.1",
         "Error loading from bad.elemor"},
        {"<elemorama type=\"Sun\"></elemorama>", "No data for tool"},
        {"<elemorama type=\"Sun\"><sun><radius>0.1</radius></sun></elemorama>", "No data for map"},
        {"<elemorama type=\"Sun\"><sun><center x=\"nan\" y=\"0\"/><radius>0.1</radius></sun></elemorama>",
         "Invalid format of map data"},
        {"<elemorama type=\"Sun\"><sun><center x=\"0.5\" y=\"0.5\"/><radius>-3</radius></sun></elemorama>",
         "Invalid format of map data"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        const QString bad = write("bad.elemor", c.text);
        SunParams target = untouched;
        EXPECT_FALSE(loadSunFile(bad, 1200, 800, target, &error));
        EXPECT_TRUE(error.contains(QLatin1String(c.message))) << error.toStdString();
        EXPECT_TRUE(target.unchangedFrom(untouched));
    }
    EXPECT_FALSE(loadSunFile(dir.filePath("missing.elemor"), 100, 100, read, &error));
    EXPECT_TRUE(error.contains("Cannot open file for read"));
    // Huge numbers are cut to the picture and the radius range.
    const QString huge = write("huge.elemor", "<elemorama type=\"Sun\"><sun><center x=\"1e30\" y=\"-1e30\"/>"
                                              "<radius>1e30</radius><angle>1e30</angle></sun></elemorama>");
    SunParams cut = untouched;
    ASSERT_TRUE(loadSunFile(huge, 1200, 800, cut, &error)) << error.toStdString();
    EXPECT_EQ(cut.centerX, 1200);
    EXPECT_EQ(cut.centerY, 0);
    EXPECT_EQ(cut.radius, 100000.0f);
    EXPECT_TRUE(std::isfinite(cut.angle));
}

TEST(Sun, ProgressRunsToTheEnd) {
    SunRenderer renderer;
    auto source = makePlane(300, 200, TypeU16);
    auto result = emptyLike(*source);
    PhaseProgress progress;
    RunContext context;
    context.progress = &progress;
    SunParams p = SunParams::defaults();
    p.centerX = 100, p.centerY = 80, p.radius = 20;
    ASSERT_EQ(renderer.process(p, *source, MaskChannels{}, *result, context), RunOutcome::Done);
    EXPECT_GT(progress.fraction(), 0.99);
    EXPECT_LE(progress.fraction(), 1.0);
}
