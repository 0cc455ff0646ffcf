// elemorama: the stand-alone host. Loads an image file, starts the effect process beside this
// executable through a private data pad, lets it edit the image (window, or window-less with
// --batch) and writes the result atomically. The input file is never written.

#include "imageio/ImageIO.h"
#include "main/host/HostCommandLine.h"
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
    Host::HostOptions options;
    std::string usageError;
    if (!Host::parseHostCommandLine(argc, argv, options, usageError)) {
        if (!usageError.empty()) fprintf(stderr, "elemorama: %s\n", usageError.c_str());
        fputs(Host::Usage, stderr);
        return 2;
    }
    if (options.action == Host::HostOptions::Action::Help) {
        fputs(Host::Usage, stdout);
        return 0;
    }
    const std::string& input = options.input;
    const std::string& output = options.output;
    const std::string& selectionPath = options.selection;
    const std::string& paramsPath = options.params;
    const std::string& effect = options.effect;
    const std::string& preset = options.preset;
    const auto& overrides = options.overrides;
    const bool batch = options.batch;
    const int timeout = options.timeout;
    const std::string fx = options.fx.empty() ? OXF::effectProcessBesideSelf() : options.fx;
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
