#include "document/filters/EffectJob.h"

#include "document/filters/PresetFile.h"
#include "document/filters/sun/SunFile.h"
#include "settings/SettingsGroup.h"

#include <algorithm>
#include <cmath>

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

namespace {

// A number, or with a trailing '%' a share of `whole`; false for anything else or a non-finite value.
bool lengthFromText(QString text, double whole, double& value) {
    text = text.trimmed();
    const bool percent = text.endsWith(QLatin1Char('%'));
    if (percent) text.chop(1);
    bool ok = false;
    value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value)) return false;
    if (percent) value = value / 100.0 * whole;
    return true;
}

} // namespace

void placeForImage(EffectJob& job, const EffectJobSpec& spec, int width, int height, QStringList* notes) {
    auto* sun = dynamic_cast<TypedParams<SunParams>*>(job.params.get());
    if (!sun) {
        if (!spec.sun.isEmpty()) throw EffectJobError("the sun's placement applies to the Sun effect only");
        return;
    }
    SunParams& p = sun->record;
    // What `--set` gave stays, the rest is the new document's placement.
    auto given = [&](const char* member) {
        for (const auto& o : spec.overrides)
            if (o.first.trimmed() == QLatin1String(member)) return true;
        return false;
    };
    SunParams placed = p;
    placed.placeDefault(width, height);
    if (!given("centerX")) p.centerX = placed.centerX;
    if (!given("centerY")) p.centerY = placed.centerY;
    if (!given("radius")) p.radius = placed.radius;
    if (!spec.sun.file.isEmpty()) {
        QString error;
        if (!loadSunFile(spec.sun.file, width, height, p, &error))
            throw EffectJobError(error.replace(QLatin1Char('\n'), QLatin1String(": ")).toStdString());
    }
    if (!spec.sun.center.isEmpty()) {
        const QStringList xy = spec.sun.center.split(QLatin1Char(','));
        double x = 0, y = 0;
        if (xy.size() != 2 || !lengthFromText(xy[0], width, x) || !lengthFromText(xy[1], height, y))
            throw EffectJobError(QStringLiteral("the sun's centre must be X,Y (pixels or percent), not '%1'")
                                     .arg(spec.sun.center)
                                     .toStdString());
        const double cx = std::clamp(x, 0.0, double(width)), cy = std::clamp(y, 0.0, double(height));
        if ((cx != x || cy != y) && notes)
            *notes << QStringLiteral("sun centre %1 lies outside the picture, moved to its edge (%2,%3)")
                          .arg(spec.sun.center)
                          .arg(std::lround(cx))
                          .arg(std::lround(cy));
        p.centerX = int(std::lround(cx));
        p.centerY = int(std::lround(cy));
    }
    if (!spec.sun.radius.isEmpty()) {
        double r = 0;
        if (!lengthFromText(spec.sun.radius, std::min(width, height), r) || r <= 0)
            throw EffectJobError(QStringLiteral("the sun's radius must be a positive length, not '%1'")
                                     .arg(spec.sun.radius)
                                     .toStdString());
        if (r > 100000 && notes)
            *notes << QStringLiteral("sun radius %1 is out of range, cut to 100000").arg(r);
        p.radius = float(std::clamp(r, 1.0, 100000.0));
    }
    if (!spec.sun.angle.isEmpty()) {
        double degrees = 0;
        if (!lengthFromText(spec.sun.angle, 360.0, degrees) || spec.sun.angle.contains(QLatin1Char('%')))
            throw EffectJobError(QStringLiteral("the sun's angle must be in degrees, not '%1'")
                                     .arg(spec.sun.angle)
                                     .toStdString());
        p.angle = float(std::remainder(degrees, 360.0) * 3.14159265358979323846 / 180.0);
    }
    p.clampToImage(width, height);
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
