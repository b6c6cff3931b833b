#include "store/LiveScoreStore.h"

#include "analysis/PostureBand.h"
#include "analysis/ThresholdRules.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace verticora {

namespace {

constexpr WallTime distantPast = -std::numeric_limits<double>::infinity();

// Halves away from zero, printed without a fraction.
QString rounded(double value)
{
    return QString::number(static_cast<qlonglong>(std::round(value)));
}

} // namespace

LiveScoreStore::LiveScoreStore(QObject* parent)
    : QObject(parent)
    , m_lastRecorded(distantPast)
    , m_lastOriginalRecorded(distantPast)
{
}

std::optional<double> LiveScoreStore::value(std::optional<double> deviation, double yellow, double red)
{
    if (!deviation || !std::isfinite(*deviation) || !isValidThresholdPair(yellow, red))
        return std::nullopt;
    const double s = std::max(*deviation, 0.0);
    switch (bandOf(s, yellow, red)) {
    case PostureBand::green:
        return 100 - 15 * s / yellow;
    case PostureBand::yellow:
        return 85 - 35 * (s - yellow) / (red - yellow);
    case PostureBand::red:
        break;
    }
    return std::max(50 - 50 * (s - red) / std::max(red, 0.4), 0.0);
}

void LiveScoreStore::record(std::optional<double> deviation, double yellow, double red, WallTime at, bool eligible)
{
    if (!std::isfinite(at) || at < m_lastRecorded)
        return;
    const std::optional<double> score = eligible ? value(deviation, yellow, red) : std::nullopt;
    const bool presenceChanged = score.has_value() != m_current.has_value();
    setCurrent(score);
    const double sinceLast = at - m_lastRecorded;
    if (!presenceChanged && sinceLast < minimumSpacing)
        return;
    if (sinceLast > maximumTrackingGap && !m_points.isEmpty())
        m_points.append(LiveScorePoint{at - gapMarkerLead, std::nullopt, true});
    const bool original = presenceChanged || at - m_lastOriginalRecorded >= originalSampleSpacing;
    m_points.append(LiveScorePoint{at, score, original});
    m_lastRecorded = at;
    if (original)
        m_lastOriginalRecorded = at;
    dropExpired(at);
    emit pointsChanged();
}

void LiveScoreStore::dropExpired(WallTime newest)
{
    const WallTime oldestKept = newest - window;
    qsizetype expired = 0;
    while (expired < m_points.size() && m_points[expired].date < oldestKept)
        ++expired;
    expired = std::max(expired, m_points.size() - pointCap);
    if (expired > 0)
        m_points.remove(0, expired);
}

void LiveScoreStore::setCurrent(std::optional<double> current)
{
    if (m_current == current)
        return;
    m_current = current;
    emit currentChanged();
}

std::optional<LiveScorePoint> LiveScoreStore::currentEndpoint(WallTime now) const
{
    if (!m_current || m_points.isEmpty())
        return std::nullopt;
    const LiveScorePoint& last = m_points.constLast();
    if (!last.value)
        return std::nullopt;
    const double age = now - last.date;
    if (age < 0 || age > maximumTrackingGap)
        return std::nullopt;
    return last;
}

QString LiveScoreStore::historyDescription(WallTime now, const QString& inactiveStatus) const
{
    std::optional<double> lowest;
    std::optional<double> highest;
    bool gapInRange = false;
    for (const LiveScorePoint& point : m_points) {
        if (point.date < now - window || point.date > now)
            continue;
        if (!point.value) {
            gapInRange = true;
            continue;
        }
        lowest = std::min(lowest.value_or(*point.value), *point.value);
        highest = std::max(highest.value_or(*point.value), *point.value);
    }

    QString description;
    const auto endpoint = currentEndpoint(now);
    if (endpoint && endpoint->value)
        description = QStringLiteral("Current %1 out of 100.").arg(rounded(*endpoint->value));
    else
        description = inactiveStatus + u'.';

    if (lowest && highest) {
        description += QStringLiteral(" Available readings in the last five minutes ranged from %1 to %2.")
                           .arg(rounded(*lowest), rounded(*highest));
        if (gapInRange)
            description += QStringLiteral(" Gaps are time without valid tracking; dotted links connect their measured endpoints.");
    } else {
        description += QStringLiteral(" No readings in the last five minutes.");
    }
    return description;
}

} // namespace verticora
