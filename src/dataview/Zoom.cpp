#include "dataview/Zoom.h"

#include <algorithm>
#include <cmath>

namespace Orvex { namespace DataView { namespace Zoom {

const std::array<double, kTableSize> kTable = {0.01, 0.05, 0.1,  0.15, 0.2,  0.25, 0.33, 0.5,
                                               0.66, 1.0,  1.25, 1.5,  1.75, 2.0,  3.0,  4.0,
                                               5.0,  6.0,  8.0,  10.0, 12.0, 16.0, 32.0, 64.0};

namespace {
// The lower half of the slider is cut into 9 intervals (entries 0 ... 9), the upper into 14
// (entries 9 ... 23).
constexpr double kLowSpan = 1.0 / 18.0;
constexpr double kHighSpan = 1.0 / 28.0;
}  // namespace

double zoomToSlider(double zoom)
{
    if (!(zoom > kMin))  // also catches NaN
        return 0.0;
    if (zoom >= kMax)
        return 1.0;
    if (zoom == 1.0)
        return 0.5;
    if (zoom < 1.0) {
        int k = 0;
        while (k + 1 < kOneIndex && zoom > kTable[k + 1])
            ++k;
        return k * kLowSpan + (zoom - kTable[k]) / (kTable[k + 1] - kTable[k]) * kLowSpan;
    }
    int i = kOneIndex + 1;
    while (i + 1 < kTableSize && zoom > kTable[i])
        ++i;
    return 0.5 + (i - 1 - kOneIndex) * kHighSpan
        + (zoom - kTable[i - 1]) / (kTable[i] - kTable[i - 1]) * kHighSpan;
}

double sliderToZoom(double p)
{
    if (!(p > 0.0))
        return kMin;
    if (p >= 1.0)
        return kMax;
    if (p == 0.5)
        return 1.0;
    if (p < 0.5) {
        const double pos = p / kLowSpan;
        const int k = std::min(kOneIndex - 1, int(std::floor(pos)));
        return kTable[k] + (pos - k) * (kTable[k + 1] - kTable[k]);
    }
    const double pos = (p - 0.5) / kHighSpan;
    const int k = std::min(kTableSize - 2 - kOneIndex, int(std::floor(pos)));
    const int i = kOneIndex + k;
    return kTable[i] + (pos - k) * (kTable[i + 1] - kTable[i]);
}

double clamp(double zoom)
{
    if (!std::isfinite(zoom))
        return 1.0;
    return std::min(kMax, std::max(kMin, zoom));
}

double step(double zoom, double delta)
{
    zoom = clamp(zoom);
    if (delta == 0.0 || !std::isfinite(delta))
        return zoom;
    if ((delta > 0 && zoom >= kMax) || (delta < 0 && zoom <= kMin))
        return zoom;
    return clamp(sliderToZoom(zoomToSlider(zoom) + delta));
}

double wheelStep(double zoom, int angleDelta)
{
    if (angleDelta == 0)
        return clamp(zoom);
    return step(zoom, angleDelta > 0 ? kWheelStep : -kWheelStep);
}

double fitZoom(const QSize& image, const QSize& viewport)
{
    if (image.isEmpty() || viewport.isEmpty())
        return 1.0;
    const double zx = double(viewport.width()) / image.width();
    const double zy = double(viewport.height()) / image.height();
    return clamp(std::min(zx, zy));
}

QStringList presetTexts()
{
    return {"25%",  "50%",   "100%",  "150%",  "200%",  "300%",  "400%",     "500%",
            "800%", "1000%", "1200%", "1600%", "3200%", "6400%", "Fit image"};
}

std::array<double, 15> presetFactors()
{
    return {0.25, 0.5, 1.0, 1.5, 2.0, 3.0, 4.0, 5.0, 8.0, 10.0, 12.0, 16.0, 32.0, 64.0, 0.0};
}

QString zoomText(double zoom)
{
    const double percent = std::round(clamp(zoom) * 1000.0) / 10.0;
    return QString("%1%").arg(percent);
}

}}}  // namespace Orvex::DataView::Zoom
