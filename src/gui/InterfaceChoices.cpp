#include "gui/InterfaceChoices.h"

#include <QStyleFactory>

namespace Orvex::GUI {

QVector<InterfaceChoice> interfaceLanguages(const QString& supportedCodes) {
    static const struct {
        const char* code;
        const char* name; // UTF-8
    } known[] = {{"en", "English"}, {"de", "Deutsch"},  {"fr", "Français"},  {"es", "Español"},
                 {"ru", "Русский"}, {"it", "Italiano"}, {"pt", "Português"}, {"jp", "日本語"}};
    QVector<InterfaceChoice> list;
    QStringList seen;
    for (const QString& raw : supportedCodes.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString code = raw.trimmed().toLower();
        if (code.isEmpty() || seen.contains(code)) continue;
        seen << code;
        QString name = code;
        for (const auto& k : known)
            if (code == QLatin1String(k.code)) name = QString::fromUtf8(k.name);
        list.push_back({name, code});
    }
    if (list.isEmpty()) list.push_back({QStringLiteral("English"), QStringLiteral("en")});
    return list;
}

QVector<InterfaceChoice> interfaceScales() {
    QVector<InterfaceChoice> list;
    for (const double scale : {1.0, 1.25, 1.5, 1.75, 2.0})
        list.push_back({QStringLiteral("%1%").arg(qRound(scale * 100.0)), scale});
    return list;
}

double defaultInterfaceScale() {
    return 1.0;
}

QVector<InterfaceChoice> interfaceThemes() {
    QVector<InterfaceChoice> list;
    const QStringList keys = QStyleFactory::keys();
    // The default theme first, then the others in the order Qt lists them.
    for (const QString& key : keys)
        if (key.compare(defaultInterfaceTheme(), Qt::CaseInsensitive) == 0) list.push_back({key, key});
    for (const QString& key : keys)
        if (key.compare(defaultInterfaceTheme(), Qt::CaseInsensitive) != 0) list.push_back({key, key});
    if (list.isEmpty()) list.push_back({defaultInterfaceTheme(), defaultInterfaceTheme()});
    return list;
}

QString defaultInterfaceTheme() {
    return QStringLiteral("Fusion");
}

} // namespace Orvex::GUI
