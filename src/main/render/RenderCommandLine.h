#pragma once
// The command line of elemorama-render, read into a request without touching any file, so that
// every argument vector can be checked on its own (the tests and the fuzz target do).

#include "main/render/RenderJob.h"

#include <QString>
#include <QStringList>

namespace Orvex::Render {

struct RenderCommandLine {
    enum class Action { Render, Help, List };
    Action action = Action::Render;
    RenderRequest request; // complete for Action::Render
    bool quiet = false;    // no progress bar and no notes
    QString helpText;      // for Action::Help
};

// Reads `arguments` (element 0 the program's name). False with a one-line `error` for bad usage
// (exit code 2): unknown options, missing values, a missing or second input, no effect or output,
// malformed --set, --threads or --quality values.
bool parseRenderCommandLine(const QStringList& arguments, RenderCommandLine& out, QString& error);

} // namespace Orvex::Render
