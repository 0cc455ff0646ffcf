#pragma once
// The application object of the effect process: log, resources, translations and language, the
// per-user settings store, network preparation in the background, style and interface scale.
//
// Principles:
// - Ownership: one object per process, built first and destroyed last by the entry; it owns the
//   user settings (QSettings, organisation "ORVEX") and the store wrapper over them.
// - Threads: everything runs on the GUI thread except show_dialog and do_in_gui_thread_internal,
//   which may be called from any thread and then run on the GUI thread with a blocking call.
// - Errors: missing translations and bad log rules are logged, never thrown.

#include "settings/SettingsGroup.h"

#include <QApplication>
#include <QIcon>
#include <QNetworkAccessManager>
#include <QSettings>
#include <QTranslator>

#include <functional>
#include <memory>

class QMessageBox;

namespace Orvex {

class OrvexApplication : public QApplication {
    Q_OBJECT
public:
    static const QString ProductName; // "Elemorama"

    OrvexApplication(int& argc, char** argv, const QString& applicationName);
    ~OrvexApplication() override;

    static OrvexApplication* instance() {
        return qobject_cast<OrvexApplication*>(QCoreApplication::instance());
    }

    ISettings* settingsStore() { return &m_store; }
    QSettings& userSettings() { return m_userSettings; }
    const QString& settingsGroupPrefix() const { return m_settingsPrefix; }
    void setSettingsGroupPrefix(const QString& prefix) { m_settingsPrefix = prefix; }
    // A group below the current prefix: "prefix/sub", or whichever of the two is not empty.
    SettingsGroupRW settingsGroup(const QString& subGroup = QString());

    QString currentLanguage() const { return m_currentLanguage; }
    QString supportedLanguages() const { return m_supportedLanguages; }
    QString forcedLanguage() const { return m_forcedLanguage; }
    double styleScale() const { return m_styleScale; }
    bool noInternet() const { return m_noInternet; }
    const QStringList& allArguments() const { return m_arguments; }

    // The interface language from LANGUAGE, LC_ALL, LC_MESSAGES, LANG ("de" from "de_DE.UTF-8"),
    // "en" when none names one.
    static QString systemLanguage();
    // The language code that switchLanguage would load for `code` with the given forced language
    // and supported list (legacy digits, "sp", unsupported codes become "en").
    static QString resolveLanguage(const QString& code, const QString& forced, const QString& supported);

signals:
    void languageChanged(const QString& code);
    void styleScaleChanged();
    void styleChanged();
    void quitting();
    void networkReady();

public slots:
    void switchLanguage(const QString& code);
    void setStyleScale(double scale);
    void quit();
    void translateUi();
    QWidget* find_dialog_parent();
    void OnNetInit();
    void do_in_gui_thread(std::function<void()> function);
    // Callable from any thread.
    void show_dialog(int icon, int buttons, const QString& title, const QString& text, int* pressed);
    void do_in_gui_thread_internal(std::function<void()> function);

private:
    void readLanguageSettings();
    void startNetworkPreparation();

    QString m_supportedLanguages = QStringLiteral("en de fr es ru it pt jp");
    QString m_forcedLanguage;
    QTranslator m_productTranslator, m_libraryTranslator, m_qtTranslator;
    QString m_settingsPrefix;
    QSettings m_userSettings;
    TSettings<QSettings> m_store;
    QString m_currentLanguage;
    QStringList m_arguments;
    QIcon m_windowIcon;
    double m_styleScale = 1.0;
    std::unique_ptr<QNetworkAccessManager> m_network;
    bool m_noInternet = false;
};

} // namespace Orvex
