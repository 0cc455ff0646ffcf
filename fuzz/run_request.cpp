// A run request as the effect process takes it from the pad: the payload is split into header,
// file name, profile and parameter text, the plug-in name and the image's sizes are checked and
// the text parsed and written back as the reply would carry it.
#include "oxf/LinkMessages.h"

#include <cstdlib>
#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    namespace OXF = Orvex::OXF;
    OXF::RunRequest request;
    std::string error;
    if (!OXF::parseRunRequest(data, size, request, error)) {
        if (error.empty()) std::abort();
        return 0;
    }
    const OXF::HostRequest& h = request.header;
    if (request.fileName.size() != h.fileNameLength || request.profile.size() != h.profileLength ||
        request.paramText.size() != h.paramLength)
        std::abort();
    (void)OXF::pluginNameMatches(h);
    if (!OXF::runRequestProblem(h).empty()) return 0;
    try {
        const auto tree = OXF::parseParameterText(request.paramText);
        if (!tree.empty()) (void)OXF::writeParameterText(tree);
    } catch (const std::runtime_error&) {
    }
    return 0;
}
