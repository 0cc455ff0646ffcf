#include "app/Locations.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace Orvex {

namespace {

const QString Product = QStringLiteral("Elemorama");

struct Bases {
    QString root;
    QString prefix = QStringLiteral("/usr");
    QString home;
    QString installedData, userData, commonData;

    Bases() {
        if (const char* appdir = getenv("APPDIR"); appdir && *appdir) {
            printf("APPDIR=%s\n", appdir);
            root = QString::fromLocal8Bit(appdir).left(1023);
            prefix = root + QStringLiteral("/usr");
        } else if (qgetenv("container") == "flatpak" || getenv("FLATPAK_ID") ||
                   getenv("FLATPAK_SANDBOX_DIR")) {
            root = prefix = QStringLiteral("/app");
        } else if (getenv("SNAP")) {
            printf("*** SNAP detected -- not ready yet ***\n");
        }
        home = QDir::homePath();
        installedData = Locations::join(Locations::join(Locations::join(prefix, "share"), "ORVEX"), Product);
        userData = Locations::join(Locations::join(Locations::join(home, ".local/share"), "ORVEX"), Product);
        commonData =
            root.isEmpty() ? QStringLiteral("/var/lib/ORVEX") : Locations::join(home, ".local/var/ORVEX");
    }
};

const Bases& bases() {
    static const Bases b;
    return b;
}

const char* const Names[] = {"InstalledData", "UserData",
                             "CommonData",    "CommonDoc",
                             "Log",           "",
                             "Binaries",      "Help",
                             "Config",        "NN",
                             "Cache",         "Textures",
                             "Presets",       "UserPresets",
                             "OrvexPresets",  "FramePacks",
                             "OrvexActions",  "UserActions",
                             "Plugins",       "ColorProfiles",
                             "UserDesktop",   "UserDocuments",
                             "UserDownloads"};

} // namespace

QString Locations::join(const QString& left, const QString& right) {
    if (left.isEmpty()) return right;
    if (left.endsWith(QLatin1Char('/'))) return left + right;
    return left + QLatin1Char('/') + right;
}

bool Locations::isSandboxed() {
    return !bases().root.isEmpty();
}
QString Locations::applicationRoot() {
    return bases().root;
}
QString Locations::prefix() {
    return bases().prefix;
}

QString Locations::name(int kind) {
    return kind >= 0 && kind < int(std::size(Names)) ? QString::fromLatin1(Names[kind]) : QString();
}

QStringList Locations::dirs(int kind) {
    const Bases& b = bases();
    switch (kind) {
    case InstalledData:
    case Textures:
        return {b.installedData};
    case UserData:
        return {b.userData};
    case CommonData:
        return {b.commonData, b.installedData};
    case CommonDoc:
        return {b.commonData};
    case Log:
        return {b.root.isEmpty() ? QStringLiteral("/var/log/ORVEX") : join(b.home, ".local/log/ORVEX")};
    case Binaries:
        return {join(b.prefix, "libexec/ORVEX")};
    case Help:
        return {join(b.installedData, "Help")};
    case Config:
        return {join(b.home, ".config/ORVEX"), QStringLiteral("/etc/xdg/ORVEX")};
    case NN:
        return {b.prefix + QStringLiteral("/share/ORVEX/nn")};
    case Cache:
        return {join(join(b.home, ".cache/ORVEX"), Product)};
    case Presets:
        return dirs(UserPresets) + dirs(OrvexPresets);
    case UserPresets:
        return {join(b.userData, "Presets")};
    case OrvexPresets:
        return {join(b.installedData, "Presets")};
    case FramePacks:
        return {b.userData, b.installedData};
    case OrvexActions:
        return {join(b.installedData, "Presets/Actions")};
    case UserActions:
        return {join(b.userData, "Actions")};
    case Plugins:
        return {join(b.prefix, "libexec/ORVEX/plugins")};
    case ColorProfiles:
        return {join(b.home, ".color/icc"), b.prefix + QStringLiteral("/share/color/icc")};
    case UserDesktop:
        return {QStandardPaths::writableLocation(QStandardPaths::DesktopLocation)};
    case UserDocuments:
        return {QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)};
    case UserDownloads:
        return {QStandardPaths::writableLocation(QStandardPaths::DownloadLocation)};
    default:
        throw std::runtime_error("Unexpected Location::dirs() parameter: " + name(kind).toStdString());
    }
}

QString Locations::writable(int kind) {
    if (kind == InstalledData || kind == Binaries)
        throw std::logic_error("Locations::writable(" + name(kind).toStdString() + ") called; it's RO");
    const QString dir = dirs(kind).value(0);
    QDir().mkpath(dir);
    return dir;
}

QString Locations::find(int kind, const QString& fileName) {
    for (const QString& dir : dirs(kind)) {
        const QString path = join(dir, fileName);
        if (QFileInfo::exists(path)) return path;
    }
    return QString();
}

} // namespace Orvex
