// Preset files (preset_list) as the import reads them: each preset read is applied to the effect's
// record and clamped, turned into the settings store's one-line form and back, and the list is
// written as an export would write it. What an export writes, read and written again, gives the
// same file.
#include "document/filters/PresetFile.h"

#include <QBuffer>

#include <cstdlib>

namespace {

using namespace Orvex::Document::Filters;

QByteArray exported(const PresetList& presets, int effectId) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!PresetFileWriter().write(&buffer, presets, effectId)) std::abort();
    return bytes;
}

bool imported(const QByteArray& bytes, PresetList& presets, int& effectId) {
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    return PresetFileReader().read(&buffer, presets, effectId);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PresetList presets;
    int effectId = -1;
    if (!imported(QByteArray(reinterpret_cast<const char*>(data), int(size)), presets, effectId)) return 0;
    for (const PresetRecord& preset : presets) {
        if (auto params = EffectRegistry::createParams(effectId)) {
            params->applyPreset(preset);
            params->clamp();
            (void)params->toPreset(preset.name);
        }
        PresetRecord back;
        (void)presetFromText(presetToText(preset), back);
    }
    const QByteArray first = exported(presets, effectId);
    PresetList again;
    int againId = -1;
    if (!imported(first, again, againId) || againId != effectId) std::abort();
    if (exported(again, againId) != first) std::abort();
    return 0;
}
