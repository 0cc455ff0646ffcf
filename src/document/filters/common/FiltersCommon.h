#pragma once
// The effects' shared mathematics (library elemorama_filters_common, namespace
// Orvex::Document::Filters::Common). Every effect uses these and none keeps its own copy, so that
// the same arithmetic gives the same pixels everywhere.
//
//   Random.h             cLcgRandom (state * 214013 + 2531011, value (state >> 16) & 0x7FFF) and
//                        cShiftRegister20 (the 20-bit shift register of the frost crust)
//   BoxGaussian.h        three-pass box-mixture Gaussian over float buffers (boxGaussianBlur,
//                        BoxMixture, boxMixturePass)
//   ChannelBlur.h        the same blur over a grown region of a tiled channel
//                        (boxGaussianBlurChannel, boxGaussianMargin)
//   RecursiveGaussian.h  Young - van Vliet recursive Gaussian (recursiveGaussianBlur,
//                        recursiveGaussianLine, YoungVanVliet)
//   Noise.h              value-noise hash and 5 x 5 cubic interpolation (valueNoiseHash,
//                        cubicKernel, cubicValueNoise); 3-D gradient noise (cGradientNoise3)
//   ColorSpaces.h        sRGB <-> L*a*b* (D65) and lightness scaling; RGB <-> HSL and hue shift
//   Bilinear.h           bilinear sampling with position clamping to 0 ... size - 1.01
//   Parallel.h           forEachChunk: the blurs' chunked loop on the jobs pool
//
// Principles:
// - Buffers belong to the caller; the helpers keep no state beyond their arguments (the gradient
//   noise tables are built once and then only read). Generators are values: one per worker.
// - Every function may be called from any thread; the blurs spread their lines over workers and
//   return when all are done. Strides are in elements, rows run top to bottom.
// - Bad numbers never crash or hang: sigma <= 0, NaN or infinite leaves an axis unfiltered, NaN
//   positions sample at 0, non-finite colours come out as 0. Empty buffers do nothing.
// - Rectangles, where taken, exclude their right and bottom edges.

#include "document/filters/common/Bilinear.h"
#include "document/filters/common/BoxGaussian.h"
#include "document/filters/common/ChannelBlur.h"
#include "document/filters/common/ColorSpaces.h"
#include "document/filters/common/Noise.h"
#include "document/filters/common/Random.h"
#include "document/filters/common/RecursiveGaussian.h"
