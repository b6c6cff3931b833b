#include "store/DailyProgressFile.h"

#include "store/DailyProgressCalendar.h"
#include "store/JsonReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <set>

namespace verticora {

namespace {

QJsonObject encodeSeconds(double green, double yellow, double red)
{
    return QJsonObject{{QStringLiteral("greenSeconds"), green},
                       {QStringLiteral("yellowSeconds"), yellow},
                       {QStringLiteral("redSeconds"), red}};
}

QJsonObject encodeDay(const DayProgress& day)
{
    QJsonArray hours;
    for (const HourProgress& hour : day.hours)
        hours.append(encodeSeconds(hour.greenSeconds, hour.yellowSeconds, hour.redSeconds));
    QJsonObject object = encodeSeconds(day.greenSeconds, day.yellowSeconds, day.redSeconds);
    object.insert(QStringLiteral("dateID"), day.dateID);
    object.insert(QStringLiteral("hours"), hours);
    return object;
}

bool decodeHour(const QJsonValue& value, HourProgress& hour)
{
    if (!value.isObject())
        return false;
    const QJsonObject object = value.toObject();
    JsonReader reader(object);
    hour.greenSeconds = reader.number(QLatin1StringView("greenSeconds"));
    hour.yellowSeconds = reader.number(QLatin1StringView("yellowSeconds"));
    hour.redSeconds = reader.number(QLatin1StringView("redSeconds"));
    return reader.ok();
}

std::optional<DayProgress> decodeDay(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    JsonReader reader(object);
    DayProgress day;
    day.dateID = reader.string(QLatin1StringView("dateID"));
    day.greenSeconds = reader.number(QLatin1StringView("greenSeconds"));
    day.yellowSeconds = reader.number(QLatin1StringView("yellowSeconds"));
    day.redSeconds = reader.number(QLatin1StringView("redSeconds"));
    const QJsonArray hours = reader.array(QLatin1StringView("hours"));
    if (!reader.ok() || hours.size() != hoursPerDay)
        return std::nullopt;
    for (int h = 0; h < hoursPerDay; ++h) {
        if (!decodeHour(hours[h], day.hours[std::size_t(h)]))
            return std::nullopt;
    }
    return day;
}

} // namespace

bool DailyProgressFile::acceptable() const
{
    if (version != currentVersion || timeZone != DailyProgressCalendar::timeZoneID)
        return false;
    std::set<QString> seen;
    for (const DayProgress& day : days) {
        if (!day.valid() || !seen.insert(day.dateID).second)
            return false;
    }
    return true;
}

QByteArray encodeDailyProgress(const DailyProgressFile& file)
{
    QJsonArray days;
    for (const DayProgress& day : file.days)
        days.append(encodeDay(day));
    const QJsonObject root{{QStringLiteral("version"), file.version},
                           {QStringLiteral("timeZone"), file.timeZone},
                           {QStringLiteral("days"), days}};
    // QJsonObject keeps its keys sorted, so the text comes out with sorted keys.
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

std::optional<DailyProgressFile> decodeDailyProgress(const QByteArray& bytes)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject root = document.object();
    JsonReader reader(root);
    DailyProgressFile file;
    file.version = reader.integer(QLatin1StringView("version"));
    file.timeZone = reader.string(QLatin1StringView("timeZone"));
    const QJsonArray days = reader.array(QLatin1StringView("days"));
    if (!reader.ok())
        return std::nullopt;
    file.days.reserve(days.size());
    for (const QJsonValue& value : days) {
        auto day = decodeDay(value);
        if (!day)
            return std::nullopt;
        file.days.append(std::move(*day));
    }
    return file;
}

} // namespace verticora
