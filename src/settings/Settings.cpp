#include "settings/Settings.h"

namespace Orvex {

Q_LOGGING_CATEGORY(lcSettings, "lib.settings")

ISettings::ISettings() {
    registerSettingsTypes();
}

// --- TSettings<QSettings> ---------------------------------------------------------------------

void TSettings<QSettings>::clear() {
    m_settings->clear();
    m_modified = true;
}

void TSettings<QSettings>::sync() {
    m_settings->sync();
    m_modified = false;
}

int TSettings<QSettings>::status() const {
    return m_settings->status();
}
bool TSettings<QSettings>::isWritable() const {
    return m_settings->isWritable();
}
QString TSettings<QSettings>::group() const {
    return m_settings->group();
}
bool TSettings<QSettings>::hasKeys() const {
    return !m_settings->allKeys().isEmpty();
}
QStringList TSettings<QSettings>::allKeys() const {
    return m_settings->allKeys();
}

void TSettings<QSettings>::setValue(const QString& key, const QVariant& value) {
    m_settings->setValue(key, value);
    m_modified = true;
}

QVariant TSettings<QSettings>::value(const QString& key, const QVariant& defaultValue) const {
    return m_settings->value(key, defaultValue);
}

void TSettings<QSettings>::remove(const QString& key) {
    m_settings->remove(key);
    m_modified = true;
}

bool TSettings<QSettings>::contains(const QString& key) const {
    return m_settings->contains(key);
}

// --- SettingsMap ------------------------------------------------------------------------------

void SettingsMap::clear() {
    m_map.clear();
    m_modified = true;
}

void SettingsMap::setValue(const QString& key, const QVariant& value) {
    m_map.insert(key, value);
    m_modified = true;
}

QVariant SettingsMap::value(const QString& key, const QVariant& defaultValue) const {
    auto it = m_map.constFind(key);
    return it == m_map.constEnd() ? defaultValue : it.value();
}

void SettingsMap::remove(const QString& key) {
    m_modified = true;
    if (key.isEmpty()) {
        m_map.clear();
        return;
    }
    m_map.remove(key);
    // Keys beneath `key` sort right after "key/" in a contiguous run.
    const QString below = key.endsWith(QLatin1Char('/')) ? key : key + QLatin1Char('/');
    auto it = m_map.lowerBound(below);
    while (it != m_map.end() && it.key().startsWith(below)) it = m_map.erase(it);
}

bool SettingsMap::contains(const QString& key) const {
    if (m_map.contains(key)) return true;
    const QString below = key.endsWith(QLatin1Char('/')) ? key : key + QLatin1Char('/');
    auto it = m_map.lowerBound(below);
    return it != m_map.constEnd() && it.key().startsWith(below);
}

} // namespace Orvex
