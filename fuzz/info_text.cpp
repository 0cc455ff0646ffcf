// The INFO parameter text of a run as it arrives from the master: refused or parsed, and what
// parses writes back and parses again to the same tree.
#include "oxf/OXF.h"

#include <cstdlib>
#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        const auto tree = Orvex::OXF::parseParameterText(text);
        const auto again = Orvex::OXF::parseParameterText(Orvex::OXF::writeParameterText(tree));
        if (again != tree) std::abort();
    } catch (const std::runtime_error&) {
    }
    return 0;
}
