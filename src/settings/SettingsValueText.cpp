#include "settings/SettingsValueText.h"
#include "settings/SettingsTypes.h"

#include <QBuffer>
#include <QDataStream>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QStringList>

#include <cmath>
#include <mutex>

namespace Orvex {

void registerSettingsTypes() {
    static std::once_flag once;
    std::call_once(once, [] {
        qRegisterMetaType<AdobeEnumerated>("AdobeEnumerated");
        qRegisterMetaType<AdobeUntF>("AdobeUntF");
    });
}

QString fourCCToString(uint32_t code) {
    QString s;
    for (int shift = 24; shift >= 0; shift -= 8) s += QChar(char16_t((code >> shift) & 0xFF));
    return s;
}

uint32_t fourCCFromString(const QString& text) {
    uint32_t code = 0;
    for (int i = 0; i < 4 && i < text.size(); ++i) code = (code << 8) | (text.at(i).unicode() & 0xFF);
    return code;
}

QString settingsDoubleText(double value) {
    if (!std::isfinite(value)) return QString::number(value); // "nan", "inf": read back as strings
    QString s = QString::number(value, 'f', 6);
    if (s == QLatin1String("-0.000000")) s = QStringLiteral("0.000000");
    int end = s.size();
    while (end > 0 && s.at(end - 1) == QLatin1Char('0')) --end;
    if (end > 0 && s.at(end - 1) == QLatin1Char('.')) ++end; // keep one digit after the point
    s.truncate(end);
    return s;
}

namespace {

bool isFourCC(const QString& s) {
    if (s.size() != 4) return false;
    for (QChar c : s)
        if (c.unicode() > 0xFF) return false;
    return true;
}

// Splits the interior of "@Name(...)" at blanks into exactly `count` integers.
bool parseInts(const QString& inner, int count, int* out) {
    const QStringList parts = inner.split(QLatin1Char(' '));
    if (parts.size() != count) return false;
    for (int i = 0; i < count; ++i) {
        bool ok = false;
        out[i] = parts[i].toInt(&ok);
        if (!ok) return false;
    }
    return true;
}

QVariant parseAtForm(const QString& text, bool* ok) {
    *ok = true;
    const int open = text.indexOf(QLatin1Char('('));
    if (open < 0 || !text.endsWith(QLatin1Char(')'))) {
        *ok = false;
        return {};
    }
    const QString name = text.mid(1, open - 1);
    const QString inner = text.mid(open + 1, text.size() - open - 2);
    int v[4];
    if (name == QLatin1String("Invalid") && inner.isEmpty()) return QVariant();
    if (name == QLatin1String("Rect") && parseInts(inner, 4, v)) return QRect(v[0], v[1], v[2], v[3]);
    if (name == QLatin1String("Size") && parseInts(inner, 2, v)) return QSize(v[0], v[1]);
    if (name == QLatin1String("Point") && parseInts(inner, 2, v)) return QPoint(v[0], v[1]);
    // Four-character codes may contain blanks themselves, so they are taken by position.
    if (name == QLatin1String("Enum") && inner.size() == 9 && inner.at(4) == QLatin1Char(' ') &&
        isFourCC(inner.left(4)) && isFourCC(inner.mid(5))) {
        return QVariant::fromValue(
            AdobeEnumerated{fourCCFromString(inner.left(4)), fourCCFromString(inner.mid(5))});
    }
    if (name == QLatin1String("UntF") && inner.size() > 5 && inner.at(4) == QLatin1Char(' ') &&
        isFourCC(inner.left(4))) {
        bool numOk = false;
        const double d = inner.mid(5).toDouble(&numOk);
        if (numOk) return QVariant::fromValue(AdobeUntF{fourCCFromString(inner.left(4)), d});
    }
    if (name == QLatin1String("Variant")) {
        QByteArray bytes = QByteArray::fromBase64(inner.toLatin1());
        QDataStream stream(&bytes, QIODevice::ReadOnly);
        stream.setVersion(7);
        QVariant result;
        stream >> result;
        if (stream.status() == QDataStream::Ok && result.isValid()) return result;
    }
    *ok = false;
    return {};
}

} // namespace

QString settingsValueToText(const QVariant& value) {
    registerSettingsTypes();
    if (!value.isValid()) return QStringLiteral("@Invalid()");
    const int type = value.userType();
    if (type == qMetaTypeId<AdobeEnumerated>()) {
        const auto e = value.value<AdobeEnumerated>();
        return QStringLiteral("@Enum(") + fourCCToString(e.type) + QLatin1Char(' ') +
               fourCCToString(e.value) + QLatin1Char(')');
    }
    if (type == qMetaTypeId<AdobeUntF>()) {
        const auto u = value.value<AdobeUntF>();
        return QStringLiteral("@UntF(") + fourCCToString(u.unit) + QLatin1Char(' ') +
               QString::number(u.value, 'f', 1) + QLatin1Char(')');
    }
    switch (type) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::QString:
    case QMetaType::QKeySequence: {
        const QString s = value.toString();
        return s.startsWith(QLatin1Char('@')) ? QLatin1Char('@') + s : s;
    }
    case QMetaType::Double:
    case QMetaType::Float:
        return settingsDoubleText(value.toDouble());
    case QMetaType::QRect: {
        const QRect r = value.toRect();
        return QStringLiteral("@Rect(%1 %2 %3 %4)").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
    }
    case QMetaType::QSize: {
        const QSize s = value.toSize();
        return QStringLiteral("@Size(%1 %2)").arg(s.width()).arg(s.height());
    }
    case QMetaType::QPoint: {
        const QPoint p = value.toPoint();
        return QStringLiteral("@Point(%1 %2)").arg(p.x()).arg(p.y());
    }
    default:
        break;
    }
    QByteArray bytes;
    {
        QDataStream stream(&bytes, QIODevice::WriteOnly);
        stream.setVersion(7);
        stream << value;
    }
    return QStringLiteral("@Variant(") + QString::fromLatin1(bytes.toBase64()) + QLatin1Char(')');
}

QVariant settingsValueFromText(const QString& text) {
    registerSettingsTypes();
    if (text.startsWith(QLatin1String("@@"))) return text.mid(1);
    if (text.startsWith(QLatin1Char('@'))) {
        bool ok = false;
        QVariant v = parseAtForm(text, &ok);
        return ok ? v : QVariant(text);
    }
    if (text == QLatin1String("true")) return true;
    if (text == QLatin1String("false")) return false;

    int digits = 0, minus = 0, dots = 0;
    bool letters = false;
    for (QChar c : text) {
        if (c.isDigit())
            ++digits;
        else if (c == QLatin1Char('-'))
            ++minus;
        else if (c == QLatin1Char('.'))
            ++dots;
        else if (c.isLetter() || c == QLatin1Char('#') || c == QLatin1Char('%') || c == QLatin1Char('_'))
            letters = true;
    }
    if (digits > 0 && !letters && minus <= 1) {
        bool ok = false;
        if (dots == 0) {
            const int i = text.toInt(&ok);
            if (ok) return i;
            const qlonglong ll = text.toLongLong(&ok);
            if (ok) return ll;
        } else if (dots == 1) {
            const double d = text.toDouble(&ok);
            if (ok) return d;
        }
    }
    return text;
}

} // namespace Orvex
