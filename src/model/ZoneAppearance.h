#pragma once

#include "model/PostureEngine.h"

namespace verticora {

enum class ZoneAppearance { hidden, greenHalo, yellowHalo, redFocus };

// What the alert visuals should show after an engine result: nothing unless the user is
// monitored, not paused and tracked with a finite score in yellow or beyond; the focus
// card once the alert is on. Never greenHalo.
[[nodiscard]] ZoneAppearance resolveZoneAppearance(const ZoneResult& result, bool monitoring, bool paused,
                                                   bool tracking);

} // namespace verticora
