// Preset files through the import and export dialog's code: round trips with awkward names, the
// merge choices, the dialog's check boxes and files that must be refused without losing anything.
#include "../framework/FilterTestSupport.h"

#include "settings/SettingsGroup.h"
#include "ui/PresetsUI.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace FilterTest;
using Orvex::UI::PresetExchange;
using Orvex::UI::PresetsUI;

namespace {

struct ExchangeFixture : ::testing::Test {
    TestSettings settings;
    CapturedMessages boxes;
    QTemporaryDir dir;
    FilterDocument document{rgbaPlane(16, 16), maskChannel(16, 16, 255)};
    Rain rain;

    void SetUp() override {
        rain.setDocument(&document);
        rain.CreateParamsWidget();
        rain.Activate();
    }
    void TearDown() override { rain.Deactivate(); }

    QString path(const QString& name) const { return dir.filePath(name); }
    void addUserPreset(const QString& name, int density) {
        rain.setParamValue("density", QString::number(density));
        rain.presetCombo()->setEditText(name);
        rain.OnSavePresetClicked();
    }
    PresetList userPresets() const {
        PresetList list;
        rain.CollectUserPresets(list);
        return list;
    }
    static QStringList names(const PresetList& list) {
        QStringList out;
        for (const auto& p : list) out << p.name;
        return out;
    }
    void writeFile(const QString& name, const QByteArray& bytes) {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
};

TEST_F(ExchangeFixture, ExportThenImportKeepsNamesAndValues) {
    const QStringList odd = {QStringLiteral("it's \"wet\" <&>"), QStringLiteral("Ливень ☔"),
                             QString(200, QChar('x'))};
    int density = 3;
    for (const QString& name : odd) addUserPreset(name, density++);
    const PresetList exported = userPresets();
    QString message;
    ASSERT_TRUE(PresetExchange::exportFile(path("rain.elemorama"), EffectId::Rain, exported, &message))
        << message.toStdString();

    PresetExchange::ImportChoices choices;
    choices.deleteAllBeforeImport = true;
    ASSERT_TRUE(PresetExchange::importFile(path("rain.elemorama"), &rain, choices, &message))
        << message.toStdString();
    EXPECT_EQ(names(userPresets()), odd);
    const PresetList back = userPresets();
    for (int i = 0; i < back.size(); ++i) EXPECT_EQ(back[i].entries, exported[i].entries) << i;
    // The import selected and loaded the last preset.
    EXPECT_EQ(rain.current().valueText("density"), "5");
}

TEST_F(ExchangeFixture, NameClashesRenameOrReplace) {
    addUserPreset("A", 1);
    addUserPreset("B", 2);
    const PresetList incoming = {rain.current().toPreset("A")};
    QString message;
    ASSERT_TRUE(PresetExchange::exportFile(path("a.elemorama"), EffectId::Rain, incoming, &message));

    PresetExchange::ImportChoices rename;
    ASSERT_TRUE(PresetExchange::importFile(path("a.elemorama"), &rain, rename, &message));
    EXPECT_EQ(names(userPresets()), (QStringList{"A", "B", "A (1)"}));

    PresetExchange::ImportChoices replace;
    replace.clash = NameClash::Replace;
    ASSERT_TRUE(PresetExchange::importFile(path("a.elemorama"), &rain, replace, &message));
    EXPECT_EQ(names(userPresets()), (QStringList{"B", "A (1)", "A"}));
}

TEST_F(ExchangeFixture, ImportForAnotherEffectGoesToItsSettings) {
    Frost frost;
    auto preset = frost.current().toPreset("Rime");
    QString message;
    ASSERT_TRUE(PresetExchange::exportFile(path("frost.elemorama"), EffectId::Frost, {preset}, &message));
    const PresetList rainBefore = userPresets();
    ASSERT_TRUE(PresetExchange::importFile(path("frost.elemorama"), &rain, {}, &message));
    EXPECT_EQ(userPresets(), rainBefore);
    const SettingsGroupRO group(&settings.store, "Filters/OXF/Elemorama/Filters/Frost");
    EXPECT_EQ(names(readUserPresets(group, EffectId::Frost)), QStringList{"Rime"});
}

TEST_F(ExchangeFixture, UnusableFilesAreRefusedAndChangeNothing) {
    addUserPreset("Keep me", 7);
    const PresetList before = userPresets();
    writeFile("text.elemorama", "this is not XML at all");
    writeFile("empty.elemorama", "");
    writeFile("other.elemorama", "<?xml version=\"1.0\"?><!DOCTYPE foo><foo/>");
    writeFile("style.elemorama", "<!DOCTYPE preset_list><preset_list version=\"1.0\" useStyle=\"Hail\"/>");
    writeFile(
        "cut.elemorama",
        "<!DOCTYPE preset_list><preset_list version=\"1.0\" useStyle=\"Rain\"><preset name=\"x\"><Rain_set>");
    {
        QFile big(path("big.elemorama"));
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        ASSERT_TRUE(big.resize(100ll << 20));
    }
    const struct {
        const char* file;
        const char* start;
    } cases[] = {{"text.elemorama", "Parse error in file text.elemorama at line 1"},
                 {"empty.elemorama", "Cannot read file empty.elemorama:\nThe file is empty.."},
                 {"other.elemorama", "Parse error in file other.elemorama"},
                 {"style.elemorama", "Parse error in file style.elemorama"},
                 {"cut.elemorama", "Parse error in file cut.elemorama"},
                 {"big.elemorama", "Cannot read file big.elemorama:\nThe file is larger than 16 MiB"},
                 {"missing.elemorama", "Cannot read file missing.elemorama:\n"}};
    for (const auto& c : cases) {
        QString message;
        EXPECT_FALSE(PresetExchange::importFile(path(c.file), &rain, {}, &message)) << c.file;
        EXPECT_TRUE(message.startsWith(QString::fromUtf8(c.start)))
            << c.file << ": " << message.toStdString();
        EXPECT_EQ(userPresets(), before) << c.file;
    }
}

TEST_F(ExchangeFixture, FailedExportLeavesThePreviousFileWhole) {
    addUserPreset("One", 1);
    QString message;
    ASSERT_TRUE(PresetExchange::exportFile(path("keep.elemorama"), EffectId::Rain, userPresets(), &message));
    QFile f(path("keep.elemorama"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray before = f.readAll();
    f.close();
    EXPECT_FALSE(
        PresetExchange::exportFile(path("no/such/dir/x.elemorama"), EffectId::Rain, userPresets(), &message));
    EXPECT_TRUE(message.startsWith("Error opening x.elemorama:\n")) << message.toStdString();
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before);
}

TEST(PresetsDialog, SelectAllFollowsTheItems) {
    PresetsUI dialog(PresetsUI::Import);
    dialog.setPresets(EffectId::Ice, {PresetRecord{"a", "1.1", {}}, PresetRecord{"b", "1.1", {}}});
    EXPECT_EQ(dialog.findChild<QLabel*>("effectName")->text(), "Ice");
    EXPECT_EQ(dialog.selectAll()->checkState(), Qt::Checked);
    dialog.presetList()->item(1)->setCheckState(Qt::Unchecked);
    EXPECT_EQ(dialog.selectAll()->checkState(), Qt::PartiallyChecked);
    EXPECT_EQ(dialog.checkedPresets().size(), 1);
    dialog.selectAll()->click(); // partial -> everything
    EXPECT_EQ(dialog.checkedPresets().size(), 2);
    dialog.selectAll()->click();
    EXPECT_TRUE(dialog.checkedPresets().isEmpty());
    EXPECT_FALSE(dialog.okButton()->isEnabled());
    dialog.deleteAll()->setChecked(true);
    EXPECT_FALSE(dialog.replace()->isEnabled());

    PresetsUI unknown(PresetsUI::Export);
    unknown.setPresets(42, {});
    EXPECT_EQ(unknown.findChild<QLabel*>("effectName")->text(), "Unknown");
    EXPECT_FALSE(unknown.deleteAll()->isVisibleTo(&unknown));
}

} // namespace
