#include "oxf/BatchRun.h"
#include "oxf/InteractiveRun.h"
#include "oxf/LinkLog.h"

namespace Orvex::OXF {

namespace {
BatchProcessor g_processor;
} // namespace

void setBatchProcessor(BatchProcessor processor) {
    g_processor = std::move(processor);
}
BatchProcessor batchProcessor() {
    return g_processor;
}

void runBatch(const boost::property_tree::ptree& params) {
    const HostRequest& request = hostRequest();
    checkRunRequest(request);

    const RectI image = hostImageRect();
    Ref<PixelPlane> source;
    if (!getPlane(source, image, true)) throw std::runtime_error("Cannot read the image from the host");
    Ref<DataChannel> selection;
    RectI selectionBox = image;
    if (hostHasSelection() && !getMask(selection, image, selectionBox, false))
        throw std::runtime_error("Cannot read the selection from the host");

    static const boost::property_tree::ptree empty;
    const auto batchNode = params.find("batch");
    const BatchInput input{source,  selection, selectionBox,
                           request, params,    batchNode == params.not_found() ? empty : batchNode->second};
    Ref<PixelPlane> result = g_processor ? g_processor(input) : Ref<PixelPlane>();
    if (!result) result = source;
    if (result->size() != source->size()) throw std::runtime_error("The batch result has the wrong size");
    if (!putHostChannels(*result, image)) throw std::runtime_error("Cannot write the image to the host");
}

} // namespace Orvex::OXF
