#include "store/ProgressStore.h"

#include "store/DailyProgressFile.h"
#include "store/DataFolder.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace verticora {

namespace {

// Caps that keep every stored day valid, whatever the clock does: two hours can share
// one bucket on the day the clocks go back, and a day has at most 25 hours.
constexpr double maximumHourSeconds = 7200;
constexpr double maximumDaySeconds = 90000;

double total(const HourProgress& hour)
{
    return hour.greenSeconds + hour.yellowSeconds + hour.redSeconds;
}

double total(const DayProgress& day)
{
    return day.greenSeconds + day.yellowSeconds + day.redSeconds;
}

void addToDay(DayProgress& day, PostureBand band, double seconds)
{
    switch (band) {
    case PostureBand::green:
        day.greenSeconds += seconds;
        break;
    case PostureBand::yellow:
        day.yellowSeconds += seconds;
        break;
    case PostureBand::red:
        day.redSeconds += seconds;
        break;
    }
}

QString notInTheCorrectFormat(const QString& path)
{
    return QStringLiteral("The file %1 is not in the correct format.").arg(QFileInfo(path).fileName());
}

} // namespace

ProgressStore::ProgressStore(QString path, WallClock now, double maxSampleGap, double saveInterval,
                             double publishInterval, QObject* parent)
    : QObject(parent)
    , m_path(std::move(path))
    , m_now(std::move(now))
    , m_maxSampleGap(maxSampleGap)
    , m_saveInterval(saveInterval)
    , m_publishInterval(publishInterval)
{
    load();
}

void ProgressStore::load()
{
    if (!DailyProgressCalendar::available()) {
        // Days and hours would fall in the wrong places: record nothing, touch nothing.
        m_writeBlocked = true;
        m_recording = false;
        setErrorMessage(QStringLiteral("Daily progress is not recorded: this system has no time zone %1.")
                            .arg(DailyProgressCalendar::timeZoneID));
        return;
    }
    removeAbandonedTemporaries(m_path);
    const FileContent content = readDataFile(m_path, dailyProgressFileLimit);
    switch (content.status) {
    case FileContent::Status::missing:
        return;
    case FileContent::Status::refusedFolder:
        blockWriting(content.error);
        return;
    case FileContent::Status::unreadable:
        setAside(content.error);
        return;
    case FileContent::Status::read:
        break;
    }
    const auto decoded = decodeDailyProgress(content.bytes);
    if (!decoded || !decoded->acceptable()) {
        setAside(notInTheCorrectFormat(m_path));
        return;
    }
    for (const DayProgress& day : decoded->days)
        m_storage.emplace(day.dateID, day);
    m_days.reserve(qsizetype(m_storage.size()));
    for (const auto& entry : m_storage)
        m_days.append(entry.second);
}

void ProgressStore::setAside(const QString& reason)
{
    if (const std::optional<QString> asideName = setAsideUnreadable(m_path, m_now())) {
        m_writeBlocked = false;
        setErrorMessage(QStringLiteral("Daily progress was unreadable and was set aside at %1. Starting a new history.")
                            .arg(*asideName));
    } else {
        blockWriting(reason);
    }
}

void ProgressStore::blockWriting(const QString& reason)
{
    m_writeBlocked = true;
    setErrorMessage(QStringLiteral("Daily progress could not be read and will not be overwritten: ") + reason);
}

void ProgressStore::record(std::optional<double> score, double yellow, double red, WallTime at, bool eligible)
{
    if (!m_recording)
        return;
    if (!DailyProgressCalendar::representable(at)) {
        ++m_rejectedSamples;
        m_anchor.reset();
        return;
    }
    const std::optional<PostureBand> band = eligible ? classify(score, yellow, red) : std::nullopt;
    if (m_anchor) {
        if (at < m_anchor->date) {
            ++m_rejectedSamples;
            m_anchor.reset();
            return;
        }
        if (at == m_anchor->date) {
            // A repeated time keeps a usable anchor; a repeated time without a band ends the run.
            if (!band)
                m_anchor.reset();
            return;
        }
    }
    if (m_anchor && band && at - m_anchor->date <= m_maxSampleGap)
        integrate(m_anchor->date, at, m_anchor->band);
    if (band)
        m_anchor = Anchor{at, *band};
    else
        m_anchor.reset();
    maybePersist(at);
}

void ProgressStore::integrate(WallTime start, WallTime end, PostureBand band)
{
    WallTime cursor = start;
    while (cursor < end) {
        if (!m_hourDay || cursor < m_hour.start || cursor >= m_hour.end) {
            m_hour = DailyProgressCalendar::hourContaining(cursor);
            auto [entry, inserted] = m_storage.try_emplace(m_hour.dateID);
            if (inserted)
                entry->second.dateID = m_hour.dateID;
            m_hourDay = &entry->second;
        }
        const WallTime segmentEnd = std::min(m_hour.end, end);
        credit(band, segmentEnd - cursor);
        cursor = segmentEnd;
    }
    m_dirty = true;
}

void ProgressStore::credit(PostureBand band, double seconds)
{
    DayProgress& day = *m_hourDay;
    HourProgress& hour = day.hours[std::size_t(m_hour.hour)];
    const double credited =
        std::max(0.0, std::min({seconds, maximumHourSeconds - total(hour), maximumDaySeconds - total(day)}));
    hour.add(band, credited);
    addToDay(day, band, credited);
    if (std::find(m_changedDays.begin(), m_changedDays.end(), day.dateID) == m_changedDays.end())
        m_changedDays.push_back(day.dateID);
}

void ProgressStore::maybePersist(WallTime now)
{
    if (!m_dirty)
        return;
    if (!m_lastPublish || std::abs(now - *m_lastPublish) >= m_publishInterval) {
        publish();
        m_lastPublish = now;
    }
    if (!m_lastSave) {
        // The first change only starts the clock.
        m_lastSave = now;
    } else if (std::abs(now - *m_lastSave) >= m_saveInterval) {
        save();
        m_lastSave = now;
    }
}

void ProgressStore::publish()
{
    bool changed = false;
    for (const QString& dateID : m_changedDays) {
        const DayProgress& stored = m_storage.at(dateID);
        const auto position = std::lower_bound(m_days.begin(), m_days.end(), dateID,
                                               [](const DayProgress& day, const QString& id) { return day.dateID < id; });
        if (position != m_days.end() && position->dateID == dateID) {
            if (*position == stored)
                continue;
            *position = stored;
        } else {
            m_days.insert(position, stored);
        }
        changed = true;
    }
    m_changedDays.clear();
    if (changed)
        emit daysChanged();
}

void ProgressStore::flush()
{
    publish();
    if (m_dirty)
        save();
}

void ProgressStore::announceNewDay()
{
    emit daysChanged();
}

void ProgressStore::save()
{
    if (m_writeBlocked)
        return;
    DailyProgressFile file;
    file.timeZone = DailyProgressCalendar::timeZoneID;
    file.days.reserve(qsizetype(m_storage.size()));
    for (const auto& entry : m_storage)
        file.days.append(entry.second);
    if (auto reason = writeDataFile(m_path, encodeDailyProgress(file))) {
        setErrorMessage(QStringLiteral("Could not save daily progress: ") + *reason);
        return;
    }
    m_dirty = false;
    if (m_errorMessage)
        setErrorMessage(std::nullopt);
}

void ProgressStore::setErrorMessage(std::optional<QString> message)
{
    if (m_errorMessage == message)
        return;
    m_errorMessage = std::move(message);
    emit errorMessageChanged();
}

} // namespace verticora
