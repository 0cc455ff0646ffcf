// The lightning renderer: determinism, where the strikes may land, the cache, and bad lines.
#include "RenderTestSupport.h"
#include "document/filters/lightning/LightningLineSets.h"
#include "document/filters/lightning/LightningRenderer.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QXmlStreamReader>

#include <atomic>
#include <cmath>

using namespace Orvex::Document::Filters;
using namespace TestSupport;

namespace {

using LightningRun = RenderRun;

LightningRun render(LightningRenderer& renderer, LightningParams p, int w, int h, int32_t type = TypeU8,
                    int workers = 0, const std::atomic<bool>* cancel = nullptr, bool alpha = false) {
    return renderOn(renderer, p, makePlane(w, h, type, alpha, 0.7f), {}, workers, cancel);
}

LightningParams withLines(std::vector<Segment> lines) {
    LightningParams p = LightningParams::defaults();
    p.lines = std::move(lines);
    return p;
}

double distanceToSegment(double x, double y, const Segment& s) {
    const double vx = s.x2 - s.x1, vy = s.y2 - s.y1, wx = x - s.x1, wy = y - s.y1;
    const double len2 = vx * vx + vy * vy;
    const double t = len2 > 0 ? std::clamp((wx * vx + wy * vy) / len2, 0.0, 1.0) : 0.0;
    return std::hypot(wx - t * vx, wy - t * vy);
}

// Sum of the bolt coverage and the part of it within `reach` of the segment.
void coverageNear(const LightningStrikes& s, const Segment& seg, double reach, double& total, double& near) {
    total = near = 0;
    for (int y = s.area.top; y < s.area.bottom; ++y)
        for (int x = s.area.left; x < s.area.right; ++x) {
            const float c = s.bolt[size_t(y - s.area.top) * size_t(s.area.width()) + size_t(x - s.area.left)];
            total += c;
            if (distanceToSegment(x + 0.5, y + 0.5, seg) <= reach) near += c;
        }
}

} // namespace

TEST(Lightning, SameBytesForOneTwoAndSevenWorkersOffTheTileGrid) {
    // Lines that start and end off the 64-pixel grid, one leaving the picture.
    const LightningParams p = withLines({{37, 5, 121, 201}, {250, 13, 190, 219}, {300, 30, 420, 150}});
    for (int32_t type : {TypeU8, TypeU16, TypeF32}) {
        std::vector<uint8_t> reference;
        for (int workers : {1, 2, 7}) {
            LightningRenderer renderer;
            const auto run = render(renderer, p, 333, 222, type, workers);
            ASSERT_EQ(run.outcome, RunOutcome::Done);
            const auto bytes = planeBytes(*run.result);
            if (reference.empty())
                reference = bytes;
            else
                EXPECT_EQ(bytes, reference) << workers << " workers, type " << type;
        }
        EXPECT_NE(reference, planeBytes(*makePlane(333, 222, type))) << "the strikes are drawn";
    }
}

TEST(Lightning, TheBoltFollowsItsLineFromEndToEnd) {
    LightningParams p = withLines({{60, 10, 140, 290}});
    p.branching = 1; // no branches: the walk alone
    LightningStrikes strikes;
    ASSERT_TRUE(LightningRenderer::buildStrikes(p, SizeI{200, 300}, strikes, RunContext{}));
    double total = 0, near = 0;
    coverageNear(strikes, p.lines[0], 40.0, total, near);
    ASSERT_GT(total, 0);
    EXPECT_GT(near / total, 0.97) << "the walk stays close to its line";
    // It reaches both ends: strong coverage within a step of each end point.
    auto strongNear = [&](int ex, int ey) {
        for (int y = std::max(strikes.area.top, ey - 12); y < std::min(strikes.area.bottom, ey + 12); ++y)
            for (int x = strikes.area.left; x < strikes.area.right; ++x)
                if (std::hypot(x - ex, y - ey) < 12 &&
                    strikes.bolt[size_t(y - strikes.area.top) * size_t(strikes.area.width()) +
                                 size_t(x - strikes.area.left)] > 0.5f)
                    return true;
        return false;
    };
    EXPECT_TRUE(strongNear(60, 10));
    EXPECT_TRUE(strongNear(140, 290));

    // With branches most of the light still lies near the line, but some of it leaves.
    p.branching = 100;
    LightningStrikes branched;
    ASSERT_TRUE(LightningRenderer::buildStrikes(p, SizeI{200, 300}, branched, RunContext{}));
    double bTotal = 0, bNear = 0;
    coverageNear(branched, p.lines[0], 40.0, bTotal, bNear);
    EXPECT_GT(bTotal, total * 1.2) << "branches add light";
    EXPECT_GT(bNear / bTotal, 0.6);
    EXPECT_LT(bNear / bTotal, 0.999);
    for (float c : branched.bolt) ASSERT_TRUE(c >= 0.0f && c <= 1.0f);
}

TEST(Lightning, SeedAndDirectionRules) {
    LightningParams p = withLines({{40, 20, 160, 280}});
    p.branching = 1;
    LightningStrikes a, b, reversed, reseeded;
    ASSERT_TRUE(LightningRenderer::buildStrikes(p, SizeI{200, 300}, a, RunContext{}));
    ASSERT_TRUE(LightningRenderer::buildStrikes(p, SizeI{200, 300}, b, RunContext{}));
    EXPECT_EQ(a.bolt, b.bolt);
    // Drawn bottom-up: same upper start and the same seed, so the same main bolt.
    LightningParams up = p;
    up.lines = {{160, 280, 40, 20}};
    ASSERT_TRUE(LightningRenderer::buildStrikes(up, SizeI{200, 300}, reversed, RunContext{}));
    EXPECT_EQ(reversed.bolt, a.bolt);
    LightningParams other = p;
    other.randomSeed = 17;
    ASSERT_TRUE(LightningRenderer::buildStrikes(other, SizeI{200, 300}, reseeded, RunContext{}));
    EXPECT_NE(reseeded.bolt, a.bolt);
}

TEST(Lightning, AHorizontalLineLightsOnlyItsRow) {
    LightningRenderer renderer;
    const auto run = render(renderer, withLines({{10, 50, 180, 50}}), 200, 100);
    const auto before = planeFloats(*run.source), after = planeFloats(*run.result);
    int changedOnRow = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 200; ++x)
            for (int c = 0; c < 3; ++c) {
                const size_t i = (size_t(y) * 200 + size_t(x)) * 4 + size_t(c);
                if (before[i] == after[i]) continue;
                ASSERT_EQ(y, 50) << "pixel " << x << "," << y;
                ++changedOnRow;
            }
    EXPECT_GT(changedOnRow, 100);
}

TEST(Lightning, GlowRules) {
    LightningParams p = withLines({{50, 10, 120, 190}});
    p.color = 0xFFFFE080u;
    // Without halo there is no glow buffer, whatever the glow colour.
    LightningParams noHalo = p;
    noHalo.halo = 0;
    noHalo.glowColor = 0xFF00FF00u;
    LightningStrikes s;
    ASSERT_TRUE(LightningRenderer::buildStrikes(noHalo, SizeI{200, 200}, s, RunContext{}));
    EXPECT_TRUE(s.glow.empty());
    LightningRenderer r1, r2;
    LightningParams green = noHalo;
    green.glowColor = 0xFF0000FFu;
    EXPECT_EQ(planeBytes(*render(r1, noHalo, 200, 200).result),
              planeBytes(*render(r2, green, 200, 200).result));

    // A transparent glow colour glows in the strike colour.
    LightningParams transparent = p, explicitColour = p;
    transparent.glowColor = 0x00123456u;
    explicitColour.glowColor = p.color;
    LightningRenderer r3, r4;
    EXPECT_EQ(planeBytes(*render(r3, transparent, 200, 200).result),
              planeBytes(*render(r4, explicitColour, 200, 200).result));

    // The glow reaches beyond the bolt, about three of its sigmas.
    LightningStrikes glowing;
    ASSERT_TRUE(LightningRenderer::buildStrikes(p, SizeI{200, 200}, glowing, RunContext{}));
    ASSERT_FALSE(glowing.glow.empty());
    int glowOnly = 0;
    for (size_t i = 0; i < glowing.bolt.size(); ++i)
        glowOnly += glowing.bolt[i] == 0 && glowing.glow[i] > 0.001f;
    EXPECT_GT(glowOnly, 1000);
}

TEST(Lightning, ColourAndBlendingOnlyRepaint) {
    LightningRenderer renderer;
    LightningParams p = withLines({{30, 10, 100, 150}});
    const auto first = render(renderer, p, 160, 160);
    EXPECT_EQ(renderer.strikeBuilds(), 1);
    p.color = 0xFF80A0FFu;
    p.strikeType = !p.strikeType;
    p.glowType = !p.glowType;
    const auto recoloured = render(renderer, p, 160, 160);
    EXPECT_EQ(renderer.strikeBuilds(), 1);
    EXPECT_NE(planeBytes(*recoloured.result), planeBytes(*first.result));
    // The cached strikes paint exactly what a fresh renderer paints.
    LightningRenderer fresh;
    EXPECT_EQ(planeBytes(*render(fresh, p, 160, 160).result), planeBytes(*recoloured.result));
    p.sigma = 3;
    render(renderer, p, 160, 160);
    EXPECT_EQ(renderer.strikeBuilds(), 2);
    render(renderer, p, 170, 160);
    EXPECT_EQ(renderer.strikeBuilds(), 3) << "another image size rebuilds";
}

TEST(Lightning, AdditiveStrikesNeverDarken) {
    LightningParams p = withLines({{30, 10, 100, 150}});
    p.strikeType = false;
    p.glowType = false;
    LightningRenderer renderer;
    const auto run = render(renderer, p, 160, 160, TypeU16, 0, nullptr, true);
    const auto before = planeFloats(*run.source), after = planeFloats(*run.result);
    for (size_t i = 0; i < before.size(); ++i) ASSERT_GE(after[i], before[i] - 1e-6f) << i;
}

TEST(Lightning, BadLinesGiveACorrectResult) {
    // No lines, only a zero-length segment, a line wholly outside the picture: the source unchanged.
    for (const auto& lines : std::vector<std::vector<Segment>>{
             {}, {{40, 40, 40, 40}}, {{-500, -300, -20, -10}}, {{5000, 10, 6000, 900}}}) {
        LightningRenderer renderer;
        const auto run = render(renderer, withLines(lines), 120, 90);
        EXPECT_EQ(run.outcome, RunOutcome::Done);
        EXPECT_EQ(planeBytes(*run.result), planeBytes(*run.source));
    }
    // Lines from far outside that cross the picture are cut to it; extreme coordinates do not overflow.
    LightningRenderer crossing;
    const auto run =
        render(crossing, withLines({{-100000, -2000000000, 60, 89}, {2147483647, 0, 0, 45}}), 120, 90);
    EXPECT_EQ(run.outcome, RunOutcome::Done);
    EXPECT_NE(planeBytes(*run.result), planeBytes(*run.source));

    // Ten thousand segments finish, mixed with degenerate ones.
    std::vector<Segment> many;
    for (int i = 0; i < 10000; ++i)
        many.push_back(i % 7 == 0 ? Segment{i % 300, 3, i % 300, 3}
                                  : Segment{(i * 37) % 300, (i * 11) % 200, (i * 53) % 300, (i * 29) % 200});
    LightningRenderer renderer;
    const auto busy = render(renderer, withLines(many), 300, 200);
    EXPECT_EQ(busy.outcome, RunOutcome::Done);
}

TEST(Lightning, CancelledRunsRebuildNextTime) {
    std::atomic<bool> cancel{true};
    LightningRenderer renderer;
    const LightningParams p = withLines({{30, 10, 100, 150}});
    EXPECT_EQ(render(renderer, p, 160, 160, TypeU8, 0, &cancel).outcome, RunOutcome::Cancelled);
    EXPECT_EQ(renderer.strikeBuilds(), 0);
    EXPECT_EQ(render(renderer, p, 160, 160).outcome, RunOutcome::Done);
    EXPECT_EQ(renderer.strikeBuilds(), 1);
}

TEST(Lightning, TheTenBuiltInLineSetsAreStrikesFromTheSkyDown) {
    EXPECT_TRUE(lightningLineSetPath(0).isEmpty());
    EXPECT_TRUE(lightningLineSetPath(11).isEmpty());
    EXPECT_EQ(lightningLineSetPath(7), QStringLiteral(":/trunks/Resources/Trunks/07.xml"));
    for (int n = 1; n <= kLightningLineSets; ++n) {
        SCOPED_TRACE(n);
        QFile file(lightningLineSetPath(n));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&file);
        ASSERT_TRUE(xml.readNextStartElement());
        EXPECT_EQ(xml.name(), QStringLiteral("elemorama"));
        EXPECT_EQ(xml.attributes().value("type"), QStringLiteral("TrunkList"));
        // Fractions of the width and height: rendered on a landscape picture here.
        const int W = 300, H = 200;
        std::vector<Segment> lines;
        while (xml.readNextStartElement()) {
            ASSERT_EQ(xml.name(), QStringLiteral("trunk"));
            const auto a = xml.attributes();
            const double x1 = a.value("x1").toDouble(), y1 = a.value("y1").toDouble();
            const double x2 = a.value("x2").toDouble(), y2 = a.value("y2").toDouble();
            for (double v : {x1, y1, x2, y2}) EXPECT_TRUE(v >= 0 && v <= 1) << v;
            lines.push_back({int(std::lround(x1 * W)), int(std::lround(y1 * H)), int(std::lround(x2 * W)),
                             int(std::lround(y2 * H))});
            xml.skipCurrentElement();
        }
        EXPECT_FALSE(xml.hasError());
        ASSERT_FALSE(lines.empty());
        LightningRenderer renderer;
        const auto run = render(renderer, withLines(lines), W, H);
        EXPECT_EQ(run.outcome, RunOutcome::Done);
        EXPECT_NE(planeBytes(*run.result), planeBytes(*run.source));
    }
}
