#include "document/filters/PresetFile.h"

#include "settings/SettingsGroup.h"

#include <QFile>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <cstring>
#include <stdexcept>

static void initPresetResources() {
    Q_INIT_RESOURCE(presets);
}

namespace Orvex::Document::Filters {

namespace {

const FieldInfo* fieldById(const std::vector<FieldInfo>& fields, FourCC id) {
    for (const auto& f : fields)
        if (f.presetId && f.presetId == id) return &f;
    return nullptr;
}

} // namespace

bool PresetFileReader::read(QIODevice* device, PresetList& presets, int& effectId) {
    QXmlStreamReader xml(device);
    m_error.clear();
    auto fail = [&](const QString& text) {
        xml.raiseError(text);
        return false;
    };
    auto finish = [&]() {
        if (xml.hasError()) {
            m_error = xml.errorString();
            m_line = xml.lineNumber();
            m_column = xml.columnNumber();
            return false;
        }
        return true;
    };

    // The document type, when present, comes before the first element.
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isDTD()) {
            if (xml.dtdName() != QLatin1String("preset_list")) {
                fail(QStringLiteral("The file is not an 'preset_list' file."));
                return finish();
            }
        } else if (xml.isStartElement()) {
            break;
        }
    }
    if (xml.hasError()) return finish();
    if (!xml.isStartElement() || xml.name() != QLatin1String("preset_list") ||
        xml.attributes().value(QLatin1String("version")) != QLatin1String("1.0")) {
        fail(QStringLiteral("The file is not an 'preset_list' version 1.0 file."));
        return finish();
    }
    const QString style = xml.attributes().value(QLatin1String("useStyle")).toString();
    const int id = EffectRegistry::find(style);
    if (id < 0) {
        fail(QStringLiteral("Unsupported mode '%1'.").arg(style));
        return finish();
    }
    effectId = id;
    presets.clear();
    const QString groupName = QLatin1String(EffectRegistry::byId(id)->shortName) + QStringLiteral("_set");
    const std::vector<FieldInfo> fields = EffectRegistry::fields(id);

    while (xml.readNextStartElement()) {
        if (xml.name() != QLatin1String("preset")) {
            xml.skipCurrentElement();
            continue;
        }
        PresetRecord preset;
        preset.name = xml.attributes().value(QLatin1String("name")).toString();
        preset.version = QStringLiteral("1.1");
        while (xml.readNextStartElement()) {
            if (xml.name() != groupName) {
                xml.skipCurrentElement();
                continue;
            }
            while (xml.readNextStartElement()) {
                if (xml.name() == QLatin1String("option")) {
                    FourCC optionId = 0;
                    const QString value = xml.attributes().value(QLatin1String("value")).toString();
                    if (fourCCFromText(xml.attributes().value(QLatin1String("id")).toString(), optionId))
                        if (const FieldInfo* f = fieldById(fields, optionId)) {
                            if (f->type == FieldType::Bool) {
                                const bool on = value == QLatin1String("yes") || value == QLatin1String("on");
                                preset.entries.push_back(
                                    {optionId, on ? QStringLiteral("1") : QStringLiteral("0")});
                            } else {
                                preset.entries.push_back({optionId, value});
                            }
                        }
                }
                xml.skipCurrentElement();
            }
        }
        presets.push_back(preset);
    }
    return finish();
}

bool PresetFileWriter::write(QIODevice* device, const PresetList& presets, int effectId) {
    const EffectInfo* info = EffectRegistry::byId(effectId);
    if (!info) return false;
    const std::vector<FieldInfo> fields = EffectRegistry::fields(effectId);
    QXmlStreamWriter xml(device);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeDTD(QStringLiteral("<!DOCTYPE preset_list>"));
    xml.writeStartElement(QStringLiteral("preset_list"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1.0"));
    xml.writeAttribute(QStringLiteral("useStyle"), QLatin1String(info->shortName));
    const QString groupName = QLatin1String(info->shortName) + QStringLiteral("_set");
    for (const PresetRecord& preset : presets) {
        xml.writeStartElement(QStringLiteral("preset"));
        xml.writeAttribute(QStringLiteral("name"), preset.name);
        xml.writeStartElement(groupName);
        for (const FieldInfo& f : fields) {
            if (!f.presetId) continue;
            const QString* value = preset.value(f.presetId);
            if (!value) continue;
            xml.writeEmptyElement(QStringLiteral("option"));
            xml.writeAttribute(QStringLiteral("id"), fourCCText(f.presetId));
            if (f.type == FieldType::Bool)
                xml.writeAttribute(QStringLiteral("value"), *value == QLatin1String("1")
                                                                ? QStringLiteral("yes")
                                                                : QStringLiteral("no"));
            else
                xml.writeAttribute(QStringLiteral("value"), *value);
        }
        xml.writeEndElement();
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    return !xml.hasError();
}

QString presetToText(const PresetRecord& preset) {
    QString text = QStringLiteral("name{=}") + preset.name + QStringLiteral("{;}version{=}") + preset.version;
    for (const PresetEntry& e : preset.entries)
        text += QStringLiteral("{;}") + QString::number(e.id) + QStringLiteral("{=}") + e.value;
    return text;
}

bool presetFromText(const QString& text, PresetRecord& preset) {
    const bool older = text.contains(QLatin1String(";version=1.0;"));
    const QString fieldSep = older ? QStringLiteral(";") : QStringLiteral("{;}");
    const QString valueSep = older ? QStringLiteral("=") : QStringLiteral("{=}");
    const QStringList fields = text.split(fieldSep, Qt::SkipEmptyParts);
    if (fields.size() < 2) return false;
    auto split = [&](const QString& field, QString& key, QString& value) {
        const int at = field.indexOf(valueSep);
        if (at < 0) return false;
        key = field.left(at);
        value = field.mid(at + valueSep.size());
        return true;
    };
    PresetRecord result;
    QString key, value;
    if (!split(fields[0], key, value) || key != QLatin1String("name")) return false;
    result.name = value;
    if (!split(fields[1], key, value) || key != QLatin1String("version")) return false;
    result.version = value;
    for (int i = 2; i < fields.size(); ++i) {
        if (!split(fields[i], key, value)) return false;
        bool ok = false;
        const qulonglong id = key.toULongLong(&ok);
        if (!ok || id > 0xFFFFFFFFull) return false;
        result.entries.push_back({FourCC(id), value});
    }
    preset = result;
    return true;
}

PresetList builtInPresets(int effectId) {
    initPresetResources();
    const QString path = EffectRegistry::builtInPresetPath(effectId);
    QFile file(path);
    if (path.isEmpty() || !file.exists()) return {};
    if (!file.open(QIODevice::ReadOnly)) throw std::runtime_error("Cannot open built-in presets");
    PresetFileReader reader;
    PresetList presets;
    int id = -1;
    if (!reader.read(&file, presets, id) || id != effectId)
        throw std::runtime_error(
            ("Damaged built-in presets " + path + ": " + reader.errorString()).toStdString());
    return presets;
}

PresetList readUserPresets(const SettingsGroupRO& effectGroup, int effectId) {
    PresetList presets;
    const SettingsGroupRO group(effectGroup, QStringLiteral("Presets"));
    if (group.read(QStringLiteral("versionPreset"), 0) >= 2) {
        const int count = group.read(QStringLiteral("presetCount"), 0);
        for (int i = 1; i <= count; ++i) {
            PresetRecord preset;
            if (!presetFromText(group.read(QStringLiteral("preset%1").arg(i), QString()), preset)) break;
            presets.push_back(preset);
        }
        return presets;
    }
    // The older form: one sub-group per preset, named by the preset, holding the settings keys.
    for (const QString& name : group.childGroups()) {
        auto params = EffectRegistry::createParams(effectId);
        if (!params) break;
        const SettingsGroupRO sub(group, name);
        params->load(settingsReader(sub));
        params->setMaskRevision(0);
        presets.push_back(params->toPreset(name));
    }
    return presets;
}

void writeUserPresets(SettingsGroupRW& effectGroup, const PresetList& presets) {
    SettingsGroupRW group(effectGroup, QStringLiteral("Presets"));
    // Sub-groups of the older form would be read again if the version key were ever lost.
    for (const QString& sub : group.childGroups()) group.remove(sub);
    group.setValue(QStringLiteral("versionPreset"), 2);
    group.setValue(QStringLiteral("presetCount"), int(presets.size()));
    for (int i = 0; i < presets.size(); ++i)
        group.setValue(QStringLiteral("preset%1").arg(i + 1), presetToText(presets[i]));
    static const QRegularExpression numbered(QStringLiteral("^preset(\\d+)$"));
    for (const QString& key : group.childKeys()) {
        const auto m = numbered.match(key);
        if (m.hasMatch() && m.captured(1).toLongLong() > presets.size()) group.remove(key);
    }
}

bool findPreset(int effectId, const QString& name, PresetRecord& preset, const SettingsGroupRO* effectGroup) {
    for (const PresetRecord& p : builtInPresets(effectId))
        if (p.name == name) {
            preset = p;
            return true;
        }
    if (effectGroup)
        for (const PresetRecord& p : readUserPresets(*effectGroup, effectId))
            if (p.name == name) {
                preset = p;
                return true;
            }
    return false;
}

QString uniquePresetName(const QString& name, const QStringList& taken) {
    for (int n = 1; n <= 1000; ++n) {
        const QString candidate = QStringLiteral("%1 (%2)").arg(name).arg(n);
        if (!taken.contains(candidate)) return candidate;
    }
    return name;
}

PresetList mergeImportedPresets(PresetList target, const PresetList& imported, NameClash rule) {
    for (PresetRecord preset : imported) {
        int existing = -1;
        for (int i = 0; i < target.size(); ++i)
            if (target[i].name == preset.name) existing = i;
        if (existing >= 0) {
            if (rule == NameClash::Replace) {
                target.removeAt(existing);
            } else {
                QStringList names;
                for (const PresetRecord& p : target) names << p.name;
                preset.name = uniquePresetName(preset.name, names);
            }
        }
        target.push_back(preset);
    }
    return target;
}

QString proposeExportPath(const QString& lastPath, int effectId) {
    const EffectInfo* info = EffectRegistry::byId(effectId);
    const QString shortName = info ? QString::fromLatin1(info->shortName) : QString();
    if (lastPath.isEmpty()) return shortName + QStringLiteral("_presets.elemorama");
    QString path = lastPath;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    const QString directory = path.left(slash + 1);
    QString name = path.mid(slash + 1);
    static const QString separators = QStringLiteral("~=-+*:;,._ ()<>[]{}!@#$%^&");
    for (const EffectInfo& e : EffectRegistry::all()) {
        const int length = int(std::strlen(e.shortName));
        if (name.size() > length && name.startsWith(QLatin1String(e.shortName)) &&
            separators.contains(name[length]))
            return directory + shortName + name.mid(length);
    }
    return directory + shortName + QLatin1Char('_') + name;
}

SettingsReader settingsReader(const SettingsGroupRO& group) {
    return [group](const QString& key, const QVariant& def) { return group.value(key, def); };
}

SettingsWriter settingsWriter(SettingsGroupRW& group) {
    return [&group](const QString& key, const QVariant& value) { group.setValue(key, value); };
}

} // namespace Orvex::Document::Filters
