#pragma once
// The lightning effect's ten built-in line sets: trunk list files in the resources, named by their
// two-digit number. The coordinates are fractions of the image's width and height (no "aspect"), so
// that every set fits pictures of any shape, with its strikes running from the sky downwards.

#include <QString>

namespace Orvex::Document::Filters {

constexpr int kLightningLineSets = 10;

// ":/trunks/Resources/Trunks/" + "01.xml" ... "10.xml"; empty outside 1 ... 10. Makes sure the
// resources are registered.
QString lightningLineSetPath(int number);

} // namespace Orvex::Document::Filters
