// Screenshots of the effect window for every listed effect: a sample photo (scaled to a preview
// size so that each shot takes seconds), its sky mask as the host selection, the effect's first
// preset rendered, the window grabbed to <dir>/window_<effect>.png.
//
//   window_screenshots IMAGE MASK DIR [--lang CODE]
#include "app/OrvexApplication.h"
#include "document/filters/EffectRegistry.h"
#include "document/framework/Effects.h"
#include "document/framework/FilterMessages.h"
#include "document/framework/MaskToolFilter.h"
#include "document/framework/ToolFilter.h"
#include "imageio/ImageIO.h"
#include "imageio/PlaneConversion.h"
#include "settings/Settings.h"
#include "ui/PluginUI.h"

#include <QDir>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QImage>
#include <QThread>

#include <cstdio>

using namespace Orvex;

namespace {

bool waitIdle(UI::PluginUI& window, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    auto busy = [&] {
        auto* f = window.filter();
        return f && (window.isRunning() || f->isProcessing() || f->isUpdatePending());
    };
    while (busy()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

ImageIO::ImageRecord scaled(const QString& path, int maxSide, bool mask) {
    QImage image(path);
    if (image.isNull()) throw std::runtime_error("cannot read " + path.toStdString());
    image = image.scaled(maxSide, maxSide, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                .convertToFormat(mask ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    ImageIO::ImageRecord record;
    record.width = image.width();
    record.height = image.height();
    record.model = mask ? ImageIO::ColorModel::Grey : ImageIO::ColorModel::RGB;
    record.sampleType = -1;
    record.allocate();
    for (int y = 0; y < image.height(); ++y)
        memcpy(record.row(y), image.constScanLine(y), record.rowBytes());
    return record;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    OrvexApplication app(argc, argv, QStringLiteral("Quintelle"));
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        fprintf(stderr, "usage: window_screenshots IMAGE MASK DIR [--lang CODE]\n");
        return 2;
    }
    const int langAt = args.indexOf(QStringLiteral("--lang"));
    if (langAt > 0 && langAt + 1 < args.size()) app.switchLanguage(args[langAt + 1]);
    QDir().mkpath(args[3]);
    try {
        const ImageIO::ImageRecord image = scaled(args[1], 1000, false);
        const ImageIO::ImageRecord mask = scaled(args[2], 1000, true);
        SettingsMap store;
        Document::Filters::ToolFilter::setSettingsRoot(&store, QString());
        Document::FilterMessages::setHandler([](const Document::FilterMessage& m) {
            fprintf(stderr, "message: %s\n", m.text.toUtf8().constData());
            return false;
        });
        for (int id : Document::Filters::listedEffects()) {
            const auto* info = Document::Filters::EffectRegistry::byId(id);
            store.setValue(QStringLiteral("Effect"), id);
            store.setValue(QStringLiteral("AutoRunMode"), true);
            UI::WindowSession session;
            session.image = ImageIO::planeFromImage(image);
            session.selection = ImageIO::selectionFromImage(mask, image.width, image.height);
            session.hostFileName = QFileInfo(args[1]).fileName();
            short result = 0;
            UI::PluginUI window(nullptr, Qt::Window, &result, session, SettingsGroupRW(&store, QString()));
            window.resize(1400, 860);
            window.show();
            QCoreApplication::processEvents();
            // The trunk effects need a line: one drawn as the user would, press, move, release.
            if (auto* trunk = qobject_cast<Document::Filters::TrunkToolFilter*>(window.filter())) {
                const bool bolt = id == Document::Filters::EffectId::Lightning;
                const double x1 = image.width * (bolt ? 0.58 : 0.08), y1 = image.height * (bolt ? 0.04 : 0.42);
                const double x2 = image.width * (bolt ? 0.52 : 0.92), y2 = image.height * (bolt ? 0.45 : 0.36);
                for (int kind = 1; kind <= 3; ++kind) {
                    Document::NodeInfo node;
                    node.kind = kind;
                    node.x = kind == 1 ? x1 : x2;
                    node.y = kind == 1 ? y1 : y2;
                    trunk->OnNewPoint(node);
                }
            }
            window.runFilter();
            if (!waitIdle(window, 120000)) fprintf(stderr, "%s: the render did not finish\n", info->shortName);
            QCoreApplication::processEvents();
            const QString out = QDir(args[3]).filePath(QStringLiteral("window_%1.png").arg(QString::fromLatin1(info->shortName).toLower()));
            if (!window.grab().save(out)) fprintf(stderr, "cannot write %s\n", out.toUtf8().constData());
            else printf("%s\n", out.toUtf8().constData());
            window.setQuitQuestion([] { return UI::PluginUI::QuitDiscard; });
        }
    } catch (const std::exception& e) {
        fprintf(stderr, "window_screenshots: %s\n", e.what());
        return 1;
    }
    return 0;
}
