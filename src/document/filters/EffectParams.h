#pragma once
// The common behaviour of every effect's parameter record, and a type-erased handle on a record
// for code that works with any effect (the registry, preset files, the batch renderer, tests).

#include "document/filters/PresetRecord.h"

#include <QStringList>

#include <memory>

namespace Orvex::Document::Filters {

// Base of every parameter record. Derived supplies `static const std::vector<FieldSpec<Derived>>&
// fields()` and may hide the hooks:
//   void validate()                           special rules after the generic clamp (colour fractions, ...)
//   void validateForRun()                     the stricter rule at the start of a run (default: validate)
//   bool extrasEqual(const Derived&) const    fields outside the table (segments, points, ...)
//   void resetExtras()                        their defaults
// The mask revision counts selection changes; it is never stored in settings or presets, is part
// of ParamsUnchanged and of the cache keys, and is ignored when matching presets.
template <class Derived> struct ParamsBase {
    int32_t maskRevision = 0;

    void validate() {}
    void validateForRun() { self().validate(); }
    bool extrasEqual(const Derived&) const { return true; }
    void resetExtras() {}

    // The defaults of the table.
    static Derived defaults() {
        Derived d;
        d.reset();
        return d;
    }
    void reset() {
        setDefaults(self());
        maskRevision = 0;
        self().resetExtras();
    }
    // Clamps to the valid ranges and applies the record's special rules (values read from settings,
    // presets or the document).
    void clamp() {
        clampFields(self());
        self().validate();
    }
    // The clamp at the start of every run.
    void clampForRun() {
        clampFields(self());
        self().validateForRun();
    }
    // ParamsUnchanged: every field, the extras and the mask revision.
    bool unchangedFrom(const Derived& other) const {
        return maskRevision == other.maskRevision && tableEqual(self(), other) && self().extrasEqual(other);
    }
    // SelectMatchingPreset: the fields presets carry.
    bool matchesPreset(const Derived& preset) const { return tableEqual(self(), preset, true); }

    PresetRecord toPreset(const QString& name) const { return makePreset(self(), name); }
    // Applies the preset's values over this record and clamps.
    void applyPreset(const PresetRecord& preset) {
        applyPresetValues(self(), preset);
        clamp();
    }
    void save(const SettingsWriter& write) const { saveFields(self(), write); }
    void load(const SettingsReader& read) {
        loadFields(self(), read);
        clamp();
    }

    // A `--set KEY=VALUE` override by settings key (or member name). Returns false with a message
    // for an unknown key or unreadable value; an out-of-range value is clamped and `note` says so.
    bool setByKey(const QString& key, const QString& text, QString* message = nullptr,
                  QString* note = nullptr) {
        const FieldSpec<Derived>* f = findField<Derived>(key);
        if (!f) {
            if (message) *message = QStringLiteral("unknown parameter '%1'").arg(key);
            return false;
        }
        Derived probe = self();
        if (!setFieldText(probe, *f, text.trimmed())) {
            if (message) *message = QStringLiteral("'%1' is not a valid value for %2").arg(text, key);
            return false;
        }
        const QString before = fieldText(probe, *f);
        probe.clamp();
        const QString after = fieldText(probe, *f);
        if (note && before != after)
            *note = QStringLiteral("%1=%2 is out of range, clamped to %3").arg(key, text.trimmed(), after);
        self() = probe;
        return true;
    }
    QString valueText(const QString& key) const {
        const FieldSpec<Derived>* f = findField<Derived>(key);
        return f ? fieldText(self(), *f) : QString();
    }

private:
    Derived& self() { return static_cast<Derived&>(*this); }
    const Derived& self() const { return static_cast<const Derived&>(*this); }
};

// Records that carry drawn segments (the trunk effects) name them `lines`.
template <class R, class = void> struct HasLines : std::false_type {};
template <class R> struct HasLines<R, std::void_t<decltype(std::declval<R&>().lines)>> : std::true_type {};

// A record of any effect behind one interface.
class AnyParams {
public:
    virtual ~AnyParams() = default;
    virtual std::unique_ptr<AnyParams> clone() const = 0;
    virtual std::vector<FieldInfo> fieldInfos() const = 0;
    virtual void reset() = 0;
    virtual void clamp() = 0;
    virtual bool unchangedFrom(const AnyParams& other) const = 0;
    virtual bool matchesPreset(const AnyParams& preset) const = 0;
    virtual PresetRecord toPreset(const QString& name) const = 0;
    virtual void applyPreset(const PresetRecord& preset) = 0;
    virtual void save(const SettingsWriter& write) const = 0;
    virtual void load(const SettingsReader& read) = 0;
    virtual bool setByKey(const QString& key, const QString& text, QString* message, QString* note) = 0;
    virtual QString valueText(const QString& key) const = 0;
    virtual int32_t maskRevision() const = 0;
    virtual void setMaskRevision(int32_t revision) = 0;
    // The drawn segments of a trunk effect's record; nullptr for the other effects.
    virtual const std::vector<Segment>* segments() const = 0;
    virtual std::vector<Segment>* segments() = 0;
};

template <class R> class TypedParams final : public AnyParams {
public:
    R record = R::defaults();

    TypedParams() = default;
    explicit TypedParams(const R& r) : record(r) {}
    std::unique_ptr<AnyParams> clone() const override { return std::make_unique<TypedParams<R>>(record); }
    std::vector<FieldInfo> fieldInfos() const override {
        return std::vector<FieldInfo>(R::fields().begin(), R::fields().end());
    }
    void reset() override { record.reset(); }
    void clamp() override { record.clamp(); }
    bool unchangedFrom(const AnyParams& other) const override {
        auto* o = dynamic_cast<const TypedParams<R>*>(&other);
        return o && record.unchangedFrom(o->record);
    }
    bool matchesPreset(const AnyParams& preset) const override {
        auto* o = dynamic_cast<const TypedParams<R>*>(&preset);
        return o && record.matchesPreset(o->record);
    }
    PresetRecord toPreset(const QString& name) const override { return record.toPreset(name); }
    void applyPreset(const PresetRecord& preset) override { record.applyPreset(preset); }
    void save(const SettingsWriter& write) const override { record.save(write); }
    void load(const SettingsReader& read) override { record.load(read); }
    bool setByKey(const QString& key, const QString& text, QString* message, QString* note) override {
        return record.setByKey(key, text, message, note);
    }
    QString valueText(const QString& key) const override { return record.valueText(key); }
    int32_t maskRevision() const override { return record.maskRevision; }
    void setMaskRevision(int32_t revision) override { record.maskRevision = revision; }
    const std::vector<Segment>* segments() const override {
        if constexpr (HasLines<R>::value)
            return &record.lines;
        else
            return nullptr;
    }
    std::vector<Segment>* segments() override {
        if constexpr (HasLines<R>::value)
            return &record.lines;
        else
            return nullptr;
    }
};

} // namespace Orvex::Document::Filters
