#include "oxf/BatchRun.h"
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
    // The sizes come from the other process: refuse what no image can be, before allocating.
    if (request.width < 1 || request.height < 1 ||
        int64_t(request.width) * request.height > (int64_t(1) << 31))
        throw std::runtime_error("Run request with an invalid image size " + std::to_string(request.width) +
                                 " x " + std::to_string(request.height));
    if (hostSampleType() == 0)
        throw std::runtime_error("Run request with an unsupported sample size of " +
                                 std::to_string(int(request.bytesPerSample)) + " bytes");
    if (request.colorMode < ModeRGB || request.colorMode > ModeCMYK)
        throw std::runtime_error("Run request with an unknown colour mode " +
                                 std::to_string(int(request.colorMode)));

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
    if (!putPlane(*result, image)) throw std::runtime_error("Cannot write the image to the host");
}

} // namespace Orvex::OXF
