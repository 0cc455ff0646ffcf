// elemorama: the stand-alone host. Loads an image file, starts the effect process beside this
// executable through a private data pad, lets it edit the image (window, or window-less with
// --batch) and writes the result atomically. The input file is never written.

#include "imageio/ImageIO.h"
#include "oxf/MasterSession.h"

#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace Orvex;

namespace {

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

pid_t g_child = 0;

void onSignal(int sig) {
    if (g_child > 0) kill(g_child, SIGKILL);
    signal(sig, SIG_DFL);
    raise(sig);
}

// A value as an INFO-format token: quoted, with quotes and backslashes escaped.
std::string infoQuoted(const std::string& value) {
    std::string out = "\"";
    for (char c : value) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

int fail(const std::string& text) {
    fprintf(stderr, "elemorama: %s\n", text.c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || strcmp(argv[1], "edit") != 0) {
        fputs(Usage, argc >= 2 && (!strcmp(argv[1], "--help") || !strcmp(argv[1], "-h")) ? stdout : stderr);
        return argc >= 2 && (!strcmp(argv[1], "--help") || !strcmp(argv[1], "-h")) ? 0 : 2;
    }
    std::string input, output, selectionPath, paramsPath, fx = OXF::effectProcessBesideSelf();
    std::string effect, preset;
    std::vector<std::pair<std::string, std::string>> overrides;
    bool batch = false;
    int timeout = -1;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) throw std::runtime_error(arg + " needs a value");
            return argv[++i];
        };
        try {
            if (arg == "-o" || arg == "--output")
                output = next();
            else if (arg == "--selection")
                selectionPath = next();
            else if (arg == "--params")
                paramsPath = next();
            else if (arg == "--fx")
                fx = next();
            else if (arg == "--batch")
                batch = true;
            else if (arg == "--effect")
                effect = next(), batch = true;
            else if (arg == "--preset")
                preset = next();
            else if (arg == "--set") {
                const std::string assignment = next();
                const size_t at = assignment.find('=');
                if (at == 0 || at == std::string::npos)
                    throw std::runtime_error("--set expects KEY=VALUE, not " + assignment);
                overrides.emplace_back(assignment.substr(0, at), assignment.substr(at + 1));
            } else if (arg == "--timeout")
                timeout = std::stoi(next());
            else if (!arg.empty() && arg[0] == '-')
                throw std::runtime_error("unknown option " + arg);
            else if (input.empty())
                input = arg;
            else
                throw std::runtime_error("more than one input file");
        } catch (const std::exception& e) {
            fprintf(stderr, "elemorama: %s\n%s", e.what(), Usage);
            return 2;
        }
    }
    if (input.empty() || output.empty()) {
        fputs(Usage, stderr);
        return 2;
    }
    if (timeout < 0) timeout = batch ? 600 : 0;
    const QString in = QString::fromLocal8Bit(input.c_str()), out = QString::fromLocal8Bit(output.c_str());
    if (QFileInfo::exists(out) && QFileInfo(out).canonicalFilePath() == QFileInfo(in).canonicalFilePath())
        return fail("the output would overwrite the input; choose another file");
    if (ImageIO::formatForName(out) == ImageIO::FileFormat::Unknown)
        return fail("unknown output type for " + output + "; use .png, .jpg, .tif, .ppm or .pgm");

    try {
        ImageIO::ImageRecord image = ImageIO::loadImage(in);
        ImageIO::ImageRecord selection;
        if (!selectionPath.empty()) {
            selection =
                ImageIO::toSelectionMask(ImageIO::loadImage(QString::fromLocal8Bit(selectionPath.c_str())));
            if (selection.width != image.width || selection.height != image.height)
                return fail("the selection " + selectionPath + " is not the size of the image");
        }
        std::string params;
        if (!paramsPath.empty()) {
            QFile file(QString::fromLocal8Bit(paramsPath.c_str()));
            if (!file.open(QIODevice::ReadOnly)) return fail("cannot read " + paramsPath);
            params = file.readAll().toStdString();
        }
        if (!effect.empty()) {
            // The batch node of the effect engine: effect, preset and the settings keys to set.
            std::string node = "batch\n{\n    effect " + infoQuoted(effect) + "\n";
            if (!preset.empty()) node += "    preset " + infoQuoted(preset) + "\n";
            if (!overrides.empty()) {
                node += "    set\n    {\n";
                for (const auto& [key, value] : overrides)
                    node += "        " + infoQuoted(key) + " " + infoQuoted(value) + "\n";
                node += "    }\n";
            }
            params = node + "}\n" + params;
        } else if (!preset.empty() || !overrides.empty()) {
            return fail("--preset and --set need --effect");
        }
        if (batch && params.find("batch") == std::string::npos) params = "batch\n" + params;

        signal(SIGINT, onSignal);
        signal(SIGTERM, onSignal);
        signal(SIGHUP, onSignal);
        if (access(fx.c_str(), X_OK) != 0) return fail("the effect process " + fx + " is missing");
        OXF::MasterSession session(fx);
        g_child = session.childPid();
        OXF::MasterRun run;
        run.image = &image;
        run.selection = selectionPath.empty() ? nullptr : &selection;
        run.params = params;
        run.fileName = QFileInfo(in).fileName().toStdString();
        run.timeoutSeconds = timeout;
        const OXF::MasterReply reply = session.run(run);
        const int code = session.quit();
        g_child = 0;
        if (code != 0) fprintf(stderr, "elemorama: note: the effect process ended with exit code %d\n", code);
        if (reply.status == 1) {
            fprintf(stderr, "elemorama: cancelled; %s left as it was\n", output.c_str());
            return 1;
        }
        if (reply.status != 0)
            return fail("the effect failed: " + (reply.error.empty() ? "no reason given" : reply.error));
        ImageIO::saveImage(image, out);
        if (!reply.params.empty()) fwrite(reply.params.data(), 1, reply.params.size(), stdout);
        return 0;
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}
