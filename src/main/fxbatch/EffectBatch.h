#pragma once
// The effect engine behind the link's window-less runs: the run's `batch` node names the effect,
// optionally a preset, and a `set` node of settings keys with their values, e.g.
//
//   batch
//   {
//       effect Rain
//       preset "ORVEX Storm"
//       set
//       {
//           Den 8
//       }
//   }
//
// The effects drawn along lines take them in a `lines` node (`line "X1,Y1,X2,Y2"` entries in image
// pixels, or a trunk list file or built-in line set as its value), the rainbow its three points as
// `points "X0,Y0,X1,Y1,X2,Y2"` or a rainbow file:
//
//   batch
//   {
//       effect Aurora
//       lines
//       {
//           line "0,520,1200,470"
//       }
//   }
//
// The sun's placement goes in a `sun` node ("center", "radius", "angle" as the batch renderer's
// --sun-* options take them, "file" a sun file); without it the sun sits where a new document puts
// it:
//
//   batch
//   {
//       effect Sun
//       preset "ORVEX Sunset"
//       sun
//       {
//           center "70%,25%"
//           radius 40
//       }
//   }
//
// The effect is applied to the host image with the host selection (the whole image without one);
// for the night sky every selected pixel is a zone of stars and nebulas.

#include "oxf/BatchRun.h"

namespace Orvex::FxBatch {

// The processor for OXF::setBatchProcessor. Throws std::runtime_error with a one-line reason for
// an unknown effect, preset or key, or a failed render; a batch node without `effect` returns the
// image unchanged (null).
Ref<DataStorage::PixelPlane> processBatch(const OXF::BatchInput& input);

void install();

} // namespace Orvex::FxBatch
