#include "ElementsTestSupport.h"

#include "document/filters/common/Noise.h"
#include "document/filters/water/WaterSurface.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace Orvex::Document::Filters;
using namespace ElementsTest;

TEST(WaterGeometry, HorizonRowAndAngleBothWays) {
    const int h = 601;
    EXPECT_EQ(WaterParams::horizonRow(45.0, h), 300);
    EXPECT_NEAR(WaterParams::horizonAngleForRow(300, h), 45.0, 1e-9);
    EXPECT_NEAR(WaterParams::horizonAngleForRow(h - 1, h), 90.0, 1e-9);
    EXPECT_EQ(WaterParams::horizonRow(90.0, h), h - 1);
    EXPECT_NEAR(WaterParams::horizonAngleForRow(0, h), 26.565, 0.001);
    // Every row survives the round trip through the angle as the record stores it (a float).
    for (int height : {2, 3, 480, 1000, 3000})
        for (int row = 0; row < height; row += std::max(1, height / 97)) {
            const float angle = float(WaterParams::horizonAngleForRow(row, height));
            EXPECT_EQ(WaterParams::horizonRow(angle, height), row) << row << " of " << height;
        }
}

TEST(WaterGeometry, LiveRunsWorkOnAboutOneMegapixel) {
    const WaterGrid live = WaterGrid::forRun(4000, 3000, true);
    EXPECT_EQ(live.scale, 3);
    EXPECT_EQ(live.width, 1334);
    EXPECT_EQ(live.height, 1000);
    const WaterGrid normal = WaterGrid::forRun(4000, 3000, false);
    EXPECT_EQ(normal.scale, 1);
    EXPECT_EQ(normal.width, 4000);
    EXPECT_EQ(normal.height, 3000);
    EXPECT_EQ(WaterGrid::forRun(1400, 1400, true).scale, 1); // under 2.25 megapixels: full size
    EXPECT_EQ(WaterGrid::forRun(1, 1, true).scale, 1);
    EXPECT_EQ(WaterGrid::forRun(0, 0, true).width, 0);
}

TEST(WaterMaps, WaterLiesBelowTheHorizonOnly) {
    WaterMaps maps;
    buildWaterMaps(320, 240, WaterParams::horizonAngleForRow(100, 240), maps, {});
    EXPECT_EQ(maps.horizonRow, 100);
    EXPECT_GE(maps.firstRow, 101);
    EXPECT_LE(maps.firstRow, 102);
    for (int y = 0; y < 240; ++y) EXPECT_EQ(maps.water[y * 320 + 7], y >= maps.firstRow ? 255 : 0) << y;
    // Depth grows towards the horizon; the across coordinate is 0 in the middle column.
    const int rows = maps.waterRows();
    ASSERT_EQ(maps.depth.size(), std::size_t(rows));
    EXPECT_GT(maps.depth[0], maps.depth[std::size_t(rows - 1)]);
    EXPECT_NEAR(maps.acrossAt(160, rows - 1), 0.0f, 1e-4f);
    EXPECT_LT(maps.acrossAt(0, rows - 1), 0.0f);
    // Both coordinates follow the perspective formulas: s = 2 / (H - 2), t = s (H - 1 - y),
    // D = cos a - t sin a, Y = 401 (t cos a + sin a) / D, X = 401 s (x - W / 2) / D.
    const double a = WaterParams::horizonAngleForRow(100, 240) * M_PI / 180.0, sg = 2.0 / 238.0;
    for (int y : {maps.firstRow, 150, 239})
        for (int x : {0, 100, 319}) {
            const double t = sg * (239 - y), d = std::cos(a) - t * std::sin(a);
            EXPECT_NEAR(maps.depth[std::size_t(y - maps.firstRow)],
                        401.0 * (t * std::cos(a) + std::sin(a)) / d,
                        1e-3 * maps.depth[std::size_t(y - maps.firstRow)]);
            EXPECT_NEAR(maps.acrossAt(x, y - maps.firstRow), 401.0 * sg * (x - 160) / d,
                        1e-3 + 1e-5 * 401.0 / d);
        }

    // A horizon on the bottom row leaves no water; tiny pictures have none either.
    buildWaterMaps(320, 240, 90.0, maps, {});
    EXPECT_EQ(maps.waterRows(), 0);
    buildWaterMaps(5, 2, 45.0, maps, {});
    EXPECT_EQ(maps.waterRows(), 0);
    // A horizon above the picture (small angles) makes all of it water.
    buildWaterMaps(50, 40, 5.0, maps, {});
    EXPECT_LT(maps.horizonRow, 0);
    EXPECT_EQ(maps.firstRow, 0);
}

TEST(WaterWaves, WaveSetIsDrawnFromTheSeededGenerator) {
    WaterParams p = WaterParams::defaults();
    const auto a = drawWaveSet(p), b = drawWaveSet(p);
    ASSERT_EQ(a.size(), 10u);
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].amplitude, b[i].amplitude);
        EXPECT_GE(a[i].amplitude, 2.0);
        EXPECT_LT(a[i].amplitude, 4.0);
        EXPECT_GE(a[i].directionDegrees, 100 - 30);
        EXPECT_LE(a[i].directionDegrees, 100 + 30);
        EXPECT_GE(a[i].wavelength, 70);
        EXPECT_LE(a[i].wavelength, 70 + 2 * 69);
        EXPECT_GE(a[i].phase, 0.0);
        EXPECT_LE(a[i].phase, 0.25 * 2 * M_PI + 1e-12);
    }
    p.density = 0;
    EXPECT_TRUE(drawWaveSet(p).empty());
}

// The field computed sample by sample from its definition.
static double fieldAt(const WaterMaps& maps, const WaterParams& p, int x, int y) {
    const double X = maps.acrossAt(x, y - maps.firstRow), Y = maps.depth[std::size_t(y - maps.firstRow)];
    double h = 0;
    for (const Wave& w : drawWaveSet(p)) {
        const double t = w.directionDegrees * M_PI / 180.0;
        const double s = std::sin((std::cos(t) * X + std::sin(t) * Y) / w.wavelength + w.phase);
        h += w.amplitude * std::pow(s, 5);
    }
    double ripples = 0;
    for (int j = 0; j < 3; ++j)
        ripples += Orvex::Document::Filters::Common::cubicValueNoise(Y * (1 << j) / p.length,
                                                                     X * (1 << j) / p.length, 23);
    return h + p.microwaves / 10.0 * ripples / 3.0;
}

TEST(WaterWaves, FieldMatchesItsDefinitionEverywhere) {
    WaterParams p = WaterParams::defaults();
    p.microwaves = 60;
    WaterMaps maps;
    buildWaterMaps(300, 200, p.horizonAngle, maps, {});
    WaveField field;
    ASSERT_TRUE(buildWaveField(maps, p, field, {}));
    // Near the viewer, in the middle and right under the horizon (where the ripple lattice is finer
    // than the grid and the noise is evaluated per sample).
    for (int y : {199, 150, maps.firstRow + 3, maps.firstRow})
        for (int x : {0, 77, 150, 299}) {
            const double expected = fieldAt(maps, p, x, y);
            EXPECT_NEAR(field[std::size_t(y - maps.firstRow) * 300 + x], expected,
                        1e-4 * (1 + std::fabs(expected)))
                << x << "," << y;
        }
}

TEST(WaterWaves, SameFieldForAnyWorkerCount) {
    const WaterParams p = WaterParams::defaults();
    WaterMaps maps;
    buildWaterMaps(257, 190, p.horizonAngle, maps, {});
    WaveField reference;
    for (int workers : {1, 2, 7}) {
        WaterHooks hooks;
        hooks.maxWorkers = workers;
        WaveField field;
        ASSERT_TRUE(buildWaveField(maps, p, field, hooks));
        if (reference.empty()) reference = field;
        EXPECT_TRUE(sameBytes(reference, field)) << workers;
    }
}

namespace {

// A scene: a sky gradient above the horizon, sand below.
WaterPicture scene(int width, int height, int horizon) {
    WaterPicture p;
    p.width = width;
    p.height = height;
    p.rgb.resize(std::size_t(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint16_t* px = &p.rgb[(std::size_t(y) * width + x) * 3];
            if (y <= horizon) {
                px[0] = uint16_t(20000 + 100 * y), px[1] = uint16_t(30000 + 100 * y), px[2] = 60000;
            } else {
                px[0] = 50000, px[1] = 42000, px[2] = uint16_t(20000 + 30 * x);
            }
        }
    return p;
}

WaterSurface render(const WaterParams& p, const WaterPicture& picture, WaterMaps& maps) {
    buildWaterMaps(picture.width, picture.height, p.horizonAngle, maps, {});
    static WaveField field; // the surface refers to it
    buildWaveField(maps, p, field, {});
    WaterSurface s;
    prepareSurface(maps, field, p, picture, s);
    makeBottom(maps, picture, p, s, {});
    reflectScene(maps, picture, p, s, {});
    return s;
}

template <class Buffer> double meanChannel(const Buffer& rgb, int channel) {
    double sum = 0;
    for (std::size_t i = channel; i < rgb.size(); i += 3) sum += rgb[i];
    return sum / (rgb.size() / 3) / 65535.0;
}

} // namespace

TEST(WaterSurface, CalmWaterMirrorsTheSceneAtTheHorizon) {
    WaterParams p = WaterParams::defaults();
    p.density = 0;
    p.microwaves = 0;
    p.glareBrightness = 0;
    p.horizonAngle = float(WaterParams::horizonAngleForRow(120, 240));
    const WaterPicture picture = scene(320, 240, 120);
    WaterMaps maps;
    const WaterSurface s = render(p, picture, maps);
    // Just below the horizon the water is all reflection (grazing view): the row above it.
    const int r = maps.firstRow - maps.firstRow;
    const int mirroredRow = 2 * 120 + 1 - maps.firstRow;
    for (int c = 0; c < 3; ++c) {
        const double water = s.under[(std::size_t(r) * 320 + 50) * 3 + c] / 65535.0;
        const double sky = picture.rgb[(std::size_t(mirroredRow) * 320 + 50) * 3 + c] / 65535.0;
        EXPECT_NEAR(water, sky * 0.92 * (0.85 + 0.15 * ((0xFF4DBAA1u >> (16 - 8 * c)) & 0xFF) / 255.0), 0.04)
            << c;
    }
}

TEST(WaterSurface, DepthHidesTheBottomAndColourTintsTheWater) {
    const WaterPicture picture = scene(200, 160, 60);
    WaterParams p = WaterParams::defaults();
    p.horizonAngle = float(WaterParams::horizonAngleForRow(60, 160));
    p.glareBrightness = 0;
    p.depth = 0;
    WaterMaps maps;
    const WaterSurface shallow = render(p, picture, maps);
    p.depth = 100;
    const WaterSurface deep = render(p, picture, maps);
    // The sand (red-heavy) shows through shallow water, not through deep water.
    EXPECT_GT(meanChannel(shallow.under, 0), meanChannel(deep.under, 0) + 0.05);
    p.waterColor = 0xFF0000FFu;
    const WaterSurface blue = render(p, picture, maps);
    EXPECT_GT(meanChannel(blue.under, 2) - meanChannel(blue.under, 0),
              meanChannel(deep.under, 2) - meanChannel(deep.under, 0));
}

TEST(WaterSurface, GlareBrightensTheWaterBelowTheSun) {
    const WaterPicture picture = scene(240, 180, 80);
    WaterParams p = WaterParams::defaults();
    p.horizonAngle = float(WaterParams::horizonAngleForRow(80, 180));
    p.glareBrightness = 0;
    WaterMaps maps;
    const WaterSurface dark = render(p, picture, maps);
    p.glareBrightness = 99;
    p.glareHorizontalShift = 90; // straight ahead
    const WaterSurface lit = render(p, picture, maps);
    double middle = 0, side = 0;
    for (int r = 0; r < maps.waterRows(); ++r)
        for (int c = 0; c < 3; ++c) {
            const std::size_t m = (std::size_t(r) * 240 + 120) * 3 + c,
                              s = (std::size_t(r) * 240 + 5) * 3 + c;
            middle += double(lit.under[m]) - dark.under[m];
            side += double(lit.under[s]) - dark.under[s];
        }
    EXPECT_GT(middle, 0.0);
    EXPECT_GT(middle, 3 * side);
}
