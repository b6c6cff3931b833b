#pragma once

namespace verticora {

// A point in normalised image coordinates (origin lower-left, y up) unless the
// owner says otherwise.
struct Point {
    double x = 0;
    double y = 0;

    friend bool operator==(const Point&, const Point&) = default;
};

// An axis-aligned rectangle given by its lower corner and its size.
struct Rect {
    double minX = 0;
    double minY = 0;
    double width = 0;
    double height = 0;

    [[nodiscard]] constexpr double midX() const { return minX + width / 2; }
    [[nodiscard]] constexpr double midY() const { return minY + height / 2; }
    [[nodiscard]] constexpr double maxX() const { return minX + width; }
    [[nodiscard]] constexpr double maxY() const { return minY + height; }

    friend bool operator==(const Rect&, const Rect&) = default;
};

} // namespace verticora
