#pragma once

#include "store/SettingsEnums.h"

namespace verticora {

// What a diagnostic lease may impose on the tracker and the visuals. Read on both
// threads; implementations guard their own state. Without a lease: lightweight passes
// allowed, patch radius 7, every visual shown.
class TrackingLease {
public:
    virtual ~TrackingLease() = default;
    [[nodiscard]] virtual bool forcesFullTracker(double wallTime, double uptime) const = 0;
    [[nodiscard]] virtual int trackerRadius(double wallTime, double uptime) const = 0;
    [[nodiscard]] virtual DiagnosticVisualMode mode(double wallTime, double uptime) const = 0;
};

class NoTrackingLease final : public TrackingLease {
public:
    [[nodiscard]] bool forcesFullTracker(double, double) const override { return false; }
    [[nodiscard]] int trackerRadius(double, double) const override { return 7; }
    [[nodiscard]] DiagnosticVisualMode mode(double, double) const override { return DiagnosticVisualMode::full; }
};

} // namespace verticora
