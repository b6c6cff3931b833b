#pragma once

#include <QColor>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>

#include <array>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace verticora {

// Seconds on the monotonic clock every visual animation is timed against.
[[nodiscard]] double mediaTime();

// The desktop's reduce-motion setting, read whenever a view decides whether to animate.
using ReduceMotionSource = std::function<bool()>;
[[nodiscard]] bool reduceMotionEnabled(const ReduceMotionSource& source);

enum class TimingFunction { linear, easeOut, easeInEaseOut };

// Maps the elapsed share of an animation (0 to 1) to the share of the change shown.
[[nodiscard]] double applyTiming(TimingFunction timing, double fraction);

// One run of a property change; the owner keeps the values it runs between.
struct TimedChange {
    double begin = 0;
    double duration = 0;
    TimingFunction timing = TimingFunction::linear;

    [[nodiscard]] double progress(double now) const;
    [[nodiscard]] bool finished(double now) const { return now >= begin + duration; }
};

[[nodiscard]] double interpolate(double from, double to, double t);
[[nodiscard]] QPointF interpolate(const QPointF& from, const QPointF& to, double t);
[[nodiscard]] QRectF interpolate(const QRectF& from, const QRectF& to, double t);
[[nodiscard]] QColor interpolate(const QColor& from, const QColor& to, double t);
[[nodiscard]] std::array<QColor, 4> interpolate(const std::array<QColor, 4>& from, const std::array<QColor, 4>& to,
                                                double t);
// Element by element when both paths have the same shape; otherwise the target.
[[nodiscard]] QPainterPath interpolate(const QPainterPath& from, const QPainterPath& to, double t);

// A property with a model value and, while a change animates, an on-screen value that
// runs from where the property was on screen when the change began.
template <typename T>
class AnimatedValue {
public:
    AnimatedValue() = default;
    explicit AnimatedValue(T value) : m_value(std::move(value)) {}

    [[nodiscard]] const T& value() const { return m_value; }
    [[nodiscard]] const std::optional<TimedChange>& animation() const { return m_change; }
    [[nodiscard]] bool animating(double now) const { return m_change && !m_change->finished(now); }

    [[nodiscard]] T presentation(double now) const
    {
        if (!animating(now))
            return m_value;
        return interpolate(m_from, m_value, m_change->progress(now));
    }

    // Jumps: the new value shows at once.
    void set(T value)
    {
        m_value = std::move(value);
        m_change.reset();
    }

    void animateTo(T value, double now, double duration, TimingFunction timing)
    {
        m_from = presentation(now);
        m_value = std::move(value);
        m_change = TimedChange{now, duration, timing};
    }

    void removeAnimation() { m_change.reset(); }

private:
    T m_value{};
    T m_from{};
    std::optional<TimedChange> m_change;
};

// A key-frame animation of one number that repeats for ever from `begin`.
struct RepeatingKeyframes {
    std::vector<double> values;
    std::vector<double> keyTimes; // 0 to 1, one per value; empty spaces them evenly
    TimingFunction segmentTiming = TimingFunction::linear;
    double duration = 1;
    double begin = 0;

    [[nodiscard]] double valueAt(double now) const;
};

} // namespace verticora
