#pragma once
// Orvex::DataStorage -- tiled image data.
//
// Principles
// - Ownership: channels (`DataChannel`) and planes (`PixelPlane`) are reference-counted; build them
//   with `makeRef<...>(...)` and pass `Ref<...>` around (copying one is an atomic increment). The
//   last release frees them and returns every tile share. Tiles (64 x 64 elements) are shared
//   copy-on-write between channels, and uniform tiles collapse to one process-wide pooled tile per
//   value, so a new channel of any size allocates no sample memory and copies of aligned areas copy
//   no samples.
// - Access: tile memory is only touched through the cursors `TileReadOnly` / `TileReadWrite`, or the
//   rectangle operations (`getData` / `setData` for a channel's own type, `tGetData` / `tSetData`
//   for a plane and an interleaved `PixelFormat`, `copyChannel`, `copyPlane`).
// - Threads: any thread may read and write; different jobs may use different tiles of one channel
//   at the same time, but two writers on one tile are not supported (split work by tiles:
//   `parallelForTiles`). The rectangle operations run on the jobs pool themselves.
// - Rectangles (`Orvex::Detail::RectT<int>`) exclude right and bottom; empty or inverted ones cover
//   nothing. Every operation clips to the channel or plane; out-of-range input is a quiet no-op.
// - Errors: a type of element size 0 throws std::runtime_error("DataChannel with element size = 0");
//   conversions between an opaque type and a sample type are refused (false, nothing written);
//   tile numbers outside the table give an empty cursor and a debug line in category "lib.ds".
// - Sample types: -1 u8, -2 u16, -3 float, -4 double (reals in 0 ... 1), n > 0 an opaque element of
//   n bytes. Conversions: see `convertSamples`.
//
// Typical effect code:
//   auto plane = makeRef<PixelPlane>(MaskRGBA, TypeU16, SizeI{w, h});
//   setData(*plane, plane->bounds(), rgba8Buffer, 0, PixelFormat::fromMask(MaskRGBA, TypeU8));
//   Ref<DataChannel> red = plane->writableChannel(ChannelRed);
//   parallelForTiles(red->size(), red->bounds(), [&](uint32_t tile, const RectI& area) {
//       TileReadWrite out(*red);
//       out.switchTo(tile);
//       for (int y = area.top; y < area.bottom; ++y) {
//           auto* row = reinterpret_cast<uint16_t*>(out.element(area.left, y));
//           for (int x = 0; x < area.width(); ++x) row[x] = 65535 - row[x];
//       }
//   });

#include "datastorage/DataChannel.h"
#include "datastorage/Logging.h"
#include "datastorage/PixelFormat.h"
#include "datastorage/PixelPlane.h"
#include "datastorage/RectT.h"
#include "datastorage/RefCounted.h"
#include "datastorage/SampleTypes.h"
#include "datastorage/Tile.h"
