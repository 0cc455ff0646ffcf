// Parameter records: defaults, clamping and special rules, comparison, keys, text forms.
#include "document/filters/EffectRegistry.h"
#include "document/filters/aurora/AuroraParams.h"
#include "document/filters/cumulus/CumulusParams.h"
#include "document/filters/fire/FireParams.h"
#include "document/filters/nightsky/NightSkyParams.h"
#include "document/filters/rain/RainParams.h"
#include "document/filters/rainbow/RainbowParams.h"
#include "document/filters/sun/SunParams.h"
#include "document/filters/water/WaterParams.h"

#include <gtest/gtest.h>

#include <QMap>

using namespace Orvex::Document::Filters;

TEST(Registry, LooksUpShortClassAndLastPartNames) {
    EXPECT_EQ(EffectRegistry::find("Rain"), 0);
    EXPECT_EQ(EffectRegistry::find("Orvex::Document::Filters::Cumulus"), 4);
    EXPECT_EQ(EffectRegistry::find("Ice"), 7);
    EXPECT_EQ(EffectRegistry::find("Ice7"), 7);
    EXPECT_EQ(EffectRegistry::find("Snow"), 11);
    EXPECT_EQ(EffectRegistry::find("rain"), -1);
    EXPECT_EQ(EffectRegistry::find(""), -1);
    EXPECT_EQ(EffectRegistry::createParams(EffectId::Snow), nullptr);
    EXPECT_EQ(EffectRegistry::createParams(EffectId::Ice), nullptr);
    EXPECT_EQ(EffectRegistry::builtInPresetPath(EffectId::Cumulus),
              ":/presets/Resources/Presets/cumulus.xml");
    EXPECT_EQ(EffectRegistry::settingsGroup(EffectId::Ice), "Filters/Ice7");
}

TEST(Registry, EveryRecordTableIsConsistent) {
    for (const EffectInfo& e : EffectRegistry::all()) {
        auto p = EffectRegistry::createParams(e.id);
        if (!p) continue;
        QMap<QString, int> keys;
        QMap<FourCC, int> ids;
        for (const FieldInfo& f : p->fieldInfos()) {
            SCOPED_TRACE(std::string(e.shortName) + "." + f.member);
            if (f.settingsKey) {
                EXPECT_EQ(keys[f.settingsKey]++, 0) << "duplicate settings key";
            }
            if (f.presetId) {
                EXPECT_EQ(ids[f.presetId]++, 0) << "duplicate preset id";
            }
            if (f.hasRange()) {
                EXPECT_LE(f.minValue, f.defaultValue);
                EXPECT_GE(f.maxValue, f.defaultValue);
            }
        }
        // The defaults are a fixed point of clamping.
        auto clamped = p->clone();
        clamped->clamp();
        EXPECT_TRUE(clamped->unchangedFrom(*p)) << e.shortName;
    }
}

TEST(Params, RainClampsEveryFieldToItsRange) {
    RainParams r;
    r.density = 99, r.length = -5, r.scale = 0.01f, r.angle = 200, r.dispersion = -1, r.transparency = 101;
    r.maskRevision = -7;
    r.clamp();
    EXPECT_EQ(r.density, 20);
    EXPECT_EQ(r.length, 0);
    EXPECT_FLOAT_EQ(r.scale, 0.1f);
    EXPECT_EQ(r.angle, 180);
    EXPECT_EQ(r.dispersion, 0);
    EXPECT_EQ(r.transparency, 100);
    EXPECT_EQ(r.maskRevision, -7) << "the mask revision is not clamped";
}

TEST(Params, RealsCompareAfterHundredfoldRounding) {
    RainParams a, b;
    b.scale = 1.004f;
    EXPECT_TRUE(a.unchangedFrom(b));
    EXPECT_TRUE(a.sameStreakKey(b));
    b.scale = 1.006f;
    EXPECT_FALSE(a.unchangedFrom(b));
    b.scale = 1.01f;
    EXPECT_FALSE(a.sameStreakKey(b));
}

TEST(Params, TransparencyAndMaskRevisionInKeysAndMatching) {
    RainParams a, b;
    b.transparency = 10;
    EXPECT_TRUE(a.sameStreakKey(b)) << "transparency is not part of the streak key";
    EXPECT_FALSE(a.unchangedFrom(b));
    b = a;
    b.maskRevision = 3;
    EXPECT_FALSE(a.sameStreakKey(b));
    EXPECT_FALSE(a.unchangedFrom(b));
    EXPECT_TRUE(a.matchesPreset(b)) << "preset matching ignores the mask revision";

    CumulusParams c, d;
    d.color = 0xFF000000u;
    d.layers = 9;
    EXPECT_TRUE(c.sameNoiseKey(d));
    d.noiseSize = 51;
    EXPECT_FALSE(c.sameNoiseKey(d));
}

TEST(Params, AuroraFractionsAlwaysSumToHundred) {
    AuroraParams a;
    a.red = 70, a.green = 60, a.blue = 99;
    a.clamp();
    EXPECT_EQ(a.red, 70);
    EXPECT_EQ(a.green, 30);
    EXPECT_EQ(a.blue, 0);
    a.red = 30, a.green = 40; // green + 2 red = 100 keeps green
    a.clamp();
    EXPECT_EQ(a.green, 40);
    EXPECT_EQ(a.blue, 30);
    a.red = -5, a.green = 150;
    a.clamp();
    EXPECT_EQ(a.red, 0);
    EXPECT_EQ(a.green, 100);
    EXPECT_EQ(a.blue, 0);
}

TEST(Params, FireHueAcceptsMinus180OnlyInARun) {
    FireParams f;
    f.hue = -180;
    FireParams run = f;
    run.clampForRun();
    EXPECT_EQ(run.hue, -180);
    f.clamp();
    EXPECT_EQ(f.hue, -179);
}

TEST(Params, SunComparesRayFieldsOnlyWithSpikes) {
    SunParams a, b;
    a.spikes = b.spikes = false;
    b.number = 50;
    EXPECT_TRUE(a.unchangedFrom(b));
    a.spikes = b.spikes = true;
    EXPECT_FALSE(a.unchangedFrom(b));
    a.placeDefault(1000, 800);
    EXPECT_EQ(a.centerX, 100);
    EXPECT_FLOAT_EQ(a.radius, 20.f);
    a.centerX = 5000;
    a.clampToImage(1000, 800);
    EXPECT_EQ(a.centerX, 1000);
}

TEST(Params, RainbowAndWaterGeometry) {
    RainbowParams r;
    r.placeDefault(1000, 800);
    EXPECT_DOUBLE_EQ(r.pt0.x, 200);
    EXPECT_DOUBLE_EQ(r.pt0.y, 550);
    EXPECT_DOUBLE_EQ(r.pt1.y, 250);
    EXPECT_DOUBLE_EQ(r.pt2.x, 800);
    r.bowWidth = 1;
    r.clamp();
    EXPECT_EQ(r.bowWidth, 3);

    EXPECT_NEAR(WaterParams::horizonRow(45, 101), 50, 1); // cos/sin of 45 degrees is not exactly 1
    EXPECT_EQ(WaterParams::horizonRow(90, 101), 100);
    EXPECT_NEAR(WaterParams::horizonAngleForRow(0, 101), 26.565, 1e-3);
    EXPECT_NEAR(WaterParams::horizonAngleForRow(100, 101), 90, 1e-9);
}

TEST(Params, SetByKeyParsesClampsAndReports) {
    RainParams r;
    QString message, note;
    EXPECT_TRUE(r.setByKey("Den", "8", &message, &note));
    EXPECT_EQ(r.density, 8);
    EXPECT_TRUE(note.isEmpty());
    EXPECT_TRUE(r.setByKey("SizeRain", "25", &message, &note));
    EXPECT_FLOAT_EQ(r.scale, 10.f);
    EXPECT_EQ(note, "SizeRain=25 is out of range, clamped to 10");
    EXPECT_FALSE(r.setByKey("Nope", "1", &message));
    EXPECT_EQ(message, "unknown parameter 'Nope'");
    EXPECT_FALSE(r.setByKey("Angle", "steep", &message));
    EXPECT_EQ(r.angle, 100) << "a rejected value leaves the record unchanged";
    EXPECT_TRUE(r.setByKey("angle", "90", &message)) << "member names are accepted too";
    EXPECT_EQ(r.angle, 90);

    CumulusParams c;
    EXPECT_TRUE(c.setByKey("Color", "#8080ff", &message));
    EXPECT_EQ(c.color, 0xFF8080FFu);
    EXPECT_TRUE(c.setByKey("Color", "-1", &message)) << "a signed ARGB as the colour control emits";
    EXPECT_EQ(c.color, 0xFFFFFFFFu);
}

TEST(Params, TextForms) {
    EXPECT_EQ(realText(0.44), "0.44");
    EXPECT_EQ(realText(1.0), "1");
    EXPECT_EQ(realText(1.36f), "1.36");
    EXPECT_EQ(realText(1234567.0), "1.23457e+06");
    EXPECT_EQ(colorNameText(0xFF102030u), "#102030");
    EXPECT_EQ(colorNameText(0x00102030u), "transparent");
    EXPECT_EQ(fourCC("aRn1"), 0x61526E31u);
    EXPECT_EQ(fourCCText(fourCC("aWaC")), "aWaC");
    FourCC id = 0;
    EXPECT_FALSE(fourCCFromText("aRn12", id));
    EXPECT_FALSE(fourCCFromText(QString::fromUtf8("aRn\u0100"), id));
    bool b = false;
    EXPECT_TRUE(parseBool("On", b));
    EXPECT_TRUE(b);
}

TEST(Params, SettingsRoundTripAndDefaultsForMissingKeys) {
    QMap<QString, QVariant> store;
    NightSkyParams n;
    n.starColor = 0xFF336699u;
    n.useMeteors = true;
    n.meteorAngle = 170;
    n.save([&](const QString& k, const QVariant& v) { store[k] = v; });
    EXPECT_EQ(store["StarColor"].toString(), "#336699");
    EXPECT_EQ(store["NebulaColor"].toString(), "transparent");
    store.remove("StarSize");
    store["StarDensity"] = 500;     // out of range
    store["MeteorSize"] = "broken"; // unreadable
    NightSkyParams back;
    back.starSize = 77;
    back.load([&](const QString& k, const QVariant& d) { return store.value(k, d); });
    EXPECT_EQ(back.starColor, 0xFF336699u);
    EXPECT_TRUE(back.useMeteors);
    EXPECT_EQ(back.meteorAngle, 170);
    EXPECT_EQ(back.starSize, 40) << "a missing key gives the default";
    EXPECT_EQ(back.starDensity, 100);
    EXPECT_EQ(back.meteorSize, 26);
}
