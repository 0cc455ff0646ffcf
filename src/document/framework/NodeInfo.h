#pragma once
#include <Qt>

namespace Orvex::Document {

// A pointer event in image coordinates, as the view hands it to the tools.
struct NodeInfo {
    enum Kind { Press = 1, Move = 2, Release = 3 };
    int kind = Press;
    double x = 0;
    double y = 0;
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
    int penMode = 0;
    double pressure = 1.0;
    // The mask value the point paints; the tool sets it before the point reaches the pen job.
    int value = 0;
};

} // namespace Orvex::Document
