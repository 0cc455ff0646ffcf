// The effect window follows the application's language: its own texts come from the embedded
// catalogues, and a switch while it is open retranslates it.
#include "app/OrvexApplication.h"
#include "datastorage/PixelFormat.h"
#include "settings/Settings.h"
#include "ui/PluginUI.h"

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

    app->switchLanguage("de");
    EXPECT_EQ(window.okButton()->text(), "Anwenden");
    EXPECT_EQ(window.beforeButton()->text(), "Vorher");
    EXPECT_EQ(window.effectCombo()->itemText(0), "Regen");
    EXPECT_EQ(window.effectCombo()->itemText(6), "Polarlicht");

    app->switchLanguage("en");
    EXPECT_EQ(window.okButton()->text(), "Apply");
    EXPECT_EQ(window.effectCombo()->itemText(0), "Rain");
}
