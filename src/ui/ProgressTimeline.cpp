#include "ui/ProgressTimeline.h"

#include "store/DailyProgressCalendar.h"

#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <cmath>

namespace verticora {

namespace {

long long wholeSeconds(double seconds)
{
    if (!(seconds > 0))
        return 0;
    // Beyond any real duration; keeps the conversion defined.
    return static_cast<long long>(std::floor(std::min(seconds, 1e15)));
}

} // namespace

QDate ProgressTimeline::date(WallTime moment)
{
    if (!DailyProgressCalendar::representable(moment))
        return {};
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(std::floor(moment)), DailyProgressCalendar::timeZone())
        .date();
}

QString ProgressTimeline::dateID(const QDate& date)
{
    if (!date.isValid())
        return {};
    return QString::asprintf("%04d-%02d-%02d", date.year(), date.month(), date.day());
}

std::optional<QDate> ProgressTimeline::dateFromID(const QString& id)
{
    const auto start = DailyProgressCalendar::dateFromID(id);
    if (!start)
        return std::nullopt;
    // The start of a day can fall on its previous date only where a zone skips midnight;
    // noon is safely inside the day.
    return date(*start + 12 * 3600);
}

QList<QDate> ProgressTimeline::week(const QDate& date, int offset)
{
    if (!date.isValid())
        return {};
    const int back = date.dayOfWeek() - 1; // Monday 1 ... Sunday 7
    const QDate monday = date.addDays(7LL * offset - back);
    if (!monday.isValid())
        return {};
    QList<QDate> days;
    for (int i = 0; i < 7; ++i)
        days.append(monday.addDays(i));
    return days;
}

QString ProgressTimeline::title(const QDate& date, const QString& pattern)
{
    return QLocale::c().toString(date, pattern);
}

QString ProgressTimeline::duration(double seconds)
{
    const long long s = wholeSeconds(seconds);
    if (s < 60)
        return QStringLiteral("%1s").arg(s);
    if (s < 3600)
        return QStringLiteral("%1m").arg(s / 60);
    const long long remainder = s % 3600;
    if (remainder >= 60)
        return QStringLiteral("%1h %2m").arg(s / 3600).arg(remainder / 60);
    return QStringLiteral("%1h").arg(s / 3600);
}

QString DailyBalanceSummary::duration(double seconds)
{
    if (!(seconds > 0))
        return QStringLiteral("0s");
    if (seconds < 1)
        return QStringLiteral("<1s");
    const long long s = wholeSeconds(seconds);
    if (s < 60)
        return QStringLiteral("%1s").arg(s);
    if (s < 3600) {
        if (s % 60 != 0)
            return QStringLiteral("%1m %2s").arg(s / 60).arg(s % 60);
        return QStringLiteral("%1m").arg(s / 60);
    }
    return ProgressTimeline::duration(seconds);
}

double trackedSeconds(const DayProgress& day)
{
    return day.greenSeconds + day.yellowSeconds + day.redSeconds;
}

std::array<DailyBalanceSegment, 3> balanceSegments(const DayProgress& day)
{
    const double total = trackedSeconds(day);
    const std::array<std::pair<const char*, double>, 3> bands{
        {{"Green", day.greenSeconds}, {"Yellow", day.yellowSeconds}, {"Red", day.redSeconds}}};
    std::array<DailyBalanceSegment, 3> segments;
    double start = 0;
    for (int i = 0; i < 3; ++i) {
        DailyBalanceSegment& segment = segments[static_cast<std::size_t>(i)];
        segment.id = i;
        segment.title = QLatin1String(bands[static_cast<std::size_t>(i)].first);
        segment.seconds = bands[static_cast<std::size_t>(i)].second;
        if (total > 0)
            segment.fraction = segment.seconds / total;
        segment.start = start;
        segment.end = std::min(start + segment.fraction.value_or(0), 1.0);
        start += segment.fraction.value_or(0);
    }
    return segments;
}

std::optional<int> dailyScore(const DayProgress& day)
{
    const double total = trackedSeconds(day);
    if (!(total > 0))
        return std::nullopt;
    return static_cast<int>(std::lround((day.greenSeconds + 0.5 * day.yellowSeconds) * 100 / total));
}

} // namespace verticora
