#include "document/filters/lightning/LightningLineSets.h"

static void initTrunkResources() {
    Q_INIT_RESOURCE(trunks);
}

namespace Orvex::Document::Filters {

QString lightningLineSetPath(int number) {
    static const bool registered = (initTrunkResources(), true);
    (void)registered;
    if (number < 1 || number > kLightningLineSets) return {};
    return QStringLiteral(":/trunks/Resources/Trunks/%1.xml").arg(number, 2, 10, QLatin1Char('0'));
}

} // namespace Orvex::Document::Filters
