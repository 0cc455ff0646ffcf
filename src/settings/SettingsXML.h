#pragma once
// A SettingsMap loaded from and saved to an XML side file (root element "Orvex"; "group" elements
// with a "name", "item" elements whose attributes are keys holding value texts, see
// SettingsValueText.h). Saving happens in sync() and in the destructor, and only when something
// changed since the last load or save.

#include "settings/Settings.h"

#include <QByteArray>

namespace Orvex {

class SettingsXML : public SettingsMap {
public:
    // Key that keeps a group without keys alive in the XML form.
    static const QString NilKey; // "@{nil}@"

    // With `load`, reads the file: status() is 0 when it opened and parsed, else 1 (keys read before
    // a parse error stay). Without `load`, starts empty with status 0.
    explicit SettingsXML(const QString& fileName, bool load = true);
    // Reads from `data`; sync() writes into `*target` when it is set (the caller keeps it alive).
    SettingsXML(const QByteArray& data, QByteArray* target);
    ~SettingsXML() override;

    void sync() override;
    int status() const override { return m_status; }

    QString fileName() const { return m_fileName; }
    void setTarget(QByteArray* target) { m_target = target; }

    // The XML form of the current keys.
    QByteArray toXml() const;
    // Replaces the keys by those parsed from `data`; false (and the last-error text set) on error.
    bool fromXml(const QByteArray& data);

    // Text of the last reader or writer error of this thread: "Error[code]: text (L: line, C: col)".
    static QString lastError();

private:
    bool readFrom(class QIODevice* device);
    bool writeTo(class QIODevice* device) const;

    QString m_fileName;
    int m_status = QSettings::NoError;
    QByteArray* m_target = nullptr;
};

} // namespace Orvex
