#pragma once
// Settings store: a flat map of keys to QVariant values, where a key is a path of components joined
// by "/".
//
// Principles:
// - Ownership: a store never owns what it wraps (TSettings<QSettings> points at a QSettings the
//   caller keeps alive; SettingsXML may point at a caller's QByteArray). Group views never own
//   their store; the store must outlive every view opened on it.
// - Threads: stores are not locked. Use a store from one thread; workers get copied values.
// - Errors: nothing here throws. Stores report through status() (0 ok, 1 access error) and log
//   warnings in the "lib.settings" category; typed reads fall back to the caller's default when a
//   value is missing or is not of the expected kind (a text that is not a number where a number
//   belongs, a NaN, an out-of-range integer).
// - Callers never build key paths by hand: open a SettingsGroupRO / SettingsGroupRW /
//   SettingsArrayRW (SettingsGroup.h) and use short keys inside it.

#include "settings/SettingsTypes.h"

#include <QLoggingCategory>
#include <QMap>
#include <QSettings>
#include <QStringList>
#include <QVariant>

namespace Orvex {

Q_DECLARE_LOGGING_CATEGORY(lcSettings)

class ISettings {
public:
    virtual ~ISettings() = default;

    virtual void clear() = 0;
    virtual void sync() = 0;
    virtual int status() const = 0; // QSettings::Status numbering
    virtual bool isWritable() const = 0;
    virtual QString group() const = 0;
    virtual bool hasKeys() const = 0;
    virtual QStringList allKeys() const = 0;
    virtual void setValue(const QString& key, const QVariant& value) = 0;
    virtual QVariant value(const QString& key, const QVariant& defaultValue = QVariant()) const = 0;
    virtual void remove(const QString& key) = 0;
    virtual bool contains(const QString& key) const = 0;

    // Set by every change (clear, setValue, remove), cleared by sync.
    bool modified() const { return m_modified; }

protected:
    ISettings();
    bool m_modified = false;
};

template <typename Store> class TSettings;

// Forwards to a QSettings object that the caller owns.
template <> class TSettings<QSettings> : public ISettings {
public:
    explicit TSettings(QSettings* settings) : m_settings(settings) {}

    void clear() override;
    void sync() override;
    int status() const override;
    bool isWritable() const override;
    QString group() const override;
    bool hasKeys() const override;
    QStringList allKeys() const override;
    void setValue(const QString& key, const QVariant& value) override;
    QVariant value(const QString& key, const QVariant& defaultValue = QVariant()) const override;
    void remove(const QString& key) override;
    bool contains(const QString& key) const override;

    QSettings* settings() const { return m_settings; }

private:
    QSettings* m_settings;
};

// Keys kept in memory, whole (with their "/" separators), ordered by QString less-than.
class SettingsMap : public ISettings {
public:
    SettingsMap() = default;

    void clear() override;
    void sync() override {}
    int status() const override { return QSettings::NoError; }
    bool isWritable() const override { return true; }
    QString group() const override { return QString(); }
    bool hasKeys() const override { return !m_map.isEmpty(); }
    QStringList allKeys() const override { return m_map.keys(); }
    void setValue(const QString& key, const QVariant& value) override;
    QVariant value(const QString& key, const QVariant& defaultValue = QVariant()) const override;
    // An empty key clears the map; otherwise the key and every key beneath it ("key/...") go. A key
    // that merely begins with the same text ("ab" against "abc") stays.
    void remove(const QString& key) override;
    // True for a stored key equal to `key`, a stored key beneath `key`, or - when `key` ends in
    // "/" - a stored key beginning with it.
    bool contains(const QString& key) const override;

    const QMap<QString, QVariant>& map() const { return m_map; }

protected:
    QMap<QString, QVariant> m_map;
};

} // namespace Orvex
