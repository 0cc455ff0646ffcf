#pragma once
// The effect engine: parameter records, the effect registry, preset files and the renderers.
//
// Principles of this module:
// - Every effect's parameters are one plain record (copied freely between the panel, the work
//   thread, the cache key and the preset list). Its fields are described once, in a table of
//   FieldSpec rows (member, type, settings key, preset option id, label, valid range, slider range,
//   default); the generic code in this header does defaults, clamping, comparison, preset and text
//   conversion and settings load/save from that table. Records with special rules (colour
//   fractions, bow width, ...) add a hook; they never copy the generic code.
// - Records are values; none of this code keeps state or locks. A record is owned by whoever holds
//   it; the work thread reads only its own last-run copy.
// - Untrusted values (settings, preset files, command lines, the other process) are parsed without
//   exceptions and clamped to the documented ranges before use.
// - Rectangles exclude their right and bottom edges.

#include <QString>
#include <QVariant>
#include <QVector>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <variant>
#include <vector>

namespace Orvex::Document::Filters {

// A parameter id of the preset files: four characters, the first in the most significant byte.
using FourCC = uint32_t;

constexpr FourCC fourCC(const char (&text)[5]) {
    return (FourCC(uint8_t(text[0])) << 24) | (FourCC(uint8_t(text[1])) << 16) |
           (FourCC(uint8_t(text[2])) << 8) | FourCC(uint8_t(text[3]));
}
QString fourCCText(FourCC id);
// The code of a four-character text; false for any other length or a character at or above 256.
bool fourCCFromText(const QString& text, FourCC& id);

// A straight line drawn with the trunk tools, in image pixels.
struct Segment {
    int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    bool operator==(const Segment& o) const { return x1 == o.x1 && y1 == o.y1 && x2 == o.x2 && y2 == o.y2; }
};

enum class FieldType {
    Int,       // int32_t member; integer text
    Real,      // float or double member; decimal text with up to six significant digits
    Bool,      // bool member; "1"/"0" in preset records, "yes"/"no" in preset files
    Argb,      // uint32_t ARGB member; unsigned decimal text and settings value
    ColorName, // uint32_t ARGB member; "#rrggbb" or "transparent" (alpha 0) in text and settings
};

// The type-independent description of one field, as the preset files, the registry and the batch
// renderer see it.
struct FieldInfo {
    const char* member = nullptr; // the record's member name, for messages
    FieldType type = FieldType::Int;
    const char* settingsKey = nullptr; // nullptr: the field is not kept in the settings store
    FourCC presetId = 0;               // 0: the field is not part of presets
    const char* label = nullptr;       // the panel label (untranslated)
    double minValue = 0;               // valid range; values read from anywhere are clamped to it
    double maxValue = 0;
    double sliderMin = 0; // the panel control's range (usually the valid range)
    double sliderMax = 0;
    double defaultValue = 0;
    bool hasRange() const { return type == FieldType::Int || type == FieldType::Real; }
};

template <class Record>
using MemberPtr =
    std::variant<int32_t Record::*, float Record::*, double Record::*, bool Record::*, uint32_t Record::*>;

template <class Record> struct FieldSpec : FieldInfo { MemberPtr<Record> ptr; };

template <class Record>
FieldSpec<Record> intField(const char* member, int32_t Record::*ptr, const char* key, FourCC id,
                           const char* label, int minValue, int maxValue, int defaultValue) {
    FieldSpec<Record> f;
    f.member = member, f.type = FieldType::Int, f.settingsKey = key, f.presetId = id, f.label = label;
    f.minValue = f.sliderMin = minValue, f.maxValue = f.sliderMax = maxValue, f.defaultValue = defaultValue;
    f.ptr = ptr;
    return f;
}

template <class Record, class Real>
FieldSpec<Record> realField(const char* member, Real Record::*ptr, const char* key, FourCC id,
                            const char* label, double minValue, double maxValue, double defaultValue) {
    FieldSpec<Record> f;
    f.member = member, f.type = FieldType::Real, f.settingsKey = key, f.presetId = id, f.label = label;
    f.minValue = f.sliderMin = minValue, f.maxValue = f.sliderMax = maxValue, f.defaultValue = defaultValue;
    f.ptr = ptr;
    return f;
}

template <class Record>
FieldSpec<Record> boolField(const char* member, bool Record::*ptr, const char* key, FourCC id,
                            const char* label, bool defaultValue) {
    FieldSpec<Record> f;
    f.member = member, f.type = FieldType::Bool, f.settingsKey = key, f.presetId = id, f.label = label;
    f.minValue = f.sliderMin = 0, f.maxValue = f.sliderMax = 1, f.defaultValue = defaultValue ? 1 : 0;
    f.ptr = ptr;
    return f;
}

template <class Record>
FieldSpec<Record> colorField(const char* member, uint32_t Record::*ptr, const char* key, FourCC id,
                             const char* label, uint32_t defaultArgb, FieldType type = FieldType::Argb) {
    FieldSpec<Record> f;
    f.member = member, f.type = type, f.settingsKey = key, f.presetId = id, f.label = label;
    f.minValue = f.sliderMin = 0, f.maxValue = f.sliderMax = 4294967295.0, f.defaultValue = defaultArgb;
    f.ptr = ptr;
    return f;
}

// Numbers for ranges and defaults of reals are compared after multiplying by 100 and rounding half
// away from zero, so that a slider's 1.004 and a preset's 1.0 count as the same value.
inline long long roundedHundredths(double v) {
    return std::llround(v * 100.0);
}

// ---- text forms ------------------------------------------------------------------------------

QString realText(double value);       // up to six significant digits, shortest notation
QString argbText(uint32_t argb);      // unsigned decimal
QString colorNameText(uint32_t argb); // "#rrggbb" or "transparent"
bool parseInt(const QString& text, double& value);
bool parseReal(const QString& text, double& value);
bool parseBool(const QString& text, bool& value);     // 1/0, yes/no, true/false, on/off
bool parseColor(const QString& text, uint32_t& argb); // decimal, 0xAARRGGBB, #rrggbb, #aarrggbb, transparent

// ---- generic operations over a record's table --------------------------------------------------
// A record type R provides `static const std::vector<FieldSpec<R>>& fields()`.

template <class R> double fieldNumber(const R& record, const FieldSpec<R>& field) {
    return std::visit([&](auto ptr) -> double { return double(record.*ptr); }, field.ptr);
}

template <class R> void setFieldNumber(R& record, const FieldSpec<R>& field, double value) {
    std::visit(
        [&](auto ptr) {
            using T = std::decay_t<decltype(record.*ptr)>;
            if constexpr (std::is_same_v<T, bool>)
                record.*ptr = value != 0;
            else if constexpr (std::is_same_v<T, uint32_t>)
                record.*ptr = uint32_t(std::llround(std::clamp(value, 0.0, 4294967295.0)));
            else if constexpr (std::is_same_v<T, int32_t>)
                record.*ptr = int32_t(std::llround(std::clamp(value, -2147483648.0, 2147483647.0)));
            else
                record.*ptr = T(value);
        },
        field.ptr);
}

template <class R> void setDefaults(R& record) {
    for (const auto& f : R::fields()) setFieldNumber(record, f, f.defaultValue);
}

// Clamps every ranged field; returns the number of fields that changed.
template <class R> int clampFields(R& record) {
    int changed = 0;
    for (const auto& f : R::fields()) {
        if (!f.hasRange()) continue;
        const double v = fieldNumber(record, f);
        if (std::isnan(v)) {
            setFieldNumber(record, f, f.defaultValue);
            ++changed;
        } else if (v < f.minValue || v > f.maxValue) {
            setFieldNumber(record, f, std::clamp(v, f.minValue, f.maxValue));
            ++changed;
        }
    }
    return changed;
}

template <class R> bool fieldEqual(const R& a, const R& b, const FieldSpec<R>& f) {
    if (f.type == FieldType::Real)
        return roundedHundredths(fieldNumber(a, f)) == roundedHundredths(fieldNumber(b, f));
    return fieldNumber(a, f) == fieldNumber(b, f);
}

// Equality over the table (reals after x100 and rounding). With presetOnly, only fields that
// presets carry are compared (the preset-matching rule).
template <class R> bool tableEqual(const R& a, const R& b, bool presetOnly = false) {
    for (const auto& f : R::fields()) {
        if (presetOnly && !f.presetId) continue;
        if (!fieldEqual(a, b, f)) return false;
    }
    return true;
}

// Equality over the named members only (cache keys).
template <class R> bool sameMembers(const R& a, const R& b, std::initializer_list<const char*> members) {
    for (const char* m : members) {
        bool found = false;
        for (const auto& f : R::fields())
            if (std::strcmp(f.member, m) == 0) {
                found = true;
                if (!fieldEqual(a, b, f)) return false;
            }
        if (!found) return false; // a misspelt key member never matches, so caches are rebuilt
    }
    return true;
}

template <class R> QString fieldText(const R& record, const FieldSpec<R>& f) {
    const double v = fieldNumber(record, f);
    switch (f.type) {
    case FieldType::Int:
        return QString::number(qint64(v));
    case FieldType::Real:
        return realText(v);
    case FieldType::Bool:
        return v != 0 ? QStringLiteral("1") : QStringLiteral("0");
    case FieldType::Argb:
        return argbText(uint32_t(v));
    case FieldType::ColorName:
        return colorNameText(uint32_t(v));
    }
    return {};
}

// Parses text into the field without clamping; false (record unchanged) when the text is no value
// of the field's type.
template <class R> bool setFieldText(R& record, const FieldSpec<R>& f, const QString& text) {
    double v = 0;
    switch (f.type) {
    case FieldType::Int:
        if (!parseInt(text, v)) return false;
        break;
    case FieldType::Real:
        if (!parseReal(text, v)) return false;
        break;
    case FieldType::Bool: {
        bool b = false;
        if (!parseBool(text, b)) return false;
        v = b ? 1 : 0;
        break;
    }
    case FieldType::Argb:
    case FieldType::ColorName: {
        uint32_t c = 0;
        if (!parseColor(text, c)) return false;
        v = c;
        break;
    }
    }
    setFieldNumber(record, f, v);
    return true;
}

template <class R> const FieldSpec<R>* findField(const QString& settingsKeyOrMember) {
    for (const auto& f : R::fields())
        if ((f.settingsKey && settingsKeyOrMember == QLatin1String(f.settingsKey)) ||
            settingsKeyOrMember == QLatin1String(f.member))
            return &f;
    return nullptr;
}

// ---- settings ----------------------------------------------------------------------------------
// Settings access is passed as two functions so that any store (the settings module's groups, a
// QSettings, a test map) can serve: read(key, default) and write(key, value).
using SettingsReader = std::function<QVariant(const QString& key, const QVariant& defaultValue)>;
using SettingsWriter = std::function<void(const QString& key, const QVariant& value)>;

template <class R> QVariant settingsValue(const R& record, const FieldSpec<R>& f) {
    const double v = fieldNumber(record, f);
    switch (f.type) {
    case FieldType::Int:
        return QVariant(int(v));
    case FieldType::Real:
        return QVariant(v);
    case FieldType::Bool:
        return QVariant(v != 0);
    case FieldType::Argb:
        return QVariant(uint(v));
    case FieldType::ColorName:
        return QVariant(colorNameText(uint32_t(v)));
    }
    return {};
}

template <class R> void saveFields(const R& record, const SettingsWriter& write) {
    for (const auto& f : R::fields())
        if (f.settingsKey) write(QLatin1String(f.settingsKey), settingsValue(record, f));
}

// Reads every settings key with the table's default; unreadable values keep the default. The
// caller clamps (the record's clamp() hook) afterwards.
template <class R> void loadFields(R& record, const SettingsReader& read) {
    R defaults;
    for (const auto& f : R::fields()) {
        if (!f.settingsKey) continue;
        const QVariant v = read(QLatin1String(f.settingsKey), settingsValue(defaults, f));
        if (!setFieldText(record, f, v.toString())) setFieldNumber(record, f, f.defaultValue);
    }
}

} // namespace Orvex::Document::Filters
