#pragma once

#include <optional>

namespace verticora {

// The short walk-through after a height capture: sink to red and hold it briefly, then
// come back above yellow.
struct SetupCheck {
    enum class Phase { lower, returning, done };

    Phase phase = Phase::lower;
    std::optional<double> lowerSince; // when the score first reached red in this run
    std::optional<double> lastTime;

    void update(double score, double yellow, double red, double time);
    void restart() { *this = SetupCheck{}; }

    friend bool operator==(const SetupCheck&, const SetupCheck&) = default;
};

} // namespace verticora
