#pragma once
// One effect applied without a window: the batch renderer's and the link's batch runs. Resolves an
// effect by name, a built-in or user preset by name and KEY=VALUE overrides into a last-run record,
// then renders it with the effect's renderer.

#include "document/filters/EffectRegistry.h"

#include <QPair>
#include <QStringList>

#include <stdexcept>

namespace Orvex {
class SettingsGroupRO;
}

namespace Orvex::Document::Filters {

// A request that cannot be served as asked (unknown effect, preset or key, unreadable value): the
// batch renderer answers it with exit code 2, the link with a failed run.
class EffectJobError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct EffectJobSpec {
    QString effect;
    QString preset;                           // empty: the effect's defaults
    QList<QPair<QString, QString>> overrides; // settings key (or member name), value text
};

struct EffectJob {
    int effectId = -1;
    std::unique_ptr<AnyParams> params;
    std::unique_ptr<EffectRenderer> renderer;
    QStringList notes; // values that were clamped, one line each
};

// `settingsRoot` is the group below which "Filters/<key>" holds the user presets (null: built-in
// presets only). Throws EffectJobError.
EffectJob prepareEffectJob(const EffectJobSpec& spec, const SettingsGroupRO* settingsRoot = nullptr);

// "Rain: density 5, length 12, ..." for messages and logs.
QString describeParams(const EffectJob& job);

} // namespace Orvex::Document::Filters
