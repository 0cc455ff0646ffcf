// The effect process with a scripted user: the real entry, link, window and effects, and a script
// (ELEMORAMA_TEST_SCRIPT) that drives the window with key and mouse events once it is shown.
//   apply   choose Rain with the keyboard, type 8 into its density, paint a stroke with the
//           selection brush, Apply (which renders), Apply; ELEMORAMA_TEST_MASK_OUT receives the mask
//   cancel  press Cancel
//   close   start a render and close the window while it runs (interrupt: yes), then close it
//           again, discarding
#include "document/framework/FilterMessages.h"
#include "document/framework/ToolFilter.h"
#include "gui/Param.h"
#include "main/fxbatch/EffectBatch.h"
#include "main/fxwindow/WindowRun.h"
#include "oxf/OXF.h"
#include "datastorage/PixelFormat.h"
#include "ui/PluginUI.h"

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QImage>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstring>

using namespace Orvex;

namespace {

// Calls `then` once the window is idle (no run pending or in flight).
void whenIdle(UI::PluginUI& w, std::function<void()> then) {
    auto* timer = new QTimer(&w);
    QObject::connect(timer, &QTimer::timeout, &w, [&w, timer, then] {
        auto* f = w.filter();
        if (f && (w.isRunning() || f->isProcessing() || f->isUpdatePending())) return;
        timer->deleteLater();
        then();
    });
    timer->start(20);
}

void typeDensity(UI::PluginUI& w, const char* value) {
    auto* param = qobject_cast<GUI::Param*>(w.filter()->control(QStringLiteral("density")));
    if (!param) {
        fprintf(stderr, "script: no density control\n");
        return;
    }
    // The text field lives in the control's inner spin box.
    QWidget* spin = param->spinBox()->findChild<QAbstractSpinBox*>();
    if (!spin) spin = param->spinBox();
    spin->setFocus();
    QTest::keyClick(spin, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(spin, QString::fromLatin1(value));
    QTest::keyClick(spin, Qt::Key_Return);
}

// Paints a stroke with the selection brush across the lower part of the picture, as a user
// would: press, moves, release on the view.
void paintStroke(UI::PluginUI& w) {
    UI::ImagePreview* view = w.view();
    const auto plane = view->plane();
    auto at = [&](double fx, double fy) {
        return view->toView(QPointF(fx * plane->width(), fy * plane->height())).toPoint();
    };
    QTest::mousePress(view, Qt::LeftButton, {}, at(0.1, 0.8));
    for (int i = 1; i <= 10; ++i) QTest::mouseMove(view, at(0.1 + 0.05 * i, 0.8 + 0.005 * i));
    QTest::mouseRelease(view, Qt::LeftButton, {}, at(0.6, 0.85));
}

// The effect's selection as an 8-bit grey PNG, for the batch renderer to use the same one.
void writeMask(UI::PluginUI& w, const QString& path) {
    const auto plane = w.filter()->maskPlane(Document::Filters::ToolFilter::Mask);
    const auto channel = plane ? plane->channel(DataStorage::ChannelMask) : Ref<DataStorage::DataChannel>();
    if (!channel) return;
    QImage image(channel->width(), channel->height(), QImage::Format_Grayscale8);
    for (int y = 0; y < channel->height(); ++y)
        DataStorage::getData(*channel, DataStorage::RectI{0, y, channel->width(), y + 1}, image.scanLine(y), 0);
    image.save(path);
}

void script(UI::PluginUI& w) {
    const char* mode = getenv("ELEMORAMA_TEST_SCRIPT");
    const std::string m = mode ? mode : "";
    Document::FilterMessages::setHandler([](const Document::FilterMessage& message) {
        fprintf(stderr, "script: message \"%s\"\n", message.text.toUtf8().constData());
        return true; // yes to every question
    });
    if (m == "apply") {
        QTimer::singleShot(50, &w, [&w] {
            QTest::keyClick(w.effectCombo(), Qt::Key_Down); // Water
            QTest::keyClick(w.effectCombo(), Qt::Key_Home); // back to Rain
            whenIdle(w, [&w] {
                typeDensity(w, "8");
                paintStroke(w);
                whenIdle(w, [&w] {
                    if (const char* maskOut = getenv("ELEMORAMA_TEST_MASK_OUT"))
                        writeMask(w, QString::fromUtf8(maskOut));
                    QTest::mouseClick(w.okButton(), Qt::LeftButton); // renders the final result
                    whenIdle(w, [&w] {
                        fprintf(stderr, "script: density %s, commit %d\n",
                                w.filter()->lastRun().valueText("density").toUtf8().constData(), w.commitState());
                        QTest::mouseClick(w.okButton(), Qt::LeftButton); // applies and closes
                    });
                });
            });
        });
    } else if (m == "cancel") {
        QTimer::singleShot(50, &w, [&w] { w.findChild<QPushButton*>(QStringLiteral("topbar/cancel"))->click(); });
    } else if (m == "close") {
        QTimer::singleShot(50, &w, [&w] {
            whenIdle(w, [&w] {
                typeDensity(w, "20");
                // Should the render be over before the close arrives, the close discards.
                w.setQuitQuestion([] { return UI::PluginUI::QuitDiscard; });
                w.runFilter();
                w.close(); // during the render: asks to interrupt and stays open
                whenIdle(w, [&w] { w.close(); });
            });
        });
    }
}

} // namespace

int main(int argc, char** argv) {
    FxBatch::install();
    OXF::setWindowRunner([](OXF::InteractiveRun& run) { return FxWindow::runWindow(run, &script); });
    return OXF::mainOXF(argc, argv);
}
