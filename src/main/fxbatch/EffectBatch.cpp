#include "main/fxbatch/EffectBatch.h"

#include "app/OrvexApplication.h"
#include "document/filters/EffectRegistry.h"
#include "main/render/RenderJob.h"
#include "settings/Settings.h"
#include "settings/SettingsGroup.h"

#include <QSettings>

#include <malloc.h>

namespace Orvex::FxBatch {

using namespace Orvex::Document::Filters;

namespace {

ImageIO::ColorModel modelOf(int8_t colorMode) {
    switch (colorMode) {
    case OXF::ModeGrey:
        return ImageIO::ColorModel::Grey;
    case OXF::ModeCMYK:
        return ImageIO::ColorModel::CMYK;
    case OXF::ModeLab:
        return ImageIO::ColorModel::Lab;
    default:
        return ImageIO::ColorModel::RGB;
    }
}

QString text(const std::string& s) {
    return QString::fromStdString(s).trimmed();
}

// The lines and points of the node: `lines` holds `line` entries "X1,Y1,X2,Y2" (and may name a
// trunk list file or a built-in line set as its value), `points` the rainbow's six numbers.
template <class Node> Render::RenderGeometry geometryOf(const Node& node) {
    Render::RenderGeometry geometry;
    if (const auto lines = node.get_child_optional("lines")) {
        geometry.linesFile = text(lines->data());
        for (const auto& [key, value] : *lines)
            if (key == "line") geometry.lines << text(value.data());
    }
    geometry.points = text(node.template get<std::string>("points", ""));
    return geometry;
}

// `last`: the effect the window applied last and the values it kept for it in the settings
// store, so that a host's "repeat last" reruns what the user chose without a window.
void lastFromWindow(EffectJobSpec& spec) {
    OrvexApplication* app = OrvexApplication::instance();
    if (!app) throw std::runtime_error("No settings store to take the last values from");
    const SettingsGroupRW settings = app->settingsGroup();
    const int id = settings.value(QStringLiteral("Effect"), -1).toInt();
    const EffectInfo* info = EffectRegistry::byId(id);
    if (!info || !EffectRegistry::hasRenderer(id))
        throw std::runtime_error("There are no last values yet: apply an effect from the window first");
    spec.effect = QString::fromLatin1(info->shortName);
    const SettingsGroupRW values = app->settingsGroup(EffectRegistry::settingsGroup(id));
    for (const FieldInfo& field : EffectRegistry::fields(id)) {
        if (!field.settingsKey) continue;
        const QString key = QString::fromLatin1(field.settingsKey);
        if (values.contains(key)) spec.overrides.push_back({key, values.value(key).toString()});
    }
}

} // namespace

Ref<DataStorage::PixelPlane> processBatch(const OXF::BatchInput& input) {
    const auto& node = input.batch;
    EffectJobSpec spec;
    spec.effect = text(node.get<std::string>("effect", ""));
    if (spec.effect.isEmpty() && node.get_child_optional("last")) lastFromWindow(spec);
    if (spec.effect.isEmpty()) return {};
    // The heap keeps what runs free (the effect process is told to, for the tiles' sake); between
    // two effect runs that memory goes back to the system, so that a process serving a long session
    // of runs holds what the current run needs, not the sum of every layout that came before.
    malloc_trim(0);
    spec.preset = text(node.get<std::string>("preset", ""));
    if (const auto set = node.get_child_optional("set"))
        for (const auto& [key, value] : *set) spec.overrides.push_back({text(key), text(value.data())});
    if (const auto sun = node.get_child_optional("sun")) {
        spec.sun.center = text(sun->get<std::string>("center", ""));
        spec.sun.radius = text(sun->get<std::string>("radius", ""));
        spec.sun.angle = text(sun->get<std::string>("angle", ""));
        spec.sun.file = text(sun->get<std::string>("file", ""));
    }

    QSettings qsettings(QStringLiteral("ORVEX"), QStringLiteral("Elemorama"));
    TSettings<QSettings> store(&qsettings);
    const SettingsGroupRO root(&store, QStringLiteral("Filters/OXF/Elemorama"));
    std::vector<uint8_t> icc;
    if (const CMM::ProfilePtr profile = OXF::DocumentProfile()) {
        const QByteArray bytes = profile->iccBytes();
        icc.assign(bytes.begin(), bytes.end());
    }
    Render::RenderHooks hooks;
    hooks.note = [](const QString& note) { qWarning("batch: %s", qPrintable(note)); };
    try {
        return Render::renderHostPlane(*input.source, modelOf(input.request.colorMode), icc,
                                       input.selection.get(), spec, &root, hooks, geometryOf(node));
    } catch (const EffectJobError& e) {
        throw std::runtime_error(e.what());
    }
}

void install() {
    OXF::setBatchProcessor(processBatch);
}

} // namespace Orvex::FxBatch
