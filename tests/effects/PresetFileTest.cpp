// Preset files, the one-line serialisation, user presets in the settings store, built-in presets.
#include "document/filters/PresetFile.h"
#include "document/filters/cumulus/CumulusParams.h"
#include "document/filters/rain/RainParams.h"
#include "settings/SettingsGroup.h"

#include <gtest/gtest.h>

#include <QBuffer>

using namespace Orvex::Document::Filters;

namespace {

struct ReadResult {
    bool ok;
    PresetList presets;
    int effect = -1;
    QString error;
    qint64 line = 0;
};

ReadResult readText(const QString& xml) {
    QByteArray bytes = xml.toUtf8();
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    PresetFileReader reader;
    ReadResult r;
    r.ok = reader.read(&buffer, r.presets, r.effect);
    r.error = reader.errorString();
    r.line = reader.lineNumber();
    return r;
}

QString file(const QString& style, const QString& body, const QString& version = "1.0") {
    return QStringLiteral("<?xml version=\"1.0\"?>\n<!DOCTYPE preset_list>\n<preset_list version=\"%1\" "
                          "useStyle=\"%2\">\n%3\n"
                          "</preset_list>\n")
        .arg(version, style, body);
}

} // namespace

TEST(PresetFile, RejectsOtherDocumentsWithTheirMessages) {
    auto r = readText(
        "<?xml version=\"1.0\"?>\n<!DOCTYPE other>\n<preset_list version=\"1.0\" useStyle=\"Rain\"/>");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "The file is not an 'preset_list' file.");
    r = readText(file("Rain", "", "2.0"));
    EXPECT_EQ(r.error, "The file is not an 'preset_list' version 1.0 file.");
    r = readText("<presets version=\"1.0\"/>");
    EXPECT_EQ(r.error, "The file is not an 'preset_list' version 1.0 file.");
    r = readText(file("Hail", ""));
    EXPECT_EQ(r.error, "Unsupported mode 'Hail'.");
    r = readText(file("Rain", "<preset name=\"a\"><Rain_set>"));
    EXPECT_FALSE(r.ok);
    EXPECT_GT(r.line, 0) << "a format error has a position";
}

TEST(PresetFile, AcceptsIceUnderBothNames) {
    EXPECT_EQ(readText(file("Ice7", "")).effect, EffectId::Ice);
    EXPECT_EQ(readText(file("Ice", "")).effect, EffectId::Ice);
    EXPECT_TRUE(readText(file("Ice", "")).ok);
}

TEST(PresetFile, ReadsOnlyKnownOptionsOfTheEffectGroup) {
    auto r = readText(file("Rain", R"(
  <preset name="One">
    <Rain_set>
      <option id="aRn1" value="9"/>
      <option id="aRn12" value="3"/>
      <option id="zzzz" value="3"/>
      <note id="aRn2" value="40"/>
      <option id="aRn3" value="0.5"/>
    </Rain_set>
    <Cumulus_set><option id="aRn4" value="1"/></Cumulus_set>
  </preset>
  <something/>
  <preset name="Two"/>)"));
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    ASSERT_EQ(r.presets.size(), 2);
    EXPECT_EQ(r.presets[0].name, "One");
    EXPECT_EQ(r.presets[0].version, "1.1");
    ASSERT_EQ(r.presets[0].entries.size(), 2);
    EXPECT_EQ(r.presets[0].entries[0].id, fourCC("aRn1"));
    EXPECT_EQ(r.presets[0].entries[1].value, "0.5");
    EXPECT_TRUE(r.presets[1].entries.isEmpty());
}

TEST(PresetFile, BooleansReadYesAndOnExactly) {
    auto r = readText(file("Rainbow", R"(<preset name="b"><Rainbow_set>
      <option id="aRw3" value="on"/><option id="aRw4" value="On"/><option id="aRw1" value="yes"/>
    </Rainbow_set></preset>)"));
    ASSERT_TRUE(r.ok);
    const PresetRecord& p = r.presets[0];
    EXPECT_EQ(*p.value(fourCC("aRw3")), "1");
    EXPECT_EQ(*p.value(fourCC("aRw4")), "0");
    EXPECT_EQ(*p.value(fourCC("aRw1")), "yes") << "non-boolean values travel as text";
}

TEST(PresetFile, WriteThenReadGivesTheSameListInTableOrder) {
    PresetRecord p;
    p.name = "Mixed <&> \"name\"";
    // Entries out of table order come back in table order.
    p.entries = {{fourCC("aRw4"), "1"}, {fourCC("aRw1"), "120"}, {fourCC("aRw3"), "0"}};
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(PresetFileWriter().write(&buffer, {p}, EffectId::Rainbow));
    const QString text = QString::fromUtf8(buffer.data());
    EXPECT_TRUE(text.contains("<!DOCTYPE preset_list>"));
    EXPECT_TRUE(text.contains("useStyle=\"Rainbow\""));
    EXPECT_TRUE(text.contains("<option id=\"aRw4\" value=\"yes\"/>"));
    EXPECT_TRUE(text.contains("<option id=\"aRw3\" value=\"no\"/>"));
    EXPECT_LT(text.indexOf("aRw1"), text.indexOf("aRw3"));
    EXPECT_LT(text.indexOf("aRw3"), text.indexOf("aRw4"));
    auto r = readText(text);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.presets.size(), 1);
    EXPECT_EQ(r.presets[0].name, p.name);
    EXPECT_EQ(r.presets[0].entries.size(), 3);
    EXPECT_EQ(*r.presets[0].value(fourCC("aRw4")), "1");
}

TEST(PresetText, BothSeparatorFormsAndRejections) {
    PresetRecord p;
    const QString soft = QStringLiteral("name{=}Soft{;}version{=}1.1{;}%1{=}0.5").arg(fourCC("aRn3"));
    ASSERT_TRUE(presetFromText(soft, p));
    EXPECT_EQ(p.name, "Soft");
    EXPECT_EQ(p.version, "1.1");
    ASSERT_EQ(p.entries.size(), 1);
    EXPECT_EQ(p.entries[0].id, fourCC("aRn3"));
    EXPECT_EQ(p.entries[0].value, "0.5");
    EXPECT_EQ(presetToText(p), soft);

    ASSERT_TRUE(presetFromText(QStringLiteral("name=Old;version=1.0;%1=7;").arg(fourCC("aRn1")), p));
    EXPECT_EQ(p.name, "Old");
    EXPECT_EQ(*p.value(fourCC("aRn1")), "7");
    // A value holding '=' survives the new form.
    ASSERT_TRUE(presetFromText("name{=}a=b{;}version{=}1.1", p));
    EXPECT_EQ(p.name, "a=b");

    EXPECT_FALSE(presetFromText("", p));
    EXPECT_FALSE(presetFromText("version{=}1.1{;}name{=}x", p));
    EXPECT_FALSE(presetFromText("name{=}x", p));
    EXPECT_FALSE(presetFromText("name{=}x{;}version{=}1.1{;}aRn1{=}5", p)) << "ids are decimal numbers";
    EXPECT_FALSE(presetFromText("name{=}x{;}version{=}1.1{;}12345", p));
}

TEST(BuiltInPresets, EveryEffectLoadsAndRoundTrips) {
    const int expectedCounts[] = {13, 17, 11, 9, 8, 6, 13, 0, 9, 22, 24, 0};
    for (const EffectInfo& e : EffectRegistry::all()) {
        SCOPED_TRACE(e.shortName);
        const PresetList presets = builtInPresets(e.id);
        EXPECT_EQ(presets.size(), expectedCounts[e.id]);
        auto params = EffectRegistry::createParams(e.id);
        QStringList names;
        for (const PresetRecord& p : presets) {
            EXPECT_TRUE(p.name.startsWith("ORVEX ")) << p.name.toStdString();
            EXPECT_FALSE(names.contains(p.name)) << "duplicate " << p.name.toStdString();
            names << p.name;
            // Every value is a value of its field and inside its range: applying the preset and
            // writing it back gives the same entries.
            auto r = params->clone();
            r->reset();
            r->applyPreset(p);
            const PresetRecord back = r->toPreset(p.name);
            EXPECT_EQ(back.entries.size(), p.entries.size()) << p.name.toStdString();
            auto again = r->clone();
            again->reset();
            again->applyPreset(back);
            EXPECT_TRUE(again->matchesPreset(*r)) << p.name.toStdString();
            for (const PresetEntry& entry : p.entries) {
                const QString* v = back.value(entry.id);
                ASSERT_TRUE(v);
                double a = 0, b = 0;
                if (parseReal(entry.value, a) && parseReal(*v, b)) {
                    EXPECT_DOUBLE_EQ(a, b)
                        << p.name.toStdString() << " " << fourCCText(entry.id).toStdString();
                } else {
                    uint32_t ca = 0, cb = 0;
                    EXPECT_TRUE(parseColor(entry.value, ca) && parseColor(*v, cb) && ca == cb)
                        << p.name.toStdString() << " " << fourCCText(entry.id).toStdString();
                }
            }
        }
    }
}

TEST(BuiltInPresets, HoldTheDocumentedValues) {
    PresetRecord storm;
    ASSERT_TRUE(findPreset(EffectId::Rain, "ORVEX Storm", storm));
    RainParams r;
    r.applyPreset(storm);
    EXPECT_EQ(r.density, 5);
    EXPECT_EQ(r.length, 21);
    EXPECT_FLOAT_EQ(r.scale, 1.7f);
    EXPECT_EQ(r.angle, 68);
    EXPECT_EQ(r.dispersion, 9);
    EXPECT_EQ(r.transparency, 6);
    EXPECT_EQ(builtInPresets(EffectId::Rain).first().name, "ORVEX Rain");
    EXPECT_EQ(builtInPresets(EffectId::Rain).last().name, "ORVEX Wall of Rain");
    PresetRecord dense;
    ASSERT_TRUE(findPreset(EffectId::Cumulus, "ORVEX Dense Clouds", dense));
    CumulusParams c;
    c.applyPreset(dense);
    EXPECT_EQ(c.color, 4293193215u);
    EXPECT_EQ(c.noiseSize, 77);
    EXPECT_FALSE(findPreset(EffectId::Rain, "ORVEX Hail", storm));
}

TEST(UserPresets, WriteReadAndLeftoversRemoved) {
    Orvex::SettingsMap store;
    Orvex::SettingsGroupRW group(&store, "Filters/Rain");
    PresetList list;
    for (int i = 0; i < 4; ++i) {
        RainParams r;
        r.density = i;
        list.push_back(r.toPreset(QStringLiteral("P%1").arg(i)));
    }
    writeUserPresets(group, list);
    EXPECT_EQ(store.value("Filters/Rain/Presets/versionPreset").toInt(), 2);
    EXPECT_TRUE(store.contains("Filters/Rain/Presets/preset4"));
    list.removeLast();
    list.removeLast();
    writeUserPresets(group, list);
    EXPECT_EQ(store.value("Filters/Rain/Presets/presetCount").toInt(), 2);
    EXPECT_FALSE(store.contains("Filters/Rain/Presets/preset3"));
    EXPECT_FALSE(store.contains("Filters/Rain/Presets/preset4"));
    EXPECT_EQ(readUserPresets(group, EffectId::Rain), list);
}

TEST(UserPresets, ReadingStopsAtTheFirstDamagedEntry) {
    Orvex::SettingsMap store;
    store.setValue("Filters/Rain/Presets/versionPreset", 2);
    store.setValue("Filters/Rain/Presets/presetCount", 3);
    store.setValue("Filters/Rain/Presets/preset1", "name{=}A{;}version{=}1.1");
    store.setValue("Filters/Rain/Presets/preset2", "garbage");
    store.setValue("Filters/Rain/Presets/preset3", "name{=}C{;}version{=}1.1");
    const PresetList list = readUserPresets(Orvex::SettingsGroupRO(&store, "Filters/Rain"), EffectId::Rain);
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list[0].name, "A");
}

TEST(UserPresets, OlderSubGroupFormReadsSettingsKeys) {
    Orvex::SettingsMap store;
    store.setValue("Filters/Rain/Presets/Heavy/Den", 17);
    store.setValue("Filters/Rain/Presets/Heavy/SizeRain", 2.5);
    store.setValue("Filters/Rain/Presets/Light/Den", 99);
    const PresetList list = readUserPresets(Orvex::SettingsGroupRO(&store, "Filters/Rain"), EffectId::Rain);
    ASSERT_EQ(list.size(), 2);
    RainParams heavy, light;
    heavy.applyPreset(list[0]);
    light.applyPreset(list[1]);
    EXPECT_EQ(list[0].name, "Heavy");
    EXPECT_EQ(heavy.density, 17);
    EXPECT_FLOAT_EQ(heavy.scale, 2.5f);
    EXPECT_EQ(heavy.length, 12) << "missing keys give defaults";
    EXPECT_EQ(light.density, 20) << "values are clamped";
}

TEST(PresetImport, ReplaceKeepsOneAtTheEndRenameAddsAFreshName) {
    auto named = [](const QString& n, const QString& v) {
        PresetRecord p;
        p.name = n;
        p.entries = {{fourCC("aRn1"), v}};
        return p;
    };
    const PresetList target = {named("Soft", "1"), named("Hard", "9"), named("Soft (1)", "2")};
    PresetList replaced = mergeImportedPresets(target, {named("Soft", "5")}, NameClash::Replace);
    ASSERT_EQ(replaced.size(), 3);
    EXPECT_EQ(replaced[0].name, "Hard");
    EXPECT_EQ(replaced.last().name, "Soft");
    EXPECT_EQ(replaced.last().entries[0].value, "5");

    PresetList renamed =
        mergeImportedPresets(target, {named("Soft", "5"), named("New", "3")}, NameClash::RenameAndAdd);
    ASSERT_EQ(renamed.size(), 5);
    EXPECT_EQ(renamed[3].name, "Soft (2)") << "\"Soft (1)\" is taken";
    EXPECT_EQ(renamed[4].name, "New");
}

TEST(PresetExport, ProposedNameFollowsTheCurrentEffect) {
    EXPECT_EQ(proposeExportPath("", EffectId::Frost), "Frost_presets.elemorama");
    EXPECT_EQ(proposeExportPath("/home/u/p/Rain_presets.elemorama", EffectId::Frost),
              "/home/u/p/Frost_presets.elemorama");
    EXPECT_EQ(proposeExportPath("C:\\presets\\Rainbow-mine.elemorama", EffectId::Sun),
              "C:/presets/Sun-mine.elemorama");
    // "Rainy" does not start with an effect name and a separator.
    EXPECT_EQ(proposeExportPath("/x/Rainy.elemorama", EffectId::Cumulus), "/x/Cumulus_Rainy.elemorama");
    EXPECT_EQ(proposeExportPath("/x/Ice(old).elemorama", EffectId::Water), "/x/Water(old).elemorama");
}
