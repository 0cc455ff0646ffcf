#pragma once
// The effect window behind the link's interactive runs: the loaded host plane becomes the window's
// RGBA working plane (grey, CMYK and Lab through the colour-management layer), the host selection
// its mask, and Apply turns the window's result back into the host's channels and writes them.

#include "oxf/InteractiveRun.h"

namespace Orvex::FxWindow {

// The runner for OXF::setWindowRunner: shows the window and runs it until it closes or the link
// ends the run; returns the window's result code.
int16_t runWindow(OXF::InteractiveRun& run);

void install();

} // namespace Orvex::FxWindow
