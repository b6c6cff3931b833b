#pragma once

#include "analysis/PostureBand.h"
#include "analysis/ThresholdRules.h"
#include "store/DailyProgressCalendar.h"
#include "store/DayProgress.h"
#include "store/WallClock.h"

#include <QList>
#include <QObject>
#include <QString>

#include <map>
#include <optional>
#include <vector>

namespace verticora {

// Turns the stream of posture readings into seconds per band, per calendar day and hour,
// publishes them about once a second and keeps them in daily-progress.json, saved about
// every 30 s of tracking and on `flush`. Time is credited only between two close usable
// readings, so tracking gaps never count. A file it cannot trust is set aside, never
// overwritten. Main thread only.
class ProgressStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<verticora::DayProgress> days READ days NOTIFY daysChanged FINAL)
    Q_PROPERTY(std::optional<QString> errorMessage READ errorMessage NOTIFY errorMessageChanged FINAL)

public:
    static constexpr double defaultSaveInterval = 30;
    static constexpr double defaultPublishInterval = 1;

    // Loads `path` at once, after deleting the temporary files of saves that were killed.
    // An unreadable file is moved aside beside it (named with the current time of `now`);
    // when that fails too it is kept and nothing is ever written. Without the calendar's
    // time zone nothing is read, recorded or written, and `errorMessage` says why.
    explicit ProgressStore(QString path, WallClock now = systemWallTime, double maxSampleGap = maximumTrackingGap,
                           double saveInterval = defaultSaveInterval, double publishInterval = defaultPublishInterval,
                           QObject* parent = nullptr);

    // The published history, ascending by dateID.
    [[nodiscard]] const QList<DayProgress>& days() const { return m_days; }
    // The last storage problem, as the sentence shown to the user.
    [[nodiscard]] const std::optional<QString>& errorMessage() const { return m_errorMessage; }
    [[nodiscard]] const QString& path() const { return m_path; }
    // The current wall-clock time, for views that need today.
    [[nodiscard]] WallTime now() const { return m_now(); }
    [[nodiscard]] double maxSampleGap() const { return m_maxSampleGap; }
    [[nodiscard]] double saveInterval() const { return m_saveInterval; }
    [[nodiscard]] double publishInterval() const { return m_publishInterval; }
    // Readings refused for a time that was not finite or went backwards.
    [[nodiscard]] int rejectedSamples() const { return m_rejectedSamples; }
    [[nodiscard]] bool writeBlocked() const { return m_writeBlocked; }

    // One reading: the engine's deviation (`score`), the levels in force, the reading's
    // wall-clock time and whether it may count at all. The stretch since the previous
    // reading is credited to that reading's band when both have a band and lie at most
    // `maxSampleGap` apart.
    void record(std::optional<double> score, double yellow, double red, WallTime at, bool eligible);

    // Publishes `days` and, when something changed since the last save, saves at once.
    void flush();

    // Tells observers to look again (today changed) without changing `days`.
    void announceNewDay();

signals:
    void daysChanged();
    void errorMessageChanged();

private:
    struct Anchor {
        WallTime date = 0;
        PostureBand band = PostureBand::green;
    };

    void load();
    void setAside(const QString& reason);
    void blockWriting(const QString& reason);
    void integrate(WallTime start, WallTime end, PostureBand band);
    void credit(PostureBand band, double seconds);
    void maybePersist(WallTime now);
    void publish();
    void save();
    void setErrorMessage(std::optional<QString> message);

    QList<DayProgress> m_days;
    std::optional<QString> m_errorMessage;
    QString m_path;
    WallClock m_now;
    double m_maxSampleGap;
    double m_saveInterval;
    double m_publishInterval;
    std::map<QString, DayProgress> m_storage;
    std::optional<Anchor> m_anchor;
    bool m_dirty = false;
    std::optional<WallTime> m_lastSave;
    std::optional<WallTime> m_lastPublish;
    bool m_writeBlocked = false;
    bool m_recording = true; // off when the calendar's time zone is missing
    int m_rejectedSamples = 0;

    // The hour last credited and its day in `m_storage` (map nodes never move), so a
    // reading inside the same hour needs no calendar work.
    DailyProgressCalendar::Hour m_hour;
    DayProgress* m_hourDay = nullptr;
    // Days credited since the last publication; only they can differ from `m_days`.
    std::vector<QString> m_changedDays;
};

} // namespace verticora
