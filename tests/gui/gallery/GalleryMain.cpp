// The widget gallery: every control of the effect panels on one page, in a light and a dark palette.
//
//   widget_gallery                      shows the gallery window
//   widget_gallery --screenshot DIR     writes one PNG per control and per page into DIR and quits
//                                       (works headless with QT_QPA_PLATFORM=offscreen)
//   widget_gallery --trace              prints every report of the controls with its time, to check
//                                       by hand how they report under a real mouse and keyboard
#include "Gallery.h"
#include "gui/GUI.h"

#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPalette>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTextStream>
#include <QVBoxLayout>

#include <functional>
#include <vector>

#ifdef ELEMORAMA_GALLERY_WITH_UI
#include "GalleryUi.h"
#endif

using namespace Orvex::GUI;

QPalette darkPalette() {
    QPalette p;
    p.setColor(QPalette::Window, QColor(45, 46, 50));
    p.setColor(QPalette::WindowText, QColor(225, 225, 228));
    p.setColor(QPalette::Base, QColor(30, 31, 34));
    p.setColor(QPalette::AlternateBase, QColor(45, 46, 50));
    p.setColor(QPalette::Text, QColor(225, 225, 228));
    p.setColor(QPalette::Button, QColor(60, 62, 67));
    p.setColor(QPalette::ButtonText, QColor(225, 225, 228));
    p.setColor(QPalette::Highlight, QColor(64, 140, 230));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Mid, QColor(95, 97, 104));
    p.setColor(QPalette::Dark, QColor(20, 20, 22));
    p.setColor(QPalette::Light, QColor(80, 82, 88));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(120, 120, 124));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(120, 120, 124));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(120, 120, 124));
    return p;
}

namespace {

// The nine colours of the fire panel's hue track.
QVector<QColor> fireHueColors() {
    return {QColor(61, 151, 241), QColor(106, 61, 241), QColor(241, 61, 241),
            QColor(241, 61, 106), QColor(241, 152, 62), QColor(196, 241, 61),
            QColor(61, 241, 61),  QColor(61, 241, 196), QColor(61, 151, 241)};
}

// A settings panel as an effect builds it: parameter controls in a column, colour rows, the
// fraction bar.
QWidget* buildPanel(std::vector<Shot>& shots, const QString& tag) {
    auto* panel = new QWidget;
    panel->setObjectName("panel" + tag);
    auto* column = new QVBoxLayout(panel);
    column->setSpacing(2);
    column->setContentsMargins(4, 2, 4, 2);

    auto* density = new Param;
    density->setText("Density");
    density->setRange(0, 100);
    density->setValue(42);
    column->addWidget(density);

    auto* length = new Param;
    length->setText("Length, px");
    length->setSuffix("px");
    length->setRange(0, 500);
    length->setValue(120);
    column->addWidget(length);

    auto* brush = new Param;
    brush->setText("Brush Size (px)");
    brush->setSuffix("px");
    brush->setRange(1, 1000, 100);
    brush->setValue(100);
    column->addWidget(brush);

    auto* gamma = new ParamDbl;
    gamma->setText("Gamma");
    gamma->setDecimals(2);
    gamma->setRange(0.1, 5.0);
    gamma->setValue(1.8);
    column->addWidget(gamma);

    auto* disabled = new Param;
    disabled->setText("Opacity");
    disabled->setRange(1, 100);
    disabled->setValue(70);
    disabled->setEnabled(false);
    column->addWidget(disabled);

    auto* hueRow = new QHBoxLayout;
    auto* hue = new Param;
    hue->setText("Color");
    hue->setSuffix(QString::fromUtf8("°"));
    hue->setRange(-179, 180);
    hue->setValue(25);
    hue->setTrackColors(fireHueColors());
    auto* swatch = new ColorButton;
    swatch->setColor(QColor(245, 171, 81));
    hueRow->addWidget(hue, 1);
    hueRow->addWidget(swatch, 0, Qt::AlignBottom);
    column->addLayout(hueRow);

    auto* colorRow = new QHBoxLayout;
    colorRow->addWidget(new QLabel("Color"));
    auto* water = new ColorButton;
    water->setColor(QColor(40, 90, 120));
    colorRow->addStretch(1);
    colorRow->addWidget(water);
    column->addLayout(colorRow);

    auto* glassRow = new QHBoxLayout;
    glassRow->addWidget(new QLabel("Tint"));
    auto* glass = new ColorButton;
    glass->setTransparentAllowed(true);
    glass->setValue(int(0x803080FFu));
    auto* none = new ColorButton;
    none->setTransparentAllowed(true);
    none->setValue(0);
    glassRow->addStretch(1);
    glassRow->addWidget(glass);
    glassRow->addWidget(none);
    column->addLayout(glassRow);

    auto* fractionRow = new QHBoxLayout;
    fractionRow->addWidget(new QLabel("Color Fractions"));
    fractionRow->addStretch(1);
    fractionRow->addWidget(new QCheckBox("Inversion"));
    column->addLayout(fractionRow);
    auto* fraction = new ColorFraction;
    fraction->setDividers(0.16, 0.72);
    column->addWidget(fraction);

    auto* hueSlider = new HueSlider;
    hueSlider->setValue(200);
    column->addWidget(hueSlider);
    column->addStretch(1);

    if (tag.isEmpty()) {
        shots.push_back({"param_int", density});
        shots.push_back({"param_suffix", length});
        shots.push_back({"param_nonlinear", brush});
        shots.push_back({"param_real", gamma});
        shots.push_back({"param_disabled", disabled});
        shots.push_back({"param_hue", hue});
        shots.push_back({"color_button", water});
        shots.push_back({"color_button_transparent", glass});
        shots.push_back({"color_fraction", fraction});
        shots.push_back({"hue_slider", hueSlider});
    }
    return panel;
}

// Prints the keys the application receives and where they go.
class KeyTracer : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
            auto* key = static_cast<QKeyEvent*>(event);
            auto* widget = static_cast<QWidget*>(watched);
            QTextStream(stdout) << "key " << key->key() << " '" << key->text() << "' to "
                                << widget->metaObject()->className() << " " << widget->objectName()
                                << Qt::endl;
        }
        return false;
    }
};

void traceReports(const std::vector<Shot>& shots) {
    qApp->installEventFilter(new KeyTracer(qApp));
    static QElapsedTimer clock;
    clock.start();
    auto print = [](const QString& name, const char* what, const QString& value) {
        QTextStream(stdout) << clock.elapsed() << " ms  " << name << "  " << what << "  " << value
                            << Qt::endl;
    };
    for (const Shot& shot : shots) {
        const QString name = shot.name;
        if (auto* p = qobject_cast<Param*>(shot.widget)) {
            QObject::connect(p, &Param::valueChanged,
                             [=](int v) { print(name, "valueChanged", QString::number(v)); });
            QObject::connect(p, &Param::finalizedValue,
                             [=](int v) { print(name, "finalizedValue", QString::number(v)); });
        } else if (auto* d = qobject_cast<ParamDbl*>(shot.widget)) {
            QObject::connect(d, &ParamDbl::valueChanged,
                             [=](double v) { print(name, "valueChanged", QString::number(v)); });
            QObject::connect(d, &ParamDbl::finalizedValue,
                             [=](double v) { print(name, "finalizedValue", QString::number(v)); });
        } else if (auto* b = qobject_cast<ColorButton*>(shot.widget)) {
            QObject::connect(b, &ColorButton::valueChanged,
                             [=](int v) { print(name, "valueChanged", QString::number(quint32(v), 16)); });
        } else if (auto* f = qobject_cast<ColorFraction*>(shot.widget)) {
            QObject::connect(f, &ColorFraction::editingFinished, [=] {
                print(name, "editingFinished",
                      QStringLiteral("%1/%2/%3").arg(f->fraction(0)).arg(f->fraction(1)).arg(f->fraction(2)));
            });
        } else if (auto* h = qobject_cast<HueSlider*>(shot.widget)) {
            QObject::connect(h, &ParamSlider::finalizedValue,
                             [=](int v) { print(name, "finalizedValue", QString::number(v)); });
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    QCommandLineParser parser;
    parser.setApplicationDescription("Elemorama widget gallery");
    parser.addHelpOption();
    QCommandLineOption screenshot("screenshot", "Write a PNG of every control and page into DIR, then quit.",
                                  "DIR");
    parser.addOption(screenshot);
    QCommandLineOption trace("trace", "Print every valueChanged / finalizedValue with its time in ms.");
    parser.addOption(trace);
    parser.process(app);

    std::vector<Shot> shots;
    QWidget window;
    window.setWindowTitle("Elemorama widget gallery");
    auto* row = new QHBoxLayout(&window);
    QWidget* light = buildPanel(shots, QString());
    QWidget* dark = buildPanel(shots, "_dark");
    dark->setAutoFillBackground(true);
    dark->setPalette(darkPalette());
    for (QWidget* page : {light, dark}) {
        page->setFixedWidth(260);
        row->addWidget(page);
    }
    shots.push_back({"panel_light", light});
    shots.push_back({"panel_dark", dark});

#ifdef ELEMORAMA_GALLERY_WITH_UI
    addUiPages(window, shots);
#endif

    if (parser.isSet(trace)) traceReports(shots);

    window.adjustSize();
    window.show();
    if (!parser.isSet(screenshot)) return app.exec();

    QDir dir(parser.value(screenshot));
    if (!dir.mkpath(".")) {
        QTextStream(stderr) << "cannot create " << dir.path() << "\n";
        return 1;
    }
    QApplication::processEvents();
    int failures = 0;
    for (const Shot& shot : shots) {
        const QString path = dir.filePath(shot.name + ".png");
        if (!shot.widget->grab().save(path)) {
            QTextStream(stderr) << "cannot write " << path << "\n";
            ++failures;
        } else {
            QTextStream(stdout) << path << "\n";
        }
    }
    const QString whole = dir.filePath("gallery.png");
    if (!window.grab().save(whole)) ++failures;
    return failures == 0 ? 0 : 1;
}
