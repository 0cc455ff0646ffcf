#include "document/filters/EffectJob.h"

#include "document/filters/PresetFile.h"
#include "settings/SettingsGroup.h"

namespace Orvex::Document::Filters {

EffectJob prepareEffectJob(const EffectJobSpec& spec, const SettingsGroupRO* settingsRoot) {
    EffectJob job;
    job.effectId = EffectRegistry::find(spec.effect.trimmed());
    if (job.effectId < 0)
        throw EffectJobError(QStringLiteral("unknown effect '%1'").arg(spec.effect).toStdString());
    const EffectInfo* info = EffectRegistry::byId(job.effectId);
    job.params = EffectRegistry::createParams(job.effectId);
    job.renderer = EffectRegistry::createRenderer(job.effectId);
    if (!job.params || !job.renderer)
        throw EffectJobError(
            QStringLiteral("effect '%1' is not available yet").arg(info->shortName).toStdString());

    if (!spec.preset.isEmpty()) {
        PresetRecord preset;
        std::unique_ptr<SettingsGroupRO> group;
        if (settingsRoot)
            group =
                std::make_unique<SettingsGroupRO>(*settingsRoot, EffectRegistry::settingsGroup(job.effectId));
        if (!findPreset(job.effectId, spec.preset, preset, group.get()))
            throw EffectJobError(QStringLiteral("effect %1 has no preset '%2'")
                                     .arg(info->shortName, spec.preset)
                                     .toStdString());
        job.params->applyPreset(preset);
    }
    for (const auto& [key, value] : spec.overrides) {
        QString message, note;
        if (!job.params->setByKey(key, value, &message, &note))
            throw EffectJobError(QStringLiteral("%1 of %2").arg(message, info->shortName).toStdString());
        if (!note.isEmpty()) job.notes << note;
    }
    return job;
}

QString describeParams(const EffectJob& job) {
    QStringList parts;
    for (const FieldInfo& f : job.params->fieldInfos())
        if (f.settingsKey)
            parts << QStringLiteral("%1=%2").arg(f.settingsKey, job.params->valueText(f.settingsKey));
    const EffectInfo* info = EffectRegistry::byId(job.effectId);
    return QStringLiteral("%1: %2").arg(info ? info->shortName : "?", parts.join(QLatin1Char(' ')));
}

} // namespace Orvex::Document::Filters
