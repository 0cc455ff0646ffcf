#include "main/fxwindow/WindowRun.h"

#include "app/OrvexApplication.h"
#include "document/framework/ToolFilter.h"
#include "imageio/PlaneConversion.h"
#include "ui/OptionsUI.h"
#include "ui/PluginUI.h"

#include <QTimer>

#include <memory>

namespace Orvex::FxWindow {

using ImageIO::ColorModel;

namespace {

ColorModel modelOfHost() {
    switch (OXF::hostRequest().colorMode) {
    case OXF::ModeGrey:
        return ColorModel::Grey;
    case OXF::ModeCMYK:
        return ColorModel::CMYK;
    case OXF::ModeLab:
        return ColorModel::Lab;
    default:
        return ColorModel::RGB;
    }
}

} // namespace

int16_t runWindow(OXF::InteractiveRun& run, const std::function<void(UI::PluginUI&)>& shown) {
    const Ref<DataStorage::PixelPlane> host = run.source();
    if (!host) throw std::runtime_error("Error loading image data from host application");
    // An RGB host's plane already is the working plane (its colour channels and alpha in the host's
    // sample type): the window works on a clone that shares its tiles, and Apply writes the result's
    // channels straight back, with no interleaved copy of the image on either way. The other
    // colour models go through an image record and the colour conversion to RGB and back.
    const bool direct = modelOfHost() == ColorModel::RGB;
    ImageIO::ImageRecord image;
    Ref<DataStorage::PixelPlane> working;
    if (direct) {
        working = host->clone();
        working->setAttachment({});
    } else {
        image = ImageIO::imageFromHostPlane(*host, modelOfHost(), OXF::hostProfileBytes());
        working = ImageIO::planeFromImage(image);
    }
    Ref<DataStorage::DataChannel> selection;
    if (run.selection()) selection = ImageIO::selectionBytes(run.selection().get(), host->width(), host->height());

    UI::WindowSession session;
    session.image = working;
    session.selection = selection;
    session.hostFileName = OXF::hostFileName();
    session.toImage = [&](const DataStorage::PixelPlane& result) {
        if (direct) return ImageIO::imageFromHostPlane(result, ColorModel::RGB, OXF::hostProfileBytes());
        return ImageIO::imageFromPlane(result, *working, image);
    };
    session.apply = [&](const DataStorage::PixelPlane& result) {
        if (direct) return run.apply(result);
        const Ref<DataStorage::PixelPlane> back =
            ImageIO::hostPlaneFromImage(ImageIO::imageFromPlane(result, *working, image), *host);
        return run.apply(*back);
    };

    OrvexApplication* app = OrvexApplication::instance();
    SettingsGroupRW settings = app ? app->settingsGroup() : UI::OptionsContext::fromApplication().settings;
    if (app) Document::Filters::ToolFilter::setSettingsRoot(app->settingsStore(), app->settingsGroupPrefix());
    // The result code outlives the window's frame: the window itself goes after the reply.
    const auto code = std::make_shared<short>(UI::PluginUI::Cancelled);
    auto window = std::make_shared<UI::PluginUI>(nullptr, Qt::Window, code.get(), session, settings);
    window->setClosedHandler([&] { run.finish(*code); });
    window->show();
    if (shown) shown(*window);
    // A host without a person: the unchanged image goes back through the window's write-back.
    if (run.takeAutoApply())
        QTimer::singleShot(0, window.get(), [&] {
            // The window as a person would see it before pressing Apply: shown and painted.
            QCoreApplication::processEvents();
            if (run.finished()) return;
            if (session.apply(*working)) {
                *code = 0;
                run.finish(OXF::InteractiveRun::Applied);
            }
        });
    const int16_t result = run.exec();
    window->setClosedHandler({});
    window->hide();
    // Freeing the run's planes, caches and history takes a while on a large image: the host gets
    // its reply first. The window's session callbacks refer to this frame, but nothing calls them
    // once the event loop has returned.
    OXF::deferUntilReplied([window, code, working, selection]() mutable {
        window.reset();
        working.reset();
        selection.reset();
    });
    if (!direct) OXF::deferUntilReplied([record = std::make_shared<ImageIO::ImageRecord>(std::move(image))] {});
    return result;
}

void install() {
    OXF::setWindowRunner([](OXF::InteractiveRun& run) { return runWindow(run); });
}

} // namespace Orvex::FxWindow
