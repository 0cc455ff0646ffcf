#pragma once
// The effect window behind the link's interactive runs: the loaded host plane becomes the window's
// RGBA working plane (grey, CMYK and Lab through the colour-management layer), the host selection
// its mask, and Apply turns the window's result back into the host's channels and writes them.

#include "oxf/InteractiveRun.h"

#include <functional>

namespace Orvex::UI {
class PluginUI;
}

namespace Orvex::FxWindow {

// The runner for OXF::setWindowRunner: shows the window and runs it until it closes or the link
// ends the run; returns the window's result code. `shown` runs once the window is on screen
// (scripted sessions drive it from there).
int16_t runWindow(OXF::InteractiveRun& run, const std::function<void(UI::PluginUI&)>& shown = {});

void install();

} // namespace Orvex::FxWindow
