#include "document/filters/ParamRecord.h"

#include <QColor>

namespace Orvex::Document::Filters {

QString fourCCText(FourCC id) {
    QString s;
    for (int shift = 24; shift >= 0; shift -= 8) s += QChar(char16_t((id >> shift) & 0xFF));
    return s;
}

bool fourCCFromText(const QString& text, FourCC& id) {
    if (text.size() != 4) return false;
    FourCC v = 0;
    for (QChar c : text) {
        if (c.unicode() >= 256) return false;
        v = (v << 8) | c.unicode();
    }
    id = v;
    return true;
}

QString realText(double value) {
    return QString::number(value, 'g', 6);
}

QString argbText(uint32_t argb) {
    return QString::number(argb);
}

QString colorNameText(uint32_t argb) {
    if ((argb >> 24) == 0) return QStringLiteral("transparent");
    return QStringLiteral("#%1").arg(argb & 0xFFFFFFu, 6, 16, QLatin1Char('0'));
}

bool parseInt(const QString& text, double& value) {
    bool ok = false;
    const qlonglong v = text.trimmed().toLongLong(&ok);
    if (ok) {
        value = double(v);
        return true;
    }
    // Integers written as reals ("5.0") by other tools are accepted and rounded.
    const double d = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(d)) return false;
    value = double(std::llround(d));
    return true;
}

bool parseReal(const QString& text, double& value) {
    bool ok = false;
    const double d = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(d)) return false;
    value = d;
    return true;
}

bool parseBool(const QString& text, bool& value) {
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("1") || t == QLatin1String("yes") || t == QLatin1String("true") ||
        t == QLatin1String("on"))
        value = true;
    else if (t == QLatin1String("0") || t == QLatin1String("no") || t == QLatin1String("false") ||
             t == QLatin1String("off"))
        value = false;
    else
        return false;
    return true;
}

bool parseColor(const QString& text, uint32_t& argb) {
    const QString t = text.trimmed();
    bool ok = false;
    if (t.compare(QLatin1String("transparent"), Qt::CaseInsensitive) == 0) {
        argb = 0;
        return true;
    }
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        const qulonglong v = t.mid(2).toULongLong(&ok, 16);
        if (!ok || v > 0xFFFFFFFFull) return false;
        argb = uint32_t(v);
        return true;
    }
    if (t.startsWith(QLatin1Char('#'))) {
        const QString hex = t.mid(1);
        const qulonglong v = hex.toULongLong(&ok, 16);
        if (!ok) return false;
        if (hex.size() == 6)
            argb = 0xFF000000u | uint32_t(v);
        else if (hex.size() == 8)
            argb = uint32_t(v);
        else
            return false;
        return true;
    }
    const qlonglong v = t.toLongLong(&ok);
    if (!ok || v < -2147483648LL || v > 4294967295LL) return false;
    argb = uint32_t(v); // a signed 32-bit ARGB (as the colour controls emit) wraps to the same colour
    return true;
}

} // namespace Orvex::Document::Filters
