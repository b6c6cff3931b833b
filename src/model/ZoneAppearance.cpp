#include "model/ZoneAppearance.h"

#include <cmath>

namespace verticora {

ZoneAppearance resolveZoneAppearance(const ZoneResult& result, bool monitoring, bool paused, bool tracking)
{
    if (!monitoring || paused || !tracking)
        return ZoneAppearance::hidden;
    if (!result.score || !std::isfinite(*result.score))
        return ZoneAppearance::hidden;
    if (result.state != ZoneState::yellow && result.state != ZoneState::outside && result.state != ZoneState::alert)
        return ZoneAppearance::hidden;
    return result.alert ? ZoneAppearance::redFocus : ZoneAppearance::yellowHalo;
}

} // namespace verticora
