#pragma once
// Presets as they travel between preset files, the settings store and the effects: a name, a
// version text and the (parameter id, value text) entries in the order of the effect's table.

#include "document/filters/ParamRecord.h"

#include <QList>

namespace Orvex::Document::Filters {

struct PresetEntry {
    FourCC id = 0;
    QString value;
    bool operator==(const PresetEntry& o) const { return id == o.id && value == o.value; }
};

struct PresetRecord {
    QString name;
    QString version = QStringLiteral("1.1");
    QVector<PresetEntry> entries;
    const QString* value(FourCC id) const {
        for (const auto& e : entries)
            if (e.id == id) return &e.value;
        return nullptr;
    }
    bool operator==(const PresetRecord& o) const {
        return name == o.name && version == o.version && entries == o.entries;
    }
};
using PresetList = QList<PresetRecord>;

// Every preset field of the record, in table order.
template <class R> PresetRecord makePreset(const R& record, const QString& name) {
    PresetRecord p;
    p.name = name;
    for (const auto& f : R::fields())
        if (f.presetId) p.entries.push_back({f.presetId, fieldText(record, f)});
    return p;
}

// Copies the preset's values into the record. Entries whose id names no field are ignored; a value
// that is no value of its field's type leaves the field as it was. The caller clamps afterwards.
template <class R> void applyPresetValues(R& record, const PresetRecord& preset) {
    for (const auto& e : preset.entries)
        for (const auto& f : R::fields())
            if (f.presetId && f.presetId == e.id) setFieldText(record, f, e.value);
}

} // namespace Orvex::Document::Filters
