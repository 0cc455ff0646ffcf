#include "settings/SettingsGroup.h"

#include <cmath>
#include <limits>

namespace Orvex {

QString normaliseSettingsPath(const QString& path) {
    int begin = 0, end = path.size();
    while (begin < end && path.at(begin) == QLatin1Char('/')) ++begin;
    while (end > begin && path.at(end - 1) == QLatin1Char('/')) --end;
    return path.mid(begin, end - begin);
}

static QString prefixOf(const QString& path) {
    return path.isEmpty() ? QString() : path + QLatin1Char('/');
}

SettingsGroupRO::SettingsGroupRO(ISettings* store, const QString& path)
    : m_store(store), m_path(normaliseSettingsPath(path)), m_prefix(prefixOf(m_path)) {}

SettingsGroupRO::SettingsGroupRO(const SettingsGroupRO& parent, const QString& name)
    : m_store(parent.m_store), m_path(normaliseSettingsPath(parent.fullKey(name))),
      m_prefix(prefixOf(m_path)) {}

QString SettingsGroupRO::fullKey(const QString& key) const {
    QString full = m_prefix;
    if (m_isArray && m_currentIndex > 0) full += QString::number(m_currentIndex) + QLatin1Char('/');
    return full + normaliseSettingsPath(key);
}

QVariant SettingsGroupRO::value(const QString& key, const QVariant& defaultValue) const {
    return m_store ? m_store->value(fullKey(key), defaultValue) : defaultValue;
}

bool SettingsGroupRO::contains(const QString& key) const {
    return m_store && m_store->contains(fullKey(key));
}

namespace {

// A stored value as a finite double, from a number or from a number's text.
bool toFiniteDouble(const QVariant& v, double* out) {
    if (!v.isValid()) return false;
    bool ok = false;
    double d;
    switch (v.userType()) {
    case QMetaType::Bool:
        return false;
    case QMetaType::QString:
    case QMetaType::QByteArray:
        d = v.toString().trimmed().toDouble(&ok);
        break;
    default:
        d = v.toDouble(&ok);
        break;
    }
    if (!ok || !std::isfinite(d)) return false;
    *out = d;
    return true;
}

// Integers are taken whole when the text is an integer; a real value is rounded; anything outside
// the type's range falls back to the default.
template <typename T> T readInteger(const QVariant& v, T defaultValue) {
    if (!v.isValid()) return defaultValue;
    if (v.userType() == QMetaType::QString) {
        bool ok = false;
        const QString s = v.toString().trimmed();
        const qlonglong ll = s.toLongLong(&ok);
        if (ok) {
            if (ll < qlonglong(std::numeric_limits<T>::min()) ||
                (ll > 0 && qulonglong(ll) > qulonglong(std::numeric_limits<T>::max())))
                return defaultValue;
            return T(ll);
        }
    }
    double d;
    if (!toFiniteDouble(v, &d)) return defaultValue;
    d = std::round(d);
    if (d < double(std::numeric_limits<T>::min()) || d > double(std::numeric_limits<T>::max()))
        return defaultValue;
    return T(d);
}

} // namespace

int SettingsGroupRO::read(const QString& key, int defaultValue) const {
    return readInteger<int>(value(key), defaultValue);
}

unsigned SettingsGroupRO::read(const QString& key, unsigned defaultValue) const {
    return readInteger<unsigned>(value(key), defaultValue);
}

qint64 SettingsGroupRO::read(const QString& key, qint64 defaultValue) const {
    return readInteger<qint64>(value(key), defaultValue);
}

double SettingsGroupRO::read(const QString& key, double defaultValue) const {
    double d;
    return toFiniteDouble(value(key), &d) ? d : defaultValue;
}

float SettingsGroupRO::read(const QString& key, float defaultValue) const {
    double d;
    if (!toFiniteDouble(value(key), &d) || std::fabs(d) > double(std::numeric_limits<float>::max()))
        return defaultValue;
    return float(d);
}

bool SettingsGroupRO::read(const QString& key, bool defaultValue) const {
    const QVariant v = value(key);
    if (!v.isValid()) return defaultValue;
    if (v.userType() == QMetaType::Bool) return v.toBool();
    if (v.userType() == QMetaType::Int || v.userType() == QMetaType::LongLong) {
        const qlonglong i = v.toLongLong();
        return i == 0 || i == 1 ? i == 1 : defaultValue;
    }
    const QString s = v.toString().trimmed().toLower();
    if (s == QLatin1String("true") || s == QLatin1String("1")) return true;
    if (s == QLatin1String("false") || s == QLatin1String("0")) return false;
    return defaultValue;
}

QString SettingsGroupRO::read(const QString& key, const QString& defaultValue) const {
    const QVariant v = value(key);
    return v.isValid() && v.canConvert<QString>() ? v.toString() : defaultValue;
}

QString SettingsGroupRO::read(const QString& key, const char* defaultValue) const {
    return read(key, QString::fromUtf8(defaultValue));
}

QStringList SettingsGroupRO::allKeys() const {
    QStringList result;
    if (!m_store) return result;
    QString full = m_prefix;
    if (m_isArray && m_currentIndex > 0) full += QString::number(m_currentIndex) + QLatin1Char('/');
    for (const QString& key : m_store->allKeys())
        if (key.startsWith(full)) result << key.mid(full.size());
    return result;
}

QStringList SettingsGroupRO::childKeys() const {
    QStringList result;
    for (const QString& key : allKeys())
        if (!key.contains(QLatin1Char('/'))) result << key;
    return result;
}

QStringList SettingsGroupRO::childGroups() const {
    QStringList result;
    for (const QString& key : allKeys()) {
        const int slash = key.indexOf(QLatin1Char('/'));
        if (slash <= 0) continue;
        const QString name = key.left(slash);
        if (!result.contains(name)) result << name;
    }
    return result;
}

int SettingsGroupRO::arraySize(const QString& name) const {
    const int size = SettingsGroupRO(*this, name).read(QStringLiteral("size"), 0);
    return size < 0 ? 0 : size;
}

// --- SettingsGroupRW ---------------------------------------------------------------------------

SettingsGroupRW::SettingsGroupRW(ISettings* store, const QString& path) : SettingsGroupRO(store, path) {}
SettingsGroupRW::SettingsGroupRW(const SettingsGroupRO& parent, const QString& name)
    : SettingsGroupRO(parent, name) {}

bool SettingsGroupRW::isWritable() const {
    return m_store && m_store->isWritable();
}

void SettingsGroupRW::setValue(const QString& key, const QVariant& value) {
    if (m_store) m_store->setValue(fullKey(key), value);
}

void SettingsGroupRW::remove(const QString& key) {
    if (m_store) m_store->remove(fullKey(key));
}

// --- arrays ------------------------------------------------------------------------------------

SettingsArrayRO::SettingsArrayRO(const SettingsGroupRO& parent, const QString& name)
    : SettingsGroupRO(parent, name) {
    m_isArray = true;
    m_declaredSize = std::max(0, SettingsGroupRO::read(QStringLiteral("size"), 0));
}

void SettingsArrayRO::setArrayIndex(int index) {
    m_currentIndex = index < 0 ? 0 : index + 1;
}

SettingsArrayRW::SettingsArrayRW(const SettingsGroupRO& parent, const QString& name, int size)
    : SettingsGroupRW(parent, name) {
    m_isArray = true;
    if (size >= 0) {
        m_declaredSize = size;
        setValue(QStringLiteral("size"), size);
    } else {
        m_writeSizeOnClose = true;
        remove(QStringLiteral("size"));
    }
}

SettingsArrayRW::~SettingsArrayRW() {
    if (!m_writeSizeOnClose) return;
    m_currentIndex = 0;
    setValue(QStringLiteral("size"), m_count);
}

void SettingsArrayRW::setArrayIndex(int index) {
    m_currentIndex = index < 0 ? 0 : index + 1;
    if (m_currentIndex > m_count) m_count = m_currentIndex;
}

} // namespace Orvex
