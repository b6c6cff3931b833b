#include "visuals/Animation.h"

#include <QEasingCurve>

#include <algorithm>
#include <cmath>
#include <ctime>

namespace verticora {

namespace {

// The unit cubic Bézier timing curve from (0, 0) to (1, 1) through two control points.
QEasingCurve cubicBezier(QPointF first, QPointF second)
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(first, second, QPointF(1, 1));
    return curve;
}

} // namespace

double mediaTime()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

bool reduceMotionEnabled(const ReduceMotionSource& source)
{
    return source && source();
}

double applyTiming(TimingFunction timing, double fraction)
{
    const double x = std::clamp(fraction, 0.0, 1.0);
    switch (timing) {
    case TimingFunction::linear:
        return x;
    case TimingFunction::easeOut: {
        static const QEasingCurve easeOut = cubicBezier({0, 0}, {0.58, 1});
        return easeOut.valueForProgress(x);
    }
    case TimingFunction::easeInEaseOut: {
        static const QEasingCurve easeInEaseOut = cubicBezier({0.42, 0}, {0.58, 1});
        return easeInEaseOut.valueForProgress(x);
    }
    }
    return x;
}

double TimedChange::progress(double now) const
{
    if (duration <= 0)
        return 1;
    return applyTiming(timing, (now - begin) / duration);
}

double interpolate(double from, double to, double t)
{
    return from + (to - from) * t;
}

QPointF interpolate(const QPointF& from, const QPointF& to, double t)
{
    return from + (to - from) * t;
}

QRectF interpolate(const QRectF& from, const QRectF& to, double t)
{
    return {interpolate(from.x(), to.x(), t), interpolate(from.y(), to.y(), t),
            interpolate(from.width(), to.width(), t), interpolate(from.height(), to.height(), t)};
}

QColor interpolate(const QColor& from, const QColor& to, double t)
{
    return QColor::fromRgbF(static_cast<float>(interpolate(from.redF(), to.redF(), t)),
                            static_cast<float>(interpolate(from.greenF(), to.greenF(), t)),
                            static_cast<float>(interpolate(from.blueF(), to.blueF(), t)),
                            static_cast<float>(interpolate(from.alphaF(), to.alphaF(), t)));
}

std::array<QColor, 4> interpolate(const std::array<QColor, 4>& from, const std::array<QColor, 4>& to, double t)
{
    std::array<QColor, 4> result;
    for (std::size_t i = 0; i < result.size(); ++i)
        result[i] = interpolate(from[i], to[i], t);
    return result;
}

QPainterPath interpolate(const QPainterPath& from, const QPainterPath& to, double t)
{
    if (from.elementCount() != to.elementCount())
        return to;
    QPainterPath result = to;
    for (int i = 0; i < to.elementCount(); ++i) {
        const QPainterPath::Element a = from.elementAt(i);
        const QPainterPath::Element b = to.elementAt(i);
        if (a.type != b.type)
            return to;
        result.setElementPositionAt(i, interpolate(a.x, b.x, t), interpolate(a.y, b.y, t));
    }
    return result;
}

double RepeatingKeyframes::valueAt(double now) const
{
    if (values.empty())
        return 0;
    if (values.size() == 1 || duration <= 0)
        return values.front();
    double local = std::fmod(now - begin, duration);
    if (local < 0)
        local += duration;
    const double x = local / duration;

    const std::size_t last = values.size() - 1;
    auto keyTime = [&](std::size_t i) {
        return keyTimes.size() == values.size() ? keyTimes[i] : static_cast<double>(i) / static_cast<double>(last);
    };
    std::size_t segment = 0;
    while (segment + 1 < last && x >= keyTime(segment + 1))
        ++segment;
    const double start = keyTime(segment);
    const double span = keyTime(segment + 1) - start;
    const double t = span > 0 ? applyTiming(segmentTiming, (x - start) / span) : 1.0;
    return interpolate(values[segment], values[segment + 1], t);
}

} // namespace verticora
