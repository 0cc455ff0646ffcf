#pragma once
// The three-pass box-mixture Gaussian (see BoxGaussian.h) over a region of a tiled channel.
//
// The region is grown by three kernel radii on each side (clipped to the channel), so that what the
// region holds can spread out of it; that grown area is blurred as a whole, with samples beyond its
// border repeating the border sample, and written to the destination. A sigma <= 0 (or NaN) leaves its axis unfiltered; with
// both so the grown area is copied unchanged. Channels of type -1, -2 and -3 (destination and
// source of equal type and size); other input does nothing and returns an empty rectangle.

#include "datastorage/DataChannel.h"

namespace Orvex::Document::Filters::Common {

// Returns the area written (the grown region).
DataStorage::RectI boxGaussianBlurChannel(const DataStorage::DataChannel& source,
                                          DataStorage::DataChannel& destination,
                                          const DataStorage::RectI& region, double sigmaX, double sigmaY);

// The margin the blur adds on each side of a region for one sigma: three radii of the wider box.
int boxGaussianMargin(double sigma);

} // namespace Orvex::Document::Filters::Common
