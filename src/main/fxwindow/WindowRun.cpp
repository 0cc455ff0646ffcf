#include "main/fxwindow/WindowRun.h"

#include "app/OrvexApplication.h"
#include "document/framework/ToolFilter.h"
#include "imageio/PlaneConversion.h"
#include "ui/OptionsUI.h"
#include "ui/PluginUI.h"

#include <QTimer>

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
    short code = UI::PluginUI::Cancelled;
    int16_t result = OXF::InteractiveRun::Cancelled;
    {
        UI::PluginUI window(nullptr, Qt::Window, &code, session, settings);
        window.setClosedHandler([&] { run.finish(code); });
        window.show();
        if (shown) shown(window);
        // A host without a person: the unchanged image goes back through the window's write-back.
        if (run.takeAutoApply())
            QTimer::singleShot(0, &window, [&] {
                if (session.apply(*working)) {
                    code = 0;
                    run.finish(OXF::InteractiveRun::Applied);
                }
            });
        result = run.exec();
        window.setClosedHandler({});
    }
    return result;
}

void install() {
    OXF::setWindowRunner([](OXF::InteractiveRun& run) { return runWindow(run); });
}

} // namespace Orvex::FxWindow
