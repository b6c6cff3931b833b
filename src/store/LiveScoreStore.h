#pragma once

#include "store/WallClock.h"

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

namespace verticora {

// One point of the live score line.
struct LiveScorePoint {
    WallTime date = 0;
    std::optional<double> value; // 0 to 100; none marks a gap in tracking
    // The first point after tracking starts or stops, then at most one a second, and
    // every gap marker.
    bool originalSample = false;

    friend bool operator==(const LiveScorePoint&, const LiveScorePoint&) = default;
};

// The live score of the last five minutes, in memory only, for the live chart: thinned
// to one point per 0.28 s unless tracking starts or stops, with explicit valueless points
// where tracking was interrupted. Main thread only.
class LiveScoreStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<verticora::LiveScorePoint> points READ points NOTIFY pointsChanged FINAL)
    Q_PROPERTY(std::optional<double> current READ current NOTIFY currentChanged FINAL)

public:
    static constexpr double minimumSpacing = 0.28;
    static constexpr double gapMarkerLead = 0.01;
    static constexpr double originalSampleSpacing = 1.0;
    static constexpr double window = 300;
    static constexpr qsizetype pointCap = 2400;

    explicit LiveScoreStore(QObject* parent = nullptr);

    // The live score of a deviation: 100 at the chosen height, 85 at yellow, 50 at red,
    // down to 0 further out. None for a missing or non-finite deviation or an invalid pair.
    [[nodiscard]] static std::optional<double> value(std::optional<double> deviation, double yellow, double red);

    // Ascending by date; never older than 300 s before the newest point, at most 2400.
    [[nodiscard]] const QList<LiveScorePoint>& points() const { return m_points; }
    // The score of the latest reading; none while there is no valid reading.
    [[nodiscard]] std::optional<double> current() const { return m_current; }
    [[nodiscard]] WallTime lastRecorded() const { return m_lastRecorded; }
    [[nodiscard]] WallTime lastOriginalRecorded() const { return m_lastOriginalRecorded; }

    // One reading. An ineligible one is a gap: the model passes it, without a deviation,
    // at every interruption (stop, pause, height reset, threshold change).
    void record(std::optional<double> deviation, double yellow, double red, WallTime at, bool eligible);

    // The live end of the line: the newest point while it has a value, the current score
    // is valid and it is at most 1.5 s old.
    [[nodiscard]] std::optional<LiveScorePoint> currentEndpoint(WallTime now) const;

    // The chart's spoken summary; `inactiveStatus` stands in for the current score when
    // there is none.
    [[nodiscard]] QString historyDescription(WallTime now, const QString& inactiveStatus) const;

signals:
    void pointsChanged();
    void currentChanged();

private:
    void setCurrent(std::optional<double> current);
    void dropExpired(WallTime newest);

    QList<LiveScorePoint> m_points;
    std::optional<double> m_current;
    WallTime m_lastRecorded;
    WallTime m_lastOriginalRecorded;
};

} // namespace verticora
