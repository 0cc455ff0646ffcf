#pragma once
// The non-separable blend modes Hue, Saturation, Color and Luminosity. They need the three colour
// channels of backdrop and source at once, so they have their own driver over channel triples; the
// compositing rule around the blend function is the one of the separable members.
//
// With Lum(C) = 0.3 R + 0.59 G + 0.11 B, SetLum moving a colour to a luminosity (and clipping it back
// into 0 ... 1 around that luminosity) and SetSat giving it a saturation (max - min):
//   Hue         SetLum(SetSat(Cs, Sat(Cb)), Lum(Cb))
//   Saturation  SetLum(SetSat(Cb, Sat(Cs)), Lum(Cb))
//   Color       SetLum(Cs, Lum(Cb))
//   Luminosity  SetLum(Cb, Lum(Cs))

#include "datastorage/BlendModes.h"

namespace Orvex::DataStorage {

// The blend function B(Cb, Cs) of a variant on one RGB triple (values 0 ... 1).
void hslBlendFunction(HslVariant variant, const float backdrop[3], const float source[3], float result[3]);

// Composites the source triple over the backdrop triple into the destination triple with `variant`
// and `opacity`, over `rect` (null: everything). Every channel is -1, -2 or -3 (types may differ);
// channels of another type or size, or an empty rectangle, do nothing. The destination may be the
// backdrop. Parallel over tiles; skips tiles whose source alpha is solid 0.
void applyHslBlend(HslVariant variant, float opacity, DataChannel* const destination[3],
                   const DataChannel* const backdrop[3], const DataChannel& backdropAlpha,
                   const DataChannel* const source[3], const DataChannel& sourceAlpha,
                   const RectI* rect = nullptr);

} // namespace Orvex::DataStorage
