#include "app/OrvexApplication.h"
#include "app/Locations.h"
#include "app/Logger.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSslSocket>
#include <QStyle>
#include <QStyleFactory>
#include <QThread>
#include <QThreadPool>

#include <cstdlib>
#include <cstring>

#ifndef ELEMORAMA_VERSION
#define ELEMORAMA_VERSION "0"
#endif

// The translations live in this library's resources; a static library has to register them, and
// the registration has to be made outside any namespace.
static void initTranslationResources() {
    Q_INIT_RESOURCE(translations);
}

namespace Orvex {

const QString OrvexApplication::ProductName = QStringLiteral("Elemorama");

namespace {
// A window-less machine has no display: fall back to the off-screen platform so that runs without a
// window still work there.
int& prepareEnvironment(int& argc) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return argc;
}
} // namespace

OrvexApplication::OrvexApplication(int& argc, char** argv, const QString& applicationName)
    : QApplication(prepareEnvironment(argc), argv),
      m_userSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("ORVEX"), applicationName),
      m_store(&m_userSettings) {
    setApplicationVersion(QStringLiteral(ELEMORAMA_VERSION));
    qCDebug(lcKernel).noquote() << "OrvexApplication ctor " ELEMORAMA_VERSION;
    qCDebug(lcKernel) << "OrvexApplication ctor: init logger\n";
    Logger::initialize(ProductName);
    qCDebug(lcKernel) << "OrvexApplication ctor: logger done\n";
    // The compiled-in resource bundles are linked into the executables that own them.
    qCDebug(lcKernel) << "OrvexApplication ctor: init qrc\n";
    qCDebug(lcKernel) << "OrvexApplication ctor: qrc done\n";

    qCDebug(lcKernel) << "OrvexApplication ctor: init translations\n";
    installTranslator(&m_qtTranslator);
    installTranslator(&m_libraryTranslator);
    installTranslator(&m_productTranslator);
    qCDebug(lcKernel) << "OrvexApplication ctor: translations done\n";

    qCDebug(lcKernel) << "OrvexApplication ctor: set lang\n";
    initTranslationResources();
    readLanguageSettings();
    QString lang = SettingsGroupRO(&m_store, QString()).read("LangNo", QString());
    if (lang.isEmpty()) lang = systemLanguage();
    switchLanguage(lang);
    qCDebug(lcKernel) << "OrvexApplication ctor: lang done\n";

    setOrganizationName(QStringLiteral("ORVEX"));
    setOrganizationDomain(QStringLiteral("elemorama.org"));
    setApplicationName(ProductName);
    setQuitOnLastWindowClosed(false);

    QString iconPrefix = ProductName;
    iconPrefix.replace(QLatin1Char(' '), QLatin1Char('_'));
    QDirIterator icons(QStringLiteral(":/appicon/Resources"), {QStringLiteral("*_*x*.png")}, QDir::Files);
    while (icons.hasNext()) {
        const QString file = icons.next();
        if (QFileInfo(file).fileName().startsWith(iconPrefix)) m_windowIcon.addFile(file);
    }
    if (!m_windowIcon.isNull()) setWindowIcon(m_windowIcon);
    qCDebug(lcKernel) << "OrvexApplication ctor: icon done\n";

    m_noInternet = SettingsGroupRO(&m_store, QString()).read("NoInternet", false);
    for (int i = 0; i < argc; ++i) m_arguments << QString::fromUtf8(argv[i]);
    qCDebug(lcKernel) << "OrvexApplication ctor: params done\n";

    qCDebug(lcKernel) << "OrvexApplication ctor: async ssl\n";
    if (!m_noInternet) startNetworkPreparation();

    const SettingsGroupRO group = settingsGroup();
    const QString style = group.read("Style", QString());
    if (!style.isEmpty() && QStyleFactory::keys().contains(style, Qt::CaseInsensitive)) {
        setStyle(QStyleFactory::create(style));
        emit styleChanged();
    }
    setStyleScale(group.read("UIScale", 1.0));
    qCDebug(lcKernel) << "OrvexApplication ctor: done\n";
}

OrvexApplication::~OrvexApplication() {
    qCDebug(lcKernel) << "OrvexApplication dtor.0\n";
    removeTranslator(&m_productTranslator);
    removeTranslator(&m_libraryTranslator);
    removeTranslator(&m_qtTranslator);
    m_userSettings.sync();
    // The preparation task touches only the environment and the network module; wait for it so that
    // it never outlives the application.
    QThreadPool::globalInstance()->waitForDone();
    qCDebug(lcKernel) << "OrvexApplication dtor.+\n";
}

SettingsGroupRW OrvexApplication::settingsGroup(const QString& subGroup) {
    QString path;
    if (!m_settingsPrefix.isEmpty() && !subGroup.isEmpty())
        path = m_settingsPrefix + QLatin1Char('/') + subGroup;
    else
        path = m_settingsPrefix.isEmpty() ? subGroup : m_settingsPrefix;
    return SettingsGroupRW(&m_store, path);
}

void OrvexApplication::readLanguageSettings() {
    QSettings system(QSettings::IniFormat, QSettings::SystemScope, QStringLiteral("ORVEX"), ProductName);
    const QString forced = system.value(QStringLiteral("ForceLang")).toString().toLower();
    if (!forced.isEmpty()) {
        m_forcedLanguage = forced;
        m_supportedLanguages = forced;
        return;
    }
    QFile list(QStringLiteral(":/translate/Translations/lang.txt"));
    if (list.open(QIODevice::ReadOnly)) {
        const QString text = QString::fromLatin1(list.readAll());
        if (!text.trimmed().isEmpty()) m_supportedLanguages = text;
    }
}

QString OrvexApplication::systemLanguage() {
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QByteArray v = qgetenv(name);
        if (v.size() >= 5 && islower(uchar(v[0])) && islower(uchar(v[1])) && v[2] == '_' &&
            isupper(uchar(v[3])) && isupper(uchar(v[4])))
            return QString::fromLatin1(v.left(2));
    }
    return QStringLiteral("en");
}

QString OrvexApplication::resolveLanguage(const QString& code, const QString& forced,
                                          const QString& supported) {
    QString lang = forced.isEmpty() ? code.toLower() : forced;
    if (lang.size() == 1 && lang[0].isDigit()) {
        static const char* const legacy[] = {"en", "de", "fr", "es", "ru", "it", "pt", "jp"};
        const int n = lang[0].digitValue();
        lang = QString::fromLatin1(n >= 1 && n <= 7 ? legacy[n] : "en");
    }
    if (lang == QLatin1String("sp")) lang = QStringLiteral("es");
    if (lang.isEmpty() ||
        !supported.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts).contains(lang))
        lang = QStringLiteral("en");
    return lang;
}

void OrvexApplication::switchLanguage(const QString& code) {
    if (code == m_currentLanguage) return;
    const QString lang = resolveLanguage(code, m_forcedLanguage, m_supportedLanguages);
    auto load = [](QTranslator& translator, const QStringList& candidates, bool reportMissing) {
        for (const QString& file : candidates) {
            if (translator.load(file)) {
                qCDebug(lcKernel).noquote() << "Loaded translation: " + file;
                return;
            }
        }
        if (reportMissing)
            qCWarning(lcKernel).noquote() << "Error loading translation: " + candidates.value(0);
    };
    const QString qtFile = QStringLiteral("qt_") + lang + QStringLiteral(".qm");
    load(m_qtTranslator,
         {QStringLiteral(":/translate/Translations/") + qtFile,
          Locations::join(QLibraryInfo::location(QLibraryInfo::TranslationsPath), qtFile),
          Locations::join(Locations::join(Locations::applicationRoot(), "lib/qt-orvex2/translations"),
                          qtFile)},
         lang != QLatin1String("en"));
    load(m_libraryTranslator,
         {QStringLiteral(":/translate/Translations/orvexlib_") + lang + QStringLiteral(".qm")}, true);
    load(m_productTranslator,
         {QStringLiteral(":/translate/Translations/") + ProductName.toLower() + QLatin1Char('_') + lang +
          QStringLiteral(".qm")},
         true);
    m_store.setValue(QStringLiteral("LangNo"), lang);
    m_currentLanguage = lang;
    emit languageChanged(lang);
}

void OrvexApplication::setStyleScale(double scale) {
    if (!(scale > 0.25 && scale < 8.0)) scale = 1.0;
    if (scale == m_styleScale) return;
    m_styleScale = scale;
    emit styleScaleChanged();
}

void OrvexApplication::quit() {
    emit quitting();
    QApplication::quit();
}

void OrvexApplication::translateUi() {
    emit languageChanged(m_currentLanguage);
}

QWidget* OrvexApplication::find_dialog_parent() {
    if (QWidget* w = activeModalWidget()) return w;
    if (QWidget* w = activeWindow()) return w;
    return nullptr;
}

void OrvexApplication::startNetworkPreparation() {
    QThreadPool::globalInstance()->start([this] {
        const QByteArray before = qgetenv("LD_LIBRARY_PATH");
        qCDebug(lcKernel).noquote() << "getenv = " + (before.isNull() ? QStringLiteral("[NULL]")
                                                                      : QString::fromLocal8Bit(before));
        const QString libDir = Locations::isSandboxed()
                                   ? Locations::join(Locations::applicationRoot(), "lib/qt-orvex2/lib")
                                   : QLibraryInfo::location(QLibraryInfo::LibrariesPath);
        QByteArray value = QFile::encodeName(libDir);
        if (!before.isEmpty()) value += ':' + before;
        if (!qputenv("LD_LIBRARY_PATH", value)) qCDebug(lcKernel) << "putenv() failed";
        qCDebug(lcKernel).noquote() << "after putenv : " + QString::fromLocal8Bit(qgetenv("LD_LIBRARY_PATH"));
        qCDebug(lcKernel) << "OrvexApplication ctor: ssl init\n";
        QSslSocket::supportsSsl();
        qCDebug(lcKernel) << "OrvexApplication ctor: ssl done\n";
        QMetaObject::invokeMethod(this, "OnNetInit", Qt::QueuedConnection);
    });
}

void OrvexApplication::OnNetInit() {
    m_network = std::make_unique<QNetworkAccessManager>();
    connect(m_network.get(), &QNetworkAccessManager::sslErrors, this,
            [](QNetworkReply* reply, const QList<QSslError>& errors) {
                for (const QSslError& e : errors)
                    qCWarning(lcKernel).noquote()
                        << "SSL error:" << e.errorString() << "on URL" << reply->url().toString();
            });
    emit networkReady();
}

void OrvexApplication::do_in_gui_thread(std::function<void()> function) {
    do_in_gui_thread_internal(std::move(function));
}

void OrvexApplication::do_in_gui_thread_internal(std::function<void()> function) {
    if (QThread::currentThread() == thread()) {
        function();
        return;
    }
    QMetaObject::invokeMethod(
        this, [&function] { function(); }, Qt::BlockingQueuedConnection);
}

void OrvexApplication::show_dialog(int icon, int buttons, const QString& title, const QString& text,
                                   int* pressed) {
    do_in_gui_thread_internal([&] {
        QMessageBox box(QMessageBox::Icon(icon), title, text, QMessageBox::StandardButtons(buttons),
                        find_dialog_parent());
        const int result = box.exec();
        if (pressed) *pressed = result;
    });
}

} // namespace Orvex
