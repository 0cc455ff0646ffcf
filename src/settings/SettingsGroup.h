#pragma once
// Group views over a settings store: short keys inside a group path, typed reads with an explicit
// default, and numbered arrays of groups.
//
//   SettingsGroupRW group(store, "Filters/Rain");
//   group.setValue("Amount", 40);
//   int amount = group.read("Amount", 25);           // 25 when missing or not a number
//   {
//       SettingsArrayRW list(group, "List", -1);       // writes "List/size" when it goes
//       list.setArrayIndex(0); list.setValue("Name", "a");   // Filters/Rain/List/1/Name
//   }
//
// A full key is: the group's normalised path + "/", then for an array with an element selected the
// element number (index + 1) + "/", then the normalised relative key. Normalising removes leading
// and trailing "/". Views never own their store.

#include "settings/Settings.h"

namespace Orvex {

class SettingsGroupRO {
public:
    SettingsGroupRO(ISettings* store, const QString& path);
    // A sub-group: its path is the parent's full key for `name` (inside the selected array element).
    SettingsGroupRO(const SettingsGroupRO& parent, const QString& name);
    SettingsGroupRO(const SettingsGroupRO&) = default;
    virtual ~SettingsGroupRO() = default;

    virtual bool isWritable() const { return false; }

    ISettings* store() const { return m_store; }
    const QString& path() const { return m_path; }
    const QString& prefix() const { return m_prefix; }
    QString fullKey(const QString& key) const;

    QVariant value(const QString& key, const QVariant& defaultValue = QVariant()) const;
    bool contains(const QString& key) const;

    // Typed reads: the default is returned when the key is missing or its value is not of the kind
    // asked for (for numbers: not a number, not finite, or out of range of the type).
    int read(const QString& key, int defaultValue) const;
    unsigned read(const QString& key, unsigned defaultValue) const;
    qint64 read(const QString& key, qint64 defaultValue) const;
    double read(const QString& key, double defaultValue) const;
    float read(const QString& key, float defaultValue) const;
    bool read(const QString& key, bool defaultValue) const; // accepts true/false/1/0 (any case)
    QString read(const QString& key, const QString& defaultValue) const;
    QString read(const QString& key, const char* defaultValue) const;
    // Any other type the variant converts to.
    template <typename T> T readValue(const QString& key, const T& defaultValue) const {
        const QVariant v = value(key);
        return v.isValid() && v.canConvert<T>() ? v.value<T>() : defaultValue;
    }

    QStringList allKeys() const;
    QStringList childKeys() const;
    QStringList childGroups() const;

    // Arrays: the element count stored under name/size (0 when missing or broken).
    int arraySize(const QString& name) const;

protected:
    ISettings* m_store;
    QString m_path;
    QString m_prefix;
    int m_currentIndex = 0; // 0 = no element selected, else element index + 1
    int m_count = 0;        // highest selected index + 1
    int m_declaredSize = 0;
    bool m_isArray = false;
    bool m_writeSizeOnClose = false;
};

class SettingsGroupRW : public SettingsGroupRO {
public:
    SettingsGroupRW(ISettings* store, const QString& path);
    SettingsGroupRW(const SettingsGroupRO& parent, const QString& name);

    bool isWritable() const override;
    void setValue(const QString& key, const QVariant& value);
    void remove(const QString& key);
};

// A read view of an array written by SettingsArrayRW: size() elements, select one with
// setArrayIndex and read its keys.
class SettingsArrayRO : public SettingsGroupRO {
public:
    SettingsArrayRO(const SettingsGroupRO& parent, const QString& name);
    int size() const { return m_declaredSize; }
    void setArrayIndex(int index);
};

class SettingsArrayRW : public SettingsGroupRW {
public:
    // size >= 0: writes "size" at once and keeps it. size < 0: removes "size" now and writes the
    // number of elements used (highest selected index + 1) when the array is destroyed.
    SettingsArrayRW(const SettingsGroupRO& parent, const QString& name, int size);
    ~SettingsArrayRW() override;

    void setArrayIndex(int index); // 0-based; keys go to sub-group index + 1
    int size() const { return m_writeSizeOnClose ? m_count : m_declaredSize; }
};

// Removes every leading and trailing "/".
QString normaliseSettingsPath(const QString& path);

} // namespace Orvex
