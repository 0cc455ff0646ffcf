// The command line of `elemorama edit`: every argument vector gives options, help, or a usage
// error, and options name an input and an output and a timeout that is not negative.
#include "FuzzArgs.h"
#include "main/host/HostCommandLine.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    namespace H = Orvex::Host;
    const std::vector<std::string> args = fuzzArguments("elemorama", data, size);
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    H::HostOptions options;
    std::string error;
    if (!H::parseHostCommandLine(int(args.size()), argv.data(), options, error)) return 0;
    if (options.action == H::HostOptions::Action::Help) return 0;
    if (options.input.empty() || options.output.empty() || options.timeout < 0) std::abort();
    if (options.effect.empty() && (!options.preset.empty() || !options.overrides.empty())) std::abort();
    for (const auto& [key, value] : options.overrides)
        if (key.empty()) std::abort();
    return 0;
}
