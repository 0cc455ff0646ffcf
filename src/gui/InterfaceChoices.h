#pragma once
#include <QString>
#include <QVariant>
#include <QVector>

namespace Orvex::GUI {

// One entry of a choice list: the text a user reads and the value stored for it.
struct InterfaceChoice {
    QString text;
    QVariant data;
};

// Interface languages for a blank-separated list of codes ("en de fr ..."), each named in its own
// language; unknown codes are listed by their code. Order as given, duplicates dropped.
QVector<InterfaceChoice> interfaceLanguages(const QString& supportedCodes);

// Interface scales, 100 % first (the default) up to 200 %; data is the factor (double).
QVector<InterfaceChoice> interfaceScales();
double defaultInterfaceScale();

// Interface themes: the widget styles this Qt offers; data is the style name as stored in Style.
QVector<InterfaceChoice> interfaceThemes();
QString defaultInterfaceTheme();

} // namespace Orvex::GUI
