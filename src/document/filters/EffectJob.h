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

// The sun's placement as texts from a command line or a batch node; empty texts leave the value to
// the sun file, and without one to the placement of a new document (centre (m/8, m/8), radius m/40
// for m the shorter side).
struct SunPlacement {
    QString center; // "X,Y" in pixels, or "X%,Y%" of the width and height
    QString radius; // pixels, or "R%" of the shorter side
    QString angle;  // degrees, clockwise on the picture (y points down)
    QString file;   // a sun file
    bool isEmpty() const { return center.isEmpty() && radius.isEmpty() && angle.isEmpty() && file.isEmpty(); }
};

struct EffectJobSpec {
    QString effect;
    QString preset;                           // empty: the effect's defaults
    QList<QPair<QString, QString>> overrides; // settings key (or member name), value text
    SunPlacement sun;                         // the Sun effect only
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

// Settles what depends on the picture's size once it is known: the sun's placement (the request's
// texts over the sun file over the `--set` members over the new document's placement). Throws
// EffectJobError for unreadable texts, a damaged sun file, or a placement given to another effect;
// `notes` receives values that were cut to the picture.
void placeForImage(EffectJob& job, const EffectJobSpec& spec, int width, int height,
                   QStringList* notes = nullptr);

// "Rain: density 5, length 12, ..." for messages and logs.
QString describeParams(const EffectJob& job);

} // namespace Orvex::Document::Filters
