#pragma once
// Images and host planes to the effects' working planes and back. The effects work on RGB(A) in
// the image's own sample type; grey, CMYK and Lab go through the colour-management layer to RGB and
// back, and pixels the effect left unchanged keep their original samples exactly. Shared by the
// batch renderer, the stand-alone host and the effect window.

#include "datastorage/DataChannel.h"
#include "datastorage/PixelPlane.h"
#include "imageio/ImageIO.h"

#include <vector>

namespace Orvex::ImageIO {

using DataStorage::DataChannel;
using DataStorage::PixelPlane;

// The image as an RGB plane (alpha when the image has one) of the image's sample type.
Ref<PixelPlane> planeFromImage(const ImageRecord& image);
// The plane back in the model and sample type of `original`; pixels equal in `source` and `result`
// keep the original's samples.
ImageRecord imageFromPlane(const PixelPlane& result, const PixelPlane& source, const ImageRecord& original);
// An 8-bit selection of width x height from any image (alpha, grey or luminance), resampled
// smoothly when its size differs. Throws std::runtime_error when it cannot be resampled.
Ref<DataChannel> selectionFromImage(const ImageRecord& mask, int width, int height);
// The whole image selected.
Ref<DataChannel> fullSelection(int width, int height);
// Converts the record so that the file format can hold it (JPEG: 8-bit without alpha; PNG and PPM:
// no float; PPM: no alpha). Returns what was changed, empty when nothing.
QString adaptForFormat(ImageRecord& image, FileFormat format);

// The channels of a colour model (grey 1, RGB 2-4, CMYK 5-8, Lab 9-11), without alpha.
uint32_t modelChannelMask(ColorModel model);
// A host plane (the model's channels, optional alpha 13, one sample type) as an image record, so
// that every colour model takes the road files take. Throws std::runtime_error for mixed types.
ImageRecord imageFromHostPlane(const PixelPlane& host, ColorModel model, const std::vector<uint8_t>& icc);
// The record as a plane with the channels of `host` (alpha added when the record has it).
Ref<PixelPlane> hostPlaneFromImage(const ImageRecord& image, const PixelPlane& host);
// An 8-bit copy of a selection of any sample type (any selected sample, however faint, stays
// selected); the whole image when there is none.
Ref<DataChannel> selectionBytes(const DataChannel* selection, int width, int height);

} // namespace Orvex::ImageIO
