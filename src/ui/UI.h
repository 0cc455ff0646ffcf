#pragma once
// Orvex UI — the effect window's dialogs and widgets.
//
// Principles
// - Threads: interface thread only. The progress bar reads a `ProgressData` that work threads
//   update; it only polls the record's atomics and writes its display range into it.
// - Ownership: dialogs live while they are shown; widgets follow Qt's parent ownership; the
//   progress record belongs to the job owner and must outlive the bar that shows it (or be taken
//   away with `setProgress(nullptr)` first).
// - Settings: read and written through a settings group view handed in by the window (during a run
//   the application's group below the run's prefix); every read has an explicit default, and a
//   stored value of the wrong kind (text where a number belongs) reads as that default.
// - Errors: nothing here throws.

#include "ui/EvalProgressBar.h"
#include "ui/OptionsUI.h"
#include "ui/PresetsUI.h"
