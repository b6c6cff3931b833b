#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <vector>

namespace verticora {

// The median of `values`, the upper of the two middle ones for an even count; none for no
// values.
[[nodiscard]] inline std::optional<double> median(std::vector<double> values)
{
    if (values.empty())
        return std::nullopt;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

} // namespace verticora
