// elemorama-render: applies one effect to an image file, headless.
#include "document/filters/PresetFile.h"
#include "main/render/RenderCommandLine.h"
#include "main/render/RenderJob.h"
#include "settings/Settings.h"
#include "settings/SettingsGroup.h"

#include <QCoreApplication>
#include <QSettings>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <unistd.h>

using namespace Orvex;
using namespace Orvex::Document::Filters;

namespace {

std::atomic<bool> g_cancel{false};

void onSignal(int) {
    g_cancel = true;
}

int fail(int code, const QString& reason) {
    std::fprintf(stderr, "elemorama-render: %s\n", qPrintable(reason));
    return code;
}

void listEffects(const SettingsGroupRO& root) {
    for (const EffectInfo& e : EffectRegistry::all()) {
        const bool available = EffectRegistry::hasRenderer(e.id);
        std::printf("%s%s\n", e.shortName, available ? "" : "  (not available yet)");
        if (!EffectRegistry::createParams(e.id)) continue;
        std::printf("  parameters:");
        for (const FieldInfo& f : EffectRegistry::fields(e.id))
            if (f.settingsKey) {
                if (f.hasRange())
                    std::printf(" %s=%g..%g", f.settingsKey, f.minValue, f.maxValue);
                else
                    std::printf(" %s", f.settingsKey);
            }
        std::printf("\n");
        for (const PresetRecord& p : builtInPresets(e.id))
            std::printf("  preset \"%s\"\n", qPrintable(p.name));
        const SettingsGroupRO group(root, EffectRegistry::settingsGroup(e.id));
        for (const PresetRecord& p : readUserPresets(group, e.id))
            std::printf("  user preset \"%s\"\n", qPrintable(p.name));
    }
}

void drawBar(double fraction) {
    const int width = 40;
    const int filled = int(fraction * width + 0.5);
    std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(size_t(filled), '#').c_str(),
                 std::string(size_t(width - filled), ' ').c_str(), int(fraction * 100 + 0.5));
    std::fflush(stderr);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("elemorama-render"));
    Render::RenderCommandLine commandLine;
    QString usageError;
    if (!Render::parseRenderCommandLine(QCoreApplication::arguments(), commandLine, usageError))
        return fail(2, usageError);
    if (commandLine.action == Render::RenderCommandLine::Action::Help) {
        std::printf("%s", qPrintable(commandLine.helpText));
        return 0;
    }
    if (commandLine.action == Render::RenderCommandLine::Action::List) {
        QSettings qsettings(QStringLiteral("ORVEX"), QStringLiteral("Elemorama"));
        TSettings<QSettings> store(&qsettings);
        listEffects(SettingsGroupRO(&store, QStringLiteral("Filters/OXF/Elemorama")));
        return 0;
    }
    const Render::RenderRequest& request = commandLine.request;

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    const bool chatty = !commandLine.quiet;
    const bool bar = chatty && isatty(STDERR_FILENO);
    Render::RenderHooks hooks;
    hooks.cancel = &g_cancel;
    bool barShown = false;
    int ticks = 0;
    if (bar)
        hooks.progress = [&](double fraction) {
            // Quick runs stay silent; the bar appears once a run takes longer than about half a second.
            if (++ticks < 5 && fraction < 1.0) return;
            if (!barShown && fraction >= 1.0) return;
            barShown = true;
            drawBar(fraction);
        };
    if (chatty)
        hooks.note = [](const QString& note) {
            std::fprintf(stderr, "elemorama-render: note: %s\n", qPrintable(note));
        };
    try {
        Render::runRender(request, hooks);
    } catch (const EffectJobError& e) {
        if (barShown) std::fprintf(stderr, "\n");
        return fail(2, QString::fromUtf8(e.what()));
    } catch (const std::bad_alloc&) {
        if (barShown) std::fprintf(stderr, "\n");
        return fail(1, "out of memory");
    } catch (const std::exception& e) {
        if (barShown) std::fprintf(stderr, "\n");
        return fail(1, QString::fromUtf8(e.what()));
    }
    if (barShown) std::fprintf(stderr, "\n");
    return 0;
}
