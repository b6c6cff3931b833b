#include "store/DailyProgressCalendar.h"

#include <QDateTime>
#include <QStringList>

#include <cmath>

namespace verticora {

namespace {

// Far beyond any real reading, far inside what QDateTime and qint64 can hold.
constexpr double representableSeconds = 1e14;

QString formatDateID(const QDate& date)
{
    return QString::asprintf("%04d-%02d-%02d", date.year(), date.month(), date.day());
}

QDateTime localTime(WallTime moment)
{
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(std::floor(moment)), DailyProgressCalendar::timeZone());
}

} // namespace

const QTimeZone& DailyProgressCalendar::timeZone()
{
    static const QTimeZone zone = [] {
        QTimeZone newYork(QByteArray(timeZoneID.data(), timeZoneID.size()));
        return newYork.isValid() ? newYork : QTimeZone::utc();
    }();
    return zone;
}

bool DailyProgressCalendar::available()
{
    return timeZone().id() == QByteArray(timeZoneID.data(), timeZoneID.size());
}

bool DailyProgressCalendar::representable(WallTime moment)
{
    return std::isfinite(moment) && std::abs(moment) < representableSeconds;
}

QString DailyProgressCalendar::dateID(WallTime moment)
{
    return formatDateID(localTime(moment).date());
}

std::optional<WallTime> DailyProgressCalendar::dateFromID(const QString& id)
{
    QList<int> numbers;
    for (const QString& piece : id.split(u'-', Qt::SkipEmptyParts)) {
        bool ok = false;
        const int number = piece.toInt(&ok, 10);
        if (ok)
            numbers.append(number);
    }
    if (numbers.size() != 3)
        return std::nullopt;
    const QDate date(numbers[0], numbers[1], numbers[2]);
    if (!date.isValid())
        return std::nullopt;
    const QDateTime noon(date, QTime(12, 0), timeZone());
    if (!noon.isValid() || formatDateID(noon.date()) != id)
        return std::nullopt;
    return static_cast<WallTime>(date.startOfDay(timeZone()).toSecsSinceEpoch());
}

DailyProgressCalendar::Hour DailyProgressCalendar::hourContaining(WallTime moment)
{
    const double wholeSecond = std::floor(moment);
    const QDateTime local = localTime(moment);
    const QTime time = local.time();
    // Zone offsets change only at whole hours here, so the local hour began this many
    // seconds ago and lasts 3600 seconds.
    const double start = wholeSecond - (time.minute() * 60 + time.second());
    return Hour{start, start + 3600, formatDateID(local.date()), time.hour()};
}

} // namespace verticora
