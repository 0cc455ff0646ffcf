#pragma once
// Host image exchange: the host's channels and selection pulled into DataChannels and written back
// through the current broker, in stripes of about one data block. Runs on the GUI thread, during a
// run only (between M2S_Run and S2M_Done). Rectangles are in host image coordinates and exclude
// right and bottom; they are clipped to the host image.
//
// Channel identifiers are those of the planes (1 grey; 2-4 RGB; 5-8 CMYK; 9-11 Lab; 13 and 14
// transparency; 15 the selection mask); channel_ds2oxf maps them to the master's codes.

#include "cmm/CMM.h"
#include "datastorage/DataStorage.h"
#include "oxf/OXF.h"

#include <QString>

namespace Orvex::OXF {

using DataStorage::DataChannel;
using DataStorage::PixelFormat;
using DataStorage::PixelPlane;
using RectI = Detail::RectT<int>;

constexpr int ChannelSecondAlpha = 14;
constexpr int ChannelSelection = 15;

int channel_ds2oxf(int identifier); // 0 (logged) for identifiers without a host code

// The host's values for the current run.
RectI hostImageRect();
int hostSampleType(); // -1, -2, -3, or 0 for an unknown size
bool hostHasTransparency();
bool hostHasSelection();
QString hostFileName();

// Stripe height for rows of `rowBytes` bytes: capacity / rowBytes, at least 64, rounded up to a
// multiple of 64, at most `height`.
int stripeHeight(size_t rowBytes, int height);

// Pulls channel `channel` of `rect` into `out` (a new channel of the clipped size; converted to
// out's type when `out` already holds a channel of another type). False on an empty rectangle, an
// unknown sample size or a failed transfer.
bool getChannel(Ref<DataChannel>& out, int channel, const RectI& rect);
// Writes `source` (its top-left at rect's top-left) to channel `channel` of the host.
bool putChannel(const DataChannel& source, int channel, const RectI& rect);
// Pulls the selection of `rect`. `outHostMaskRect` becomes the bounding box of the selected pixels
// in host coordinates (empty for an empty selection); with `resize` the mask is cut to that box.
// False when the host has no selection or the transfer fails.
bool getMask(Ref<DataChannel>& mask, const RectI& rect, RectI& outHostMaskRect, bool resize);
// The smallest rectangle containing `startBox` and every non-zero sample of `channel` in `scan`.
RectI boundBox(const DataChannel& channel, const RectI& scan, const RectI& startBox);

// The document pixel format: the host's colour channels (plus transparency when asked for or when
// the host has it) in the host's sample type.
PixelFormat dsChannelType(bool withAlpha);
// A plane of the document format over the clipped rectangle, tagged with the document profile.
bool getPlane(Ref<PixelPlane>& plane, const RectI& rect, bool withAlpha);
// Writes every channel of `plane` (ascending identifiers) to `rect` of the host.
bool putPlane(const PixelPlane& plane, const RectI& rect);

// The document's colour profile: the run's ICC profile when it suits the colour mode and is not a
// generic one, else the built-in profile of the mode; none for an RGB document without a profile.
// Computed once per run.
CMM::ProfilePtr DocumentProfile();
void resetDocumentProfile(); // at the start of every run

// The profile a plane from getPlane is tagged with (its attachment).
CMM::ProfilePtr planeProfile(const PixelPlane& plane);

} // namespace Orvex::OXF
