// The Preferences dialog over an in-memory store at the run's settings prefix.
#include "ui/OptionsUI.h"
#include "WidgetTestSupport.h"
#include "gui/ColorButton.h"
#include "gui/InterfaceChoices.h"
#include "gui/Param.h"
#include "settings/Settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyleFactory>

#include <gtest/gtest.h>

using Orvex::SettingsGroupRW;
using Orvex::SettingsMap;
using Orvex::UI::OptionsContext;
using Orvex::UI::OptionsUI;

namespace {

const QString kPrefix = QStringLiteral("Filters/OXF/Elemorama");

struct Fixture {
    SettingsMap store;
    QStringList switchedTo;
    OptionsContext context() {
        OptionsContext c{SettingsGroupRW(&store, kPrefix)};
        c.currentLanguage = "de";
        c.currentScale = 1.0;
        c.switchLanguage = [this](const QString& code) { switchedTo << code; };
        return c;
    }
    void set(const QString& key, const QVariant& value) { store.setValue(kPrefix + "/" + key, value); }
    QVariant get(const QString& key) const { return store.value(kPrefix + "/" + key); }
};

} // namespace

TEST(OptionsUI, EmptyStoreLoadsTheDefaults) {
    Fixture f;
    OptionsUI dialog(f.context());
    EXPECT_EQ(dialog.windowTitle(), "Preferences");
    EXPECT_EQ(dialog.languageCombo()->currentData().toString(), "de");
    EXPECT_EQ(dialog.scaleCombo()->currentIndex(), 0);
    EXPECT_EQ(dialog.themeCombo()->currentData().toString(), Orvex::GUI::defaultInterfaceTheme());
    EXPECT_TRUE(dialog.fitToViewButton()->isChecked());
    EXPECT_EQ(dialog.historySpin()->value(), 25);
    EXPECT_EQ(dialog.historySpin()->minimum(), 5);
    EXPECT_EQ(dialog.historySpin()->maximum(), 100);
    EXPECT_EQ(dialog.historySpin()->singleStep(), 5);
    EXPECT_TRUE(dialog.marchingAntsButton()->isChecked());
    EXPECT_EQ(dialog.marchingAntsButton()->text(), "\"Marching ants\"");
    EXPECT_EQ(dialog.colorButton()->color(), QColor(255, 0, 0));
    EXPECT_EQ(dialog.opacityControl()->value(), 40);
    EXPECT_EQ(dialog.opacityControl()->minimum(), 10);
    EXPECT_EQ(dialog.opacityControl()->maximum(), 90);
    EXPECT_FALSE(dialog.colorButton()->isEnabled()) << "colour controls belong to the filled mode";
    EXPECT_FALSE(dialog.opacityControl()->isEnabled());
    EXPECT_EQ(dialog.hintsCombo()->currentData().toString(), "right");
    EXPECT_EQ(dialog.hintsCombo()->currentText(), "Under Settings Panel");
    EXPECT_TRUE(dialog.lockCheck()->isChecked());
    EXPECT_TRUE(dialog.recentFilesSpin()->isHidden() || !dialog.recentFilesSpin()->isVisibleTo(&dialog));
    EXPECT_FALSE(f.store.hasKeys()) << "loading writes nothing";
}

TEST(OptionsUI, LoadsStoredValuesBelowThePrefix) {
    Fixture f;
    f.set("InitialFit", false);
    f.set("undoCount", 60);
    f.set("SelectionMode", true);
    f.set("SelectionColor", int(0x8000FF00u));
    f.set("showHints", "left");
    f.set("Topbar/LockPanel", false);
    f.set("UIScale", 1.5);
    const QString other = Orvex::GUI::interfaceThemes().last().data.toString();
    f.set("Style", other.toLower()); // stored names match whatever their case
    OptionsUI dialog(f.context());
    EXPECT_TRUE(dialog.actualSizeButton()->isChecked());
    EXPECT_EQ(dialog.historySpin()->value(), 60);
    EXPECT_TRUE(dialog.filledButton()->isChecked());
    EXPECT_TRUE(dialog.colorButton()->isEnabled());
    EXPECT_EQ(dialog.colorButton()->color(), QColor(0, 255, 0));
    EXPECT_EQ(dialog.opacityControl()->value(), 50); // 128 / 255
    EXPECT_EQ(dialog.hintsCombo()->currentData().toString(), "left");
    EXPECT_FALSE(dialog.lockCheck()->isChecked());
    EXPECT_DOUBLE_EQ(dialog.scaleCombo()->currentData().toDouble(), 1.5);
    EXPECT_EQ(dialog.themeCombo()->currentData().toString(), other);
}

TEST(OptionsUI, BrokenStoredValuesFallBackToDefaults) {
    Fixture f;
    f.set("InitialFit", "maybe");
    f.set("undoCount", "lots");
    f.set("SelectionMode", 2.5);
    f.set("SelectionColor", "red");
    f.set("showHints", "sideways");
    f.set("Topbar/LockPanel", "");
    f.set("UIScale", "huge");
    f.set("Style", "NoSuchStyle");
    OptionsUI dialog(f.context());
    EXPECT_TRUE(dialog.fitToViewButton()->isChecked());
    EXPECT_EQ(dialog.historySpin()->value(), 25);
    EXPECT_TRUE(dialog.marchingAntsButton()->isChecked());
    EXPECT_EQ(dialog.colorButton()->color(), QColor(255, 0, 0));
    EXPECT_EQ(dialog.opacityControl()->value(), 40);
    EXPECT_EQ(dialog.hintsCombo()->currentIndex(), 0) << "an unknown value leaves the first item";
    EXPECT_TRUE(dialog.lockCheck()->isChecked());
    EXPECT_EQ(dialog.scaleCombo()->currentIndex(), 0);
    EXPECT_EQ(dialog.themeCombo()->currentData().toString(), Orvex::GUI::defaultInterfaceTheme());
}

TEST(OptionsUI, OutOfRangeNumbersAreClamped) {
    Fixture f;
    f.set("undoCount", 1000);
    f.set("SelectionColor", int(0x01FF0000u)); // alpha 1: below the opacity range
    f.set("UIScale", 7.0);
    OptionsUI dialog(f.context());
    EXPECT_EQ(dialog.historySpin()->value(), 100);
    EXPECT_EQ(dialog.opacityControl()->value(), 10);
    EXPECT_DOUBLE_EQ(dialog.scaleCombo()->currentData().toDouble(),
                     Orvex::GUI::interfaceScales().last().data.toDouble());
    Fixture unsignedColour; // a colour stored by its unsigned value reads the same
    unsignedColour.set("SelectionColor", qint64(0xE60000FFu));
    unsignedColour.set("SelectionMode", true);
    OptionsUI second(unsignedColour.context());
    EXPECT_EQ(second.colorButton()->color(), QColor(0, 0, 255));
    EXPECT_EQ(second.opacityControl()->value(), 90);
}

TEST(OptionsUI, OkSwitchesTheLanguageAndWritesEveryKey) {
    Fixture f;
    OptionsUI dialog(f.context());
    dialog.languageCombo()->setCurrentIndex(dialog.languageCombo()->findData("fr"));
    dialog.scaleCombo()->setCurrentIndex(2);
    dialog.actualSizeButton()->setChecked(true);
    dialog.historySpin()->setValue(45);
    dialog.filledButton()->setChecked(true);
    EXPECT_TRUE(dialog.colorButton()->isEnabled());
    dialog.colorButton()->setColor(QColor(0, 0, 255));
    dialog.opacityControl()->setValue(50);
    dialog.hintsCombo()->setCurrentIndex(2);
    dialog.lockCheck()->setChecked(false);
    dialog.okButton()->click();

    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(f.switchedTo, QStringList{"fr"});
    EXPECT_EQ(f.get("Style").toString(), dialog.themeCombo()->currentData().toString());
    EXPECT_DOUBLE_EQ(f.get("UIScale").toDouble(), Orvex::GUI::interfaceScales()[2].data.toDouble());
    EXPECT_EQ(f.get("InitialFit"), QVariant(false));
    EXPECT_EQ(f.get("SelectionMode"), QVariant(true));
    const quint32 argb = quint32(f.get("SelectionColor").toInt());
    EXPECT_EQ(argb & 0xFFFFFFu, 0x0000FFu);
    EXPECT_TRUE((argb >> 24) == 127 || (argb >> 24) == 128) << (argb >> 24);
    EXPECT_EQ(f.get("showHints").toString(), "hide");
    EXPECT_EQ(f.get("undoCount").toInt(), 45);
    EXPECT_EQ(f.get("Topbar/LockPanel"), QVariant(false));
    EXPECT_FALSE(f.store.contains(kPrefix + "/RecentFilesCount")) << "the hidden group is not written";
    for (const QString& key : f.store.allKeys())
        EXPECT_TRUE(key.startsWith(kPrefix + "/")) << key.toStdString();
}

TEST(OptionsUI, CancelChangesNothing) {
    Fixture f;
    f.set("undoCount", 30);
    const auto before = f.store.map();
    OptionsUI dialog(f.context());
    dialog.languageCombo()->setCurrentIndex(dialog.languageCombo()->findData("es"));
    dialog.historySpin()->setValue(90);
    dialog.filledButton()->setChecked(true);
    dialog.on_btnReset_clicked();
    dialog.cancelButton()->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(f.switchedTo.isEmpty());
    EXPECT_EQ(f.store.map(), before);
}

TEST(OptionsUI, DefaultResetsTheControlsButNotTheLanguage) {
    Fixture f;
    f.set("InitialFit", false);
    f.set("undoCount", 80);
    f.set("SelectionMode", true);
    f.set("SelectionColor", int(0xCC00FF00u));
    f.set("showHints", "hide");
    f.set("Topbar/LockPanel", false);
    f.set("UIScale", 2.0);
    OptionsUI dialog(f.context());
    dialog.languageCombo()->setCurrentIndex(dialog.languageCombo()->findData("it"));
    dialog.defaultButton()->click();
    EXPECT_EQ(dialog.languageCombo()->currentData().toString(), "it");
    EXPECT_EQ(dialog.scaleCombo()->currentIndex(), 0);
    EXPECT_EQ(dialog.themeCombo()->currentData().toString(), Orvex::GUI::defaultInterfaceTheme());
    EXPECT_TRUE(dialog.fitToViewButton()->isChecked());
    EXPECT_EQ(dialog.historySpin()->value(), 25);
    EXPECT_TRUE(dialog.marchingAntsButton()->isChecked());
    EXPECT_FALSE(dialog.opacityControl()->isEnabled());
    EXPECT_EQ(dialog.opacityControl()->value(), 40);
    EXPECT_EQ(dialog.hintsCombo()->currentData().toString(), "right");
    EXPECT_TRUE(dialog.lockCheck()->isChecked());
    EXPECT_EQ(f.get("undoCount").toInt(), 80) << "Default writes nothing by itself";

    dialog.okButton()->click();
    EXPECT_EQ(quint32(f.get("SelectionColor").toInt()), 0x66FF0000u);
    EXPECT_EQ(f.get("undoCount").toInt(), 25);
    EXPECT_EQ(f.get("showHints").toString(), "right");
    EXPECT_EQ(f.switchedTo, QStringList{"it"});
}

TEST(OptionsUI, RecentFilesWhenShown) {
    Fixture f;
    f.set("RecentFilesCount", 4);
    OptionsUI dialog(f.context());
    dialog.setRecentFilesVisible(true);
    EXPECT_EQ(dialog.recentFilesSpin()->value(), 4);
    dialog.recentFilesSpin()->setValue(12);
    dialog.okButton()->click();
    EXPECT_EQ(f.get("RecentFilesCount").toInt(), 12);
}

TEST(OptionsUI, UnknownCurrentLanguageSelectsTheFirstAndNoSwitcherIsFine) {
    SettingsMap store;
    OptionsContext context{SettingsGroupRW(&store, QString())};
    context.currentLanguage = "xx";
    context.supportedLanguages = "en de en";
    OptionsUI dialog(context);
    EXPECT_EQ(dialog.languageCombo()->count(), 2);
    EXPECT_EQ(dialog.languageCombo()->currentIndex(), 0);
    dialog.okButton()->click(); // no language switcher handed in
    EXPECT_TRUE(store.contains("undoCount")) << "an empty prefix writes at the top level";
}

TEST(OptionsUI, WithoutAnApplicationObjectItStillWorks) {
    // A plain QApplication (this binary's): an in-memory stand-in store, no language switch.
    OptionsUI dialog;
    dialog.historySpin()->setValue(35);
    dialog.okButton()->click();
    OptionsUI again;
    EXPECT_EQ(again.historySpin()->value(), 35);
}
