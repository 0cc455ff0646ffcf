// The preset combo box of an effect panel and the parameters kept in the settings store.
#include "FilterTestSupport.h"

#include "settings/SettingsGroup.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>

#include <gtest/gtest.h>

using namespace FilterTest;

namespace {

const QString RainGroup = QStringLiteral("Filters/OXF/Elemorama/Filters/Rain");

struct PresetFixture : ::testing::Test {
    TestSettings settings;
    CapturedMessages boxes;
    FilterDocument document{rgbaPlane(40, 30), maskChannel(40, 30, 255)};

    std::unique_ptr<ScriptedRain> open() {
        auto rain = std::make_unique<ScriptedRain>();
        rain->body = [](ScriptedRain&, const DataStorage::PixelPlane&, DataStorage::PixelPlane&) {
            return RunOutcome::Done;
        };
        rain->setDocument(&document);
        rain->CreateParamsWidget();
        rain->Activate();
        return rain;
    }
    static int indexOf(ToolFilter& f, const QString& name) {
        for (int i = 0; i < f.presetCount(); ++i)
            if (f.presetName(i) == name) return i;
        return -1;
    }
    static void saveAs(ToolFilter& f, const QString& name) {
        ASSERT_TRUE(f.isPresetEdited());
        f.presetCombo()->setEditText(name);
        f.OnSavePresetClicked();
    }
};

TEST_F(PresetFixture, UserPresetsWithOddNamesSurviveASession) {
    const QStringList names = {QStringLiteral("say \"hi\" & <go>"), QStringLiteral("Regen über Zürich 雨"),
                               QString(200, QChar(u'é'))};
    {
        auto rain = open();
        int density = 11;
        for (const QString& name : names) {
            rain->setParamValue("density", QString::number(density++));
            saveAs(*rain, name);
            EXPECT_FALSE(rain->isPresetEdited());
            EXPECT_TRUE(rain->deleteButton()->isEnabled());
        }
        rain->Deactivate();
    }
    auto again = open();
    int density = 11;
    for (const QString& name : names) {
        const int index = indexOf(*again, name);
        ASSERT_GE(index, again->firstUserPreset()) << name.toStdString();
        again->LoadPreset(index);
        EXPECT_EQ(again->current().valueText("density"), QString::number(density++));
    }
    // The last chosen preset is the one shown on the next activation.
    EXPECT_EQ(again->presetName(again->currentPreset()), names.last());
    again->Deactivate();
}

TEST_F(PresetFixture, NamesWithSlashesAreRefused) {
    auto rain = open();
    const int before = rain->presetCount();
    rain->setParamValue("density", "17");
    saveAs(*rain, "wet/dry");
    saveAs(*rain, "wet\\dry");
    EXPECT_EQ(rain->presetCount(), before);
    ASSERT_EQ(boxes.messages.size(), 2u);
    EXPECT_EQ(boxes.messages[0].text, "Preset name cannot contain slashes ('/' and '\\').");
    rain->Deactivate();
}

TEST_F(PresetFixture, ABuiltInNameIsNeverOverwritten) {
    auto rain = open();
    rain->LoadPreset(0);
    const QString builtIn = rain->presetName(0);
    ASSERT_TRUE(rain->isBuiltInPreset(0));
    rain->setParamValue("density", "19");
    // Editing a built-in preset proposes a fresh name at once.
    EXPECT_EQ(rain->presetCombo()->currentText(), builtIn + " (1)");
    saveAs(*rain, builtIn);
    EXPECT_EQ(rain->presetCombo()->currentText(), builtIn + " (1)"); // proposed, not saved
    rain->OnSavePresetClicked();
    const int saved = indexOf(*rain, builtIn + " (1)");
    ASSERT_GE(saved, rain->firstUserPreset());
    rain->LoadPreset(0);
    EXPECT_NE(rain->current().valueText("density"), "19");
    rain->setParamValue("density", "18");
    EXPECT_EQ(rain->presetCombo()->currentText(), builtIn + " (2)");
    rain->Deactivate();
}

TEST_F(PresetFixture, OverwriteAsksAndDeleteSelectsANeighbour) {
    auto rain = open();
    rain->setParamValue("density", "1");
    saveAs(*rain, "mine");
    rain->setParamValue("density", "2");
    boxes.answer = false;
    saveAs(*rain, "mine");
    rain->LoadPreset(indexOf(*rain, "mine"));
    EXPECT_EQ(rain->current().valueText("density"), "1"); // the question was answered no
    rain->setParamValue("density", "2");
    boxes.answer = true;
    saveAs(*rain, "mine");
    EXPECT_EQ(rain->presetCount(), indexOf(*rain, "mine") + 1);
    rain->LoadPreset(indexOf(*rain, "mine"));
    EXPECT_EQ(rain->current().valueText("density"), "2");

    rain->OnDeletePresetClicked();
    EXPECT_EQ(indexOf(*rain, "mine"), -1);
    EXPECT_NE(rain->currentPreset(), rain->firstUserPreset() - 1); // never the separator
    EXPECT_EQ(boxes.messages.back().text, "Delete this preset?");
    rain->Deactivate();
}

TEST_F(PresetFixture, ParamsMatchingAPresetSelectIt) {
    auto rain = open();
    rain->LoadPreset(2);
    auto preset = rain->current().clone();
    rain->setParamValue("density", "0");
    EXPECT_TRUE(rain->isPresetEdited());
    // A scale of 1.004 still counts as the preset's 1.
    ASSERT_TRUE(preset->setByKey("scale", "1.004", nullptr, nullptr));
    rain->setCurrentParams(*preset); // back to the preset's values, as a restore does
    EXPECT_FALSE(rain->isPresetEdited());
    EXPECT_EQ(rain->currentPreset(), 2);
    rain->Deactivate();
}

TEST_F(PresetFixture, StoredValuesOutOfRangeAreClampedAndDamagedListsStop) {
    settings.store.setValue(RainGroup + "/Den", 999);
    settings.store.setValue(RainGroup + "/SizeRain", "not a number");
    settings.store.setValue(RainGroup + "/Presets/versionPreset", 2);
    settings.store.setValue(RainGroup + "/Presets/presetCount", 3);
    settings.store.setValue(RainGroup + "/Presets/preset1", "name{=}Soft{;}version{=}1.1{;}1632792113{=}4");
    settings.store.setValue(RainGroup + "/Presets/preset2", "garbage");
    settings.store.setValue(RainGroup + "/Presets/preset3", "name{=}Late{;}version{=}1.1");
    auto rain = open();
    EXPECT_EQ(rain->current().valueText("density"), "20");
    EXPECT_EQ(rain->current().valueText("scale"), "1");
    EXPECT_EQ(rain->presetCount() - rain->firstUserPreset(), 1);
    const int soft = indexOf(*rain, "Soft");
    ASSERT_GE(soft, 0);
    rain->LoadPreset(soft);
    EXPECT_EQ(rain->current().valueText("density"), "4");
    rain->Deactivate();
}

TEST_F(PresetFixture, ParametersTravelThroughTheDocument) {
    auto rain = open();
    rain->setParamValue("length", "77");
    ASSERT_TRUE(rain->StoreParamsToDocument());
    rain->setParamValue("length", "5");
    ASSERT_TRUE(rain->LoadParamsFromDocument());
    EXPECT_EQ(rain->current().valueText("length"), "77");
    EXPECT_EQ(rain->lastRun().valueText("length"), "77");
    // Another effect's record under the tag is not ours.
    Fire fire;
    fire.setDocument(&document);
    EXPECT_FALSE(fire.LoadParamsFromDocument());
    rain->Deactivate();
}

} // namespace
