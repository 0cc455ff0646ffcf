#pragma once
// The window-less run: taken when the run's parameter text has a top-level node `batch`. It pulls
// the host image with transparency and the host selection, hands them to the registered batch
// processor, and writes the host's channels of the result back (putHostChannels). Without a
// processor the image goes back unchanged.
//
// Plugging in processing (the effect engine does this at start-up, so that this module never
// depends on the effects):
//
//   Orvex::OXF::setBatchProcessor([](const Orvex::OXF::BatchInput& in) {
//       const auto& node = in.batch;             // the `batch` node: effect, preset, set { ... }
//       Ref<PixelPlane> result = in.source->clone();
//       ... render into result, honouring in.selection (may be null) ...
//       return result;                           // same size and channels as in.source
//   });
//
// The processor runs on the GUI thread; it may use the jobs pool. It throws a standard exception
// to fail the run (reply status 2 with its text) or silent_exception to cancel it (status 1).

#include "oxf/HostExchange.h"

#include <boost/property_tree/ptree.hpp>

#include <functional>

namespace Orvex::OXF {

struct BatchInput {
    // The host image in the document format (host colour channels in the host sample type, plus
    // channel 13 transparency, opaque when the host has none), tagged with DocumentProfile().
    Ref<PixelPlane> source;
    // The host selection over the whole image (one sample type of the host, 0 = not selected), or
    // none when the host has no selection: then the whole image is selected.
    Ref<DataChannel> selection;
    // Bounding box of the selected pixels (the image rectangle without a selection; empty when
    // the selection holds nothing).
    RectI selectionBox;
    const HostRequest& request;
    const boost::property_tree::ptree& params; // the whole parameter tree of the run
    const boost::property_tree::ptree& batch;  // its `batch` node (empty when there is none)
};

// Returns the result plane: the size of the source with any subset of its channels (the channels
// it leaves out are not written back). A null result writes the source back unchanged.
using BatchProcessor = std::function<Ref<PixelPlane>(const BatchInput& input)>;

void setBatchProcessor(BatchProcessor processor);
BatchProcessor batchProcessor();

// The window-less path of processImage; throws on failure.
void runBatch(const boost::property_tree::ptree& params);

} // namespace Orvex::OXF
