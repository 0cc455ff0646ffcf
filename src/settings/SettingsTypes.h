#pragma once
// Value types stored in the settings besides Qt's own: four-character-coded enumerations and unit
// values as the host's scripting layer knows them. Both are registered with the meta-type system
// the first time a settings store or the value text is used (registerSettingsTypes).

#include <QMetaType>
#include <QString>
#include <cstdint>

namespace Orvex {

struct AdobeEnumerated {
    uint32_t type = 0;  // four-character code of the enumeration type
    uint32_t value = 0; // four-character code of the value
    bool operator==(const AdobeEnumerated& o) const { return type == o.type && value == o.value; }
};

struct AdobeUntF {
    uint32_t unit = 0; // four-character unit code
    double value = 0.0;
    bool operator==(const AdobeUntF& o) const { return unit == o.unit && value == o.value; }
};

// Registers both types under their own names; safe to call from any thread, any number of times.
void registerSettingsTypes();

// Four-character code <-> four Latin-1 characters, most significant byte first.
QString fourCCToString(uint32_t code);
uint32_t fourCCFromString(const QString& text); // text must hold exactly four Latin-1 characters

} // namespace Orvex

Q_DECLARE_METATYPE(Orvex::AdobeEnumerated)
Q_DECLARE_METATYPE(Orvex::AdobeUntF)
