// The Preferences dialog over a real application object: its settings group with the run's
// prefix, its language switch, and its user settings store on disk (in a private home).
#include "app/OrvexApplication.h"
#include "ui/OptionsUI.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using Orvex::OrvexApplication;
using Orvex::UI::OptionsUI;

namespace {
const QString kRunPrefix = QStringLiteral("Filters/OXF/Elemorama");

struct RunPrefix {
    explicit RunPrefix(const QString& prefix) {
        OrvexApplication::instance()->setSettingsGroupPrefix(prefix);
    }
    ~RunPrefix() { OrvexApplication::instance()->setSettingsGroupPrefix(QString()); }
};
} // namespace

TEST(OptionsWithApplication, OkWritesBelowTheRunPrefixAndSwitchesTheLanguage) {
    OrvexApplication* app = OrvexApplication::instance();
    ASSERT_NE(app, nullptr);
    const RunPrefix run(kRunPrefix);
    OptionsUI dialog;
    EXPECT_EQ(dialog.languageCombo()->currentData().toString(), app->currentLanguage());
    dialog.historySpin()->setValue(55);
    dialog.languageCombo()->setCurrentIndex(dialog.languageCombo()->findData("fr"));
    dialog.okButton()->click();
    EXPECT_EQ(app->userSettings().value(kRunPrefix + "/undoCount").toInt(), 55);
    EXPECT_FALSE(app->userSettings().contains("undoCount")) << "nothing at the top level during a run";
    EXPECT_EQ(app->currentLanguage(), "fr");
    EXPECT_EQ(app->userSettings().value("LangNo").toString(), "fr");
    app->switchLanguage("en");
}

TEST(OptionsWithApplication, CancelLeavesTheStoreAndTheLanguage) {
    OrvexApplication* app = OrvexApplication::instance();
    const RunPrefix run(kRunPrefix);
    const QString language = app->currentLanguage();
    const QStringList keysBefore = app->userSettings().allKeys();
    OptionsUI dialog;
    dialog.languageCombo()->setCurrentIndex(dialog.languageCombo()->findData("de"));
    dialog.historySpin()->setValue(95);
    dialog.cancelButton()->click();
    EXPECT_EQ(app->currentLanguage(), language);
    EXPECT_EQ(app->userSettings().allKeys(), keysBefore);
}

TEST(OptionsWithApplication, TextWhereANumberBelongsReadsAsTheDefault) {
    OrvexApplication* app = OrvexApplication::instance();
    const RunPrefix run(kRunPrefix);
    app->userSettings().setValue(kRunPrefix + "/undoCount", "twenty");
    app->userSettings().setValue(kRunPrefix + "/SelectionColor", "#ff0000");
    OptionsUI dialog;
    EXPECT_EQ(dialog.historySpin()->value(), 25);
    EXPECT_EQ(dialog.selectionColor(), 0x66FF0000u);
}

TEST(OptionsWithApplication, WithoutARunPrefixTheTopLevelIsUsed) {
    OrvexApplication* app = OrvexApplication::instance();
    OptionsUI dialog;
    dialog.scaleCombo()->setCurrentIndex(1);
    dialog.okButton()->click();
    EXPECT_DOUBLE_EQ(app->userSettings().value("UIScale").toDouble(),
                     dialog.scaleCombo()->itemData(1).toDouble());
}

int main(int argc, char** argv) {
    // A private home, so that the user settings, the log and the caches never touch the real ones.
    QTemporaryDir home;
    if (!home.isValid()) return 1;
    for (const char* var : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
        qputenv(var, QDir(home.path()).filePath(QString::fromLatin1(var).toLower()).toUtf8());
    qputenv("HOME", home.path().toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // No background network preparation in tests.
    QDir().mkpath(QDir(home.path()).filePath("xdg_config_home/ORVEX"));
    QFile conf(QDir(home.path()).filePath("xdg_config_home/ORVEX/Quintelle.conf"));
    if (conf.open(QIODevice::WriteOnly)) conf.write("[General]\nNoInternet=true\n");
    conf.close();
    OrvexApplication app(argc, argv, QStringLiteral("Quintelle"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
