// The effect window follows the application's language: its own texts come from the embedded
// catalogues, and a switch while it is open retranslates it.
#include "app/OrvexApplication.h"
#include "datastorage/PixelFormat.h"
#include "settings/Settings.h"
#include "dataview/Navigator.h"
#include "ui/PluginUI.h"

#include <QAction>
#include <QStatusTipEvent>

#include <QComboBox>
#include <QPushButton>

#include <gtest/gtest.h>

using Orvex::OrvexApplication;
using Orvex::UI::PluginUI;

TEST(WindowLanguage, GermanAndBackWhileTheWindowIsOpen) {
    OrvexApplication* app = OrvexApplication::instance();
    ASSERT_NE(app, nullptr);
    Orvex::SettingsMap store;
    auto plane = Orvex::makeRef<Orvex::DataStorage::PixelPlane>(Orvex::DataStorage::MaskRGBA,
                                                                int32_t(Orvex::DataStorage::TypeU8),
                                                                Orvex::Detail::SizeI{32, 24});
    Orvex::UI::WindowSession session;
    session.image = plane;
    short result = 0;
    app->switchLanguage("en");
    PluginUI window(nullptr, Qt::Window, &result, session, Orvex::SettingsGroupRW(&store, QString()));
    EXPECT_EQ(window.okButton()->text(), "Apply");
    EXPECT_EQ(window.effectCombo()->itemText(0), "Rain");

    auto* navigator = window.findChild<Orvex::DataView::Navigator*>(QStringLiteral("navigator"));
    ASSERT_NE(navigator, nullptr);
    const int fit = navigator->presets()->count() - 1;
    EXPECT_EQ(navigator->presets()->itemText(fit), "Fit image");

    app->switchLanguage("de");
    EXPECT_EQ(window.okButton()->text(), "Anwenden");
    // The navigator's fit preset and actions, in the presets' list as in the actions.
    EXPECT_EQ(navigator->presets()->itemText(fit), "Ganzes Bild");
    EXPECT_EQ(navigator->fitAction()->text(), "Ganzes Bild");
    EXPECT_EQ(navigator->increaseAction()->text(), "Vergrößern");
    EXPECT_EQ(navigator->presets()->itemText(2), "100%");
    EXPECT_EQ(window.beforeButton()->text(), "Vorher");
    EXPECT_EQ(window.effectCombo()->itemText(0), "Regen");
    EXPECT_EQ(window.effectCombo()->itemText(6), "Polarlicht");

    app->switchLanguage("en");
    EXPECT_EQ(window.okButton()->text(), "Apply");
    EXPECT_EQ(window.effectCombo()->itemText(0), "Rain");
    EXPECT_EQ(navigator->presets()->itemText(fit), "Fit image");
}
