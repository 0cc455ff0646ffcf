#pragma once
// Orvex::GUI — the controls every effect panel is built from.
//
// Principles
// - Threads: every class here lives on the interface thread and is used only from it.
// - Ownership: widgets follow Qt's parent ownership; a control owns its child widgets and its
//   slider-to-value scale, which it replaces whenever its range changes.
// - Two grades of change: `valueChanged` while the user is still moving (throttled to about four a
//   second while dragging or typing) and `finalizedValue` once the change is complete. Effects run a
//   cheap preview on the first and the full run on the second. Programmatic `setValue` never emits
//   `finalizedValue`.
// - Errors: bad input from callers (ranges upside down or empty, non-finite reals, values outside the
//   range) is ordered, clamped or ignored; nothing here throws.
// - Geometry: rectangles are Qt's (QRect includes its right and bottom edge; painting code keeps that
//   in mind).

#include "gui/ColorButton.h"
#include "gui/ColorFraction.h"
#include "gui/OrvexSpinBox.h"
#include "gui/Param.h"
#include "gui/ParamSlider.h"
