#include "main/host/HostCommandLine.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace Orvex::Host {

const char* const Usage =
    "usage: elemorama edit IN -o OUT [--selection MASK] [--batch] [--effect NAME [--preset NAME]\n"
    "                               [--set KEY=VALUE]...] [--params FILE] [--timeout SECONDS]\n"
    "\n"
    "Opens IN (PNG, JPEG, TIFF, PPM/PGM), lets the effect process edit it and writes OUT (its type\n"
    "from its extension). MASK is an image of IN's size: its alpha, or its grey level, selects.\n"
    "  --batch          run without a window (adds a top-level `batch` node to the parameters)\n"
    "  --effect NAME    with --batch: apply this effect (Rain, Cumulus, ...; implies --batch)\n"
    "  --preset NAME    the effect's built-in or user preset\n"
    "  --set KEY=VALUE  a parameter by its settings key (repeatable), e.g. --set Den=8\n"
    "  --params FILE    parameter text (INFO format) sent with the run and printed back\n"
    "  --timeout S      give up when the effect process does not answer for S seconds\n"
    "                   (default: 600 with --batch, no limit otherwise)\n"
    "  --fx PATH        the effect process (default: elemorama-fx beside this program)\n"
    "Exit codes: 0 written, 1 cancelled, 2 failure.\n";

namespace {

// A whole decimal number of seconds, 0 to a day.
int timeoutSeconds(const std::string& text) {
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || end == text.c_str() || *end != '\0' || errno == ERANGE || value < 0 || value > 86400)
        throw std::runtime_error("--timeout expects seconds from 0 to 86400, not '" + text + "'");
    return int(value);
}

} // namespace

bool parseHostCommandLine(int argc, const char* const* argv, HostOptions& out, std::string& error) {
    out = HostOptions();
    error.clear();
    if (argc < 2 || !argv[1] || strcmp(argv[1], "edit") != 0) {
        if (argc >= 2 && argv[1] && (!strcmp(argv[1], "--help") || !strcmp(argv[1], "-h"))) {
            out.action = HostOptions::Action::Help;
            return true;
        }
        if (argc >= 2 && argv[1]) error = std::string("unknown command ") + argv[1];
        return false;
    }
    try {
        for (int i = 2; i < argc; ++i) {
            if (!argv[i]) continue;
            const std::string arg = argv[i];
            auto next = [&]() -> std::string {
                if (i + 1 >= argc || !argv[i + 1]) throw std::runtime_error(arg + " needs a value");
                return argv[++i];
            };
            if (arg == "-o" || arg == "--output")
                out.output = next();
            else if (arg == "--selection")
                out.selection = next();
            else if (arg == "--params")
                out.params = next();
            else if (arg == "--fx")
                out.fx = next();
            else if (arg == "--batch")
                out.batch = true;
            else if (arg == "--effect")
                out.effect = next(), out.batch = true;
            else if (arg == "--preset")
                out.preset = next();
            else if (arg == "--set") {
                const std::string assignment = next();
                const size_t at = assignment.find('=');
                if (at == 0 || at == std::string::npos)
                    throw std::runtime_error("--set expects KEY=VALUE, not " + assignment);
                out.overrides.emplace_back(assignment.substr(0, at), assignment.substr(at + 1));
            } else if (arg == "--timeout")
                out.timeout = timeoutSeconds(next());
            else if (!arg.empty() && arg[0] == '-')
                throw std::runtime_error("unknown option " + arg);
            else if (out.input.empty())
                out.input = arg;
            else
                throw std::runtime_error("more than one input file");
        }
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
    if (out.input.empty() || out.output.empty()) {
        error = out.input.empty() ? "no input file given" : "no output file given (-o)";
        return false;
    }
    if (out.effect.empty() && (!out.preset.empty() || !out.overrides.empty())) {
        error = "--preset and --set need --effect";
        return false;
    }
    if (out.timeout < 0) out.timeout = out.batch ? 600 : 0;
    return true;
}

} // namespace Orvex::Host
