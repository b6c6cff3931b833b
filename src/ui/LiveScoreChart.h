#pragma once

#include "analysis/PostureBand.h"
#include "store/LiveScoreStore.h"
#include "store/WallClock.h"

#include <QColor>
#include <QList>
#include <QPointF>
#include <QSizeF>
#include <QString>
#include <QWidget>

#include <optional>

class QLabel;
class QTimer;

namespace verticora {

// The band colour of a live score: 85 and above green, from 50 yellow, below red.
[[nodiscard]] PostureBand liveScoreBand(double score);

struct LiveScoreSegment {
    QPointF from;
    QPointF to;
    std::optional<PostureBand> band; // none: a dotted link across untracked time

    friend bool operator==(const LiveScoreSegment&, const LiveScoreSegment&) = default;
};

struct LiveScoreMarker {
    QPointF centre;
    PostureBand band = PostureBand::green;
};

// What the plot draws at `now` on a canvas of `size`: the right edge is now, the left
// edge five minutes earlier, score 100 at the top.
struct LiveScoreDrawing {
    QList<LiveScoreSegment> segments;
    std::optional<LiveScoreMarker> marker;

    [[nodiscard]] static LiveScoreDrawing of(const QList<LiveScorePoint>& points, std::optional<LiveScorePoint> endpoint,
                                             WallTime now, QSizeF size);
    [[nodiscard]] static QPointF position(WallTime date, double score, WallTime now, QSizeF size);
};

// The live score of the last five minutes: a header with the current score and a line
// that flows from right to left, coloured by band, with dotted links across tracking gaps
// and a marker on the newest reading. Redraws three times a second while shown, once a
// second with reduce motion.
class LiveScoreChart : public QWidget {
    Q_OBJECT
public:
    static constexpr int plotHeight = 220;

    explicit LiveScoreChart(LiveScoreStore& store, QWidget* parent = nullptr);
    ~LiveScoreChart() override;

    // The short status spoken when there is no score ("Camera off", ...).
    void setInactiveStatus(const QString& status);
    void setReduceMotion(bool reduce);
    // The wall clock the plot reads at every redraw (tests set their own).
    void setClock(WallClock clock);

    [[nodiscard]] const QString& inactiveStatus() const { return m_inactiveStatus; }
    [[nodiscard]] bool reduceMotion() const { return m_reduceMotion; }
    [[nodiscard]] int refreshInterval() const; // milliseconds
    [[nodiscard]] bool refreshing() const;
    [[nodiscard]] QString scoreText() const;
    [[nodiscard]] QWidget* plot() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    class Plot;

    void showCurrent();

    LiveScoreStore& m_store;
    QString m_inactiveStatus;
    bool m_reduceMotion = false;
    WallClock m_clock = systemWallTime;
    QLabel* m_score = nullptr;
    Plot* m_plot = nullptr;
};

} // namespace verticora
