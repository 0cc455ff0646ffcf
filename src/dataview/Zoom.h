#pragma once
// The image view's zoom scale. Every zoom control (slider, mouse wheel, zoom tool, navigator
// arrows) moves along one normalised slider position p in 0 ... 1 laid over a fixed table of
// zoom factors, so that they all feel alike: the lower half of the slider covers 1 % ... 100 %,
// the upper half 100 % ... 6400 %, each table interval linearly.
#include <QSize>
#include <QString>
#include <QStringList>
#include <array>

namespace Orvex { namespace DataView {

namespace Zoom {

constexpr int kTableSize = 24;
constexpr int kOneIndex = 9;  // the table entry holding the factor 1.0
extern const std::array<double, kTableSize> kTable;

constexpr double kMin = 0.01;
constexpr double kMax = 64.0;

// Slider steps of the controls that zoom by steps.
constexpr double kWheelStep = 0.002;      // one mouse-wheel event
constexpr double kToolTickStep = 0.002;   // one tick of the zoom tool's timer
constexpr int kToolTickMs = 40;           // the zoom tool's timer period
constexpr double kNavigatorStep = 0.01;   // one step of the navigator's zoom field arrows

// zoom <= 0.01 gives 0, zoom >= 64 gives 1, 1.0 gives 0.5.
double zoomToSlider(double zoom);
// The inverse: p <= 0 gives 0.01, p >= 1 gives 64.
double sliderToZoom(double p);

// The zoom one step of `delta` (a slider distance, signed) away from `zoom`, clamped to the ends
// of the table. The result equals `zoom` when the step cannot move it (already at the end).
double step(double zoom, double delta);
// `step` for a wheel event: `angleDelta` > 0 zooms in, < 0 out, 0 leaves the zoom alone.
double wheelStep(double zoom, int angleDelta);

// The largest zoom at which the whole image is visible in the viewport, clamped to the table's
// range. An empty image or viewport gives 1.0.
double fitZoom(const QSize& image, const QSize& viewport);

// Clamp any zoom to the table's range (a non-finite value gives 1.0).
double clamp(double zoom);

// The navigator's preset drop-down: the zoom texts and, in the same order, their factors;
// the last entry is "Fit image" with factor 0 (meaning: use fitZoom).
QStringList presetTexts();
std::array<double, 15> presetFactors();

// The navigator's zoom field text for a factor: "%1%" with the percentage, rounded to at most
// one decimal (1.014 gives "101.4%").
QString zoomText(double zoom);

}  // namespace Zoom

}}  // namespace Orvex::DataView
