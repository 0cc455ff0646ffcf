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

namespace {

// A window's session on a small opaque image.
Orvex::UI::WindowSession smallSession() {
    Orvex::UI::WindowSession session;
    session.image = Orvex::makeRef<Orvex::DataStorage::PixelPlane>(
        Orvex::DataStorage::MaskRGBA, int32_t(Orvex::DataStorage::TypeU8), Orvex::Detail::SizeI{32, 24});
    return session;
}

} // namespace

TEST(WindowLanguage, GermanAndBackWhileTheWindowIsOpen) {
    OrvexApplication* app = OrvexApplication::instance();
    ASSERT_NE(app, nullptr);
    Orvex::SettingsMap store;
    const Orvex::UI::WindowSession session = smallSession();
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

// The hints panel explains the control under the pointer in the interface language; every
// control's hint has a text in both catalogues (a missing one would show its bare key).
TEST(WindowLanguage, HintsFollowThePointerInBothLanguages) {
    OrvexApplication* app = OrvexApplication::instance();
    ASSERT_NE(app, nullptr);
    Orvex::SettingsMap store;
    const Orvex::UI::WindowSession session = smallSession();
    short result = 0;
    PluginUI window(nullptr, Qt::Window, &result, session, Orvex::SettingsGroupRW(&store, QString()));
    auto hover = [&](const char* name) {
        QWidget* control = window.findChild<QWidget*>(QString::fromLatin1(name));
        EXPECT_NE(control, nullptr) << name;
        if (!control) return QString();
        QEvent enter(QEvent::Enter);
        QCoreApplication::sendEvent(control, &enter);
        return window.hintText();
    };
    auto leave = [&](const char* name) {
        QEvent out(QEvent::Leave);
        QCoreApplication::sendEvent(window.findChild<QWidget*>(QString::fromLatin1(name)), &out);
        return window.hintText();
    };
    for (const char* lang : {"en", "de"}) {
        SCOPED_TRACE(lang);
        app->switchLanguage(lang);
        int hinted = 0;
        for (QWidget* w : window.findChildren<QWidget*>()) {
            const QByteArray key = w->property("hintKey").toByteArray();
            if (key.isEmpty()) continue;
            ++hinted;
            QEvent enter(QEvent::Enter);
            QCoreApplication::sendEvent(w, &enter);
            EXPECT_FALSE(window.hintText().isEmpty()) << key.constData();
            EXPECT_NE(window.hintText(), QString::fromLatin1(key)) << key.constData() << " has no text";
            EXPECT_EQ(w->statusTip(), window.hintText()) << key.constData();
        }
        EXPECT_GE(hinted, 20);
        // Leaving a control goes back to the start text and the effect's description.
        const QString resting = leave("topbar/run");
        EXPECT_TRUE(resting.startsWith(QCoreApplication::translate("DocumentFilters", "startTEXT")));
        EXPECT_TRUE(resting.endsWith(QCoreApplication::translate("DocumentFilters", "Rain_HINT")));
        EXPECT_NE(resting, QStringLiteral("startTEXT"));
        // A menu entry's status tip goes to the same panel.
        QStatusTipEvent tip(window.findChild<QAction*>(QStringLiteral("actionSave"))->statusTip());
        QCoreApplication::sendEvent(&window, &tip);
        EXPECT_EQ(window.hintText(), QCoreApplication::translate("CommonText", "SaveImage_HINT"));
        EXPECT_NE(window.hintText(), QStringLiteral("SaveImage_HINT"));
    }
    EXPECT_EQ(hover("topbar/load_preset"), "Importiert Presets aus einer Preset-Datei in die eigenen Presets des Effekts.");
    app->switchLanguage("en");
    EXPECT_EQ(hover("topbar/load_preset"), "Imports presets from a preset file into the effect's list of user presets.");
    EXPECT_EQ(hover("topbar/ok"), "Renders the final result, writes it into the image and closes the window.");
}
