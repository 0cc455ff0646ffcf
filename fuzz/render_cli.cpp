// The command line of elemorama-render: every argument vector gives a request, help, the list, or
// a usage error, and a request's thread count and JPEG quality are in range.
#include "FuzzArgs.h"
#include "main/render/RenderCommandLine.h"

#include <QCoreApplication>

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // The help text names the program through the application object.
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    namespace R = Orvex::Render;
    QStringList arguments;
    for (const std::string& a : fuzzArguments("elemorama-render", data, size))
        arguments << QString::fromLocal8Bit(a.data(), int(a.size()));
    R::RenderCommandLine commandLine;
    QString error;
    if (!R::parseRenderCommandLine(arguments, commandLine, error)) {
        if (error.isEmpty()) std::abort();
        return 0;
    }
    if (commandLine.action == R::RenderCommandLine::Action::Help && commandLine.helpText.isEmpty())
        std::abort();
    if (commandLine.action != R::RenderCommandLine::Action::Render) return 0;
    const R::RenderRequest& request = commandLine.request;
    if (request.threads < 0 || request.jpegQuality < 1 || request.jpegQuality > 100) std::abort();
    return 0;
}
