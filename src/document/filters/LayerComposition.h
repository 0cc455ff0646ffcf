#pragma once
// The layer composition of the effects: an effect layer (red, green, blue and alpha channels of one
// sample type, the image's size) composed over the result plane inside a rectangle with a blend
// function and an opacity, through the blend members of the combiners. The colour channels are
// blended first, against the result's alpha as it was, then the alpha channel is composed
// (alpha_blend); a result without alpha counts as opaque and stays without alpha.
//
// An optional selection (8-bit, the image's size) limits the layer: its alpha is multiplied by the
// selection first. Tiles are spread over the jobs pool by the combiners' driver; the result is the
// same whatever the worker count. Throws std::invalid_argument for planes that do not fit.

#include "datastorage/BlendModes.h"
#include "datastorage/PixelPlane.h"

namespace Orvex::Document::Filters {

void composeLayer(DataStorage::PixelPlane& result, const DataStorage::PixelPlane& layer,
                  const ::Orvex::Detail::RectT<int>& rect, DataStorage::BlendFunction function, float opacity,
                  const DataStorage::DataChannel* selection = nullptr);

// Whether every sample of the 8-bit `mask` inside `rect` is 255 (solid tiles are answered without
// reading them), so that composing through it would change nothing.
bool fullySelected(const DataStorage::DataChannel& mask, const ::Orvex::Detail::RectT<int>& rect);

} // namespace Orvex::Document::Filters
