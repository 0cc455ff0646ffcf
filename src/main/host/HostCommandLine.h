#pragma once
// The command line of `elemorama edit`, read into options without touching any file, so that every
// argument vector can be checked on its own (the tests and the fuzz target do).

#include <string>
#include <utility>
#include <vector>

namespace Orvex::Host {

extern const char* const Usage;

struct HostOptions {
    enum class Action { Edit, Help };
    Action action = Action::Edit;
    std::string input, output, selection, params;
    std::string fx; // empty: the effect process beside this program
    std::string effect, preset;
    std::vector<std::pair<std::string, std::string>> overrides;
    bool batch = false;
    int timeout = -1; // seconds; -1: 600 with --batch, no limit otherwise
};

// Reads argv[0 .. argc) ("elemorama", "edit", ...). False with `error` for bad usage (exit code
// 2): no "edit" command, an unknown option, a missing or malformed value, a missing or second
// input, no output, --preset or --set without --effect. An empty `error` with false means the
// usage text alone is the answer (no command at all).
bool parseHostCommandLine(int argc, const char* const* argv, HostOptions& out, std::string& error);

} // namespace Orvex::Host
