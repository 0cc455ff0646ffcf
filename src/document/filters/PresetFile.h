#pragma once
// Preset files (XML `preset_list`, extension .elemorama, and the built-in preset resources), the
// one-line serialisation of a preset kept in the settings store, and the user preset list of an
// effect in "Filters/<key>/Presets".

#include "document/filters/EffectRegistry.h"
#include "document/filters/PresetRecord.h"

class QIODevice;

namespace Orvex {
class SettingsGroupRO;
class SettingsGroupRW;
} // namespace Orvex

namespace Orvex::Document::Filters {

class PresetFileReader {
public:
    // Reads a preset_list document. On success `effectId` names the file's effect and `presets`
    // holds its presets in file order (version "1.1"). On failure errorString(), lineNumber() and
    // columnNumber() describe the problem.
    bool read(QIODevice* device, PresetList& presets, int& effectId);
    QString errorString() const { return m_error; }
    qint64 lineNumber() const { return m_line; }
    qint64 columnNumber() const { return m_column; }

private:
    QString m_error;
    qint64 m_line = 0;
    qint64 m_column = 0;
};

class PresetFileWriter {
public:
    // Writes the presets in list order, each preset's options in the order of the effect's table.
    bool write(QIODevice* device, const PresetList& presets, int effectId);
};

// "name{=}<name>{;}version{=}<version>{;}<id>{=}<value>..." with the id as an unsigned decimal.
QString presetToText(const PresetRecord& preset);
// Also accepts the older form with ";" and "=" (recognised by ";version=1.0;"). False when the text
// does not follow either form.
bool presetFromText(const QString& text, PresetRecord& preset);

// The built-in presets of an effect from its compiled-in resource; empty for effects without one.
// Throws std::runtime_error when the resource is damaged (a build fault, caught by the tests).
PresetList builtInPresets(int effectId);

// Reads the user presets of the effect from the group "Filters/<key>" (its sub-group "Presets"):
// with versionPreset 2 or more the numbered serialised presets until the first that does not
// parse; otherwise every sub-group of "Presets" is one preset holding the effect's settings keys.
PresetList readUserPresets(const SettingsGroupRO& effectGroup, int effectId);
// Writes versionPreset 2, presetCount and preset1..n; removes leftover preset keys above n.
void writeUserPresets(SettingsGroupRW& effectGroup, const PresetList& presets);

// Looks a preset up by name among the built-in presets, then the user presets when a group is
// given. False when neither holds it.
bool findPreset(int effectId, const QString& name, PresetRecord& preset,
                const SettingsGroupRO* effectGroup = nullptr);

// The framework's rule for a fresh preset name: "<name> (<n>)" for the first n of 1 ... 1000 that
// no name in `taken` carries (the name itself when all are taken).
QString uniquePresetName(const QString& name, const QStringList& taken);

// What an imported preset does when the target list already holds its name.
enum class NameClash { RenameAndAdd, Replace };

// Appends the imported presets to `target` in order: a preset whose name is taken is renamed
// (RenameAndAdd) or replaces the one of that name, which leaves its place (Replace).
PresetList mergeImportedPresets(PresetList target, const PresetList& imported, NameClash rule);

// The file name proposed for exporting the presets of `effectId`, from the last preset file path
// (empty: "<Short>_presets.elemorama"). A last name that starts with any effect's short name and
// one of "~=-+*:;,._ ()<>[]{}!@#$%^&" gets the current effect's name instead; any other name gets
// "<Short>_" in front. Backslashes become slashes; the directory part keeps its trailing "/".
QString proposeExportPath(const QString& lastPresetsFilePath, int effectId);

// Settings access of a record through a settings group.
SettingsReader settingsReader(const SettingsGroupRO& group);
SettingsWriter settingsWriter(SettingsGroupRW& group);

} // namespace Orvex::Document::Filters
