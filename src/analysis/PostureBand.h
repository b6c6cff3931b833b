#pragma once

#include <optional>

namespace verticora {

// The three zones; the raw values are stored in files and used as verification bands.
enum class PostureBand : int {
    green = 0,
    yellow = 1,
    red = 2,
};

// The band of a deviation against a boundary pair; none for a missing or non-finite
// score or an invalid pair. Negative scores count as 0.
[[nodiscard]] std::optional<PostureBand> classify(std::optional<double> score, double yellow, double red);

} // namespace verticora
