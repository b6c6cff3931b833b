#pragma once

#include <optional>

namespace verticora {

class LiveScoreStore {
public:
    // The live score of a deviation: 100 at the chosen height, 85 at yellow, 50 at red,
    // down to 0 further out. None for a missing or non-finite deviation or an invalid pair.
    [[nodiscard]] static std::optional<double> value(std::optional<double> deviation, double yellow, double red);
};

} // namespace verticora
