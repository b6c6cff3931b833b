#include "store/DailyProgressFile.h"

#include "store/DailyProgressCalendar.h"
#include "store/JsonReader.h"
#include "store/JsonScanner.h"

#include <charconv>
#include <cstdio>
#include <set>

namespace verticora {

namespace {

// The file is written by hand rather than through QJsonDocument: a three-year history
// has some 80,000 numbers, and building a JSON tree for them costs ten times the
// writing. Keys are written in sorted order; numbers in their shortest exact form.
void appendNumber(QByteArray& out, double value)
{
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr - buffer);
}

void appendString(QByteArray& out, const QString& text)
{
    out.append('"');
    // Multi-byte UTF-8 sequences never contain bytes below 0x80, so escaping bytes is safe.
    for (const char byte : text.toUtf8()) {
        if (byte == '"' || byte == '\\') {
            out.append('\\').append(byte);
        } else if (static_cast<unsigned char>(byte) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(byte));
            out.append(escape);
        } else {
            out.append(byte);
        }
    }
    out.append('"');
}

void appendSeconds(QByteArray& out, double green, double red, double yellow)
{
    out.append("\"greenSeconds\":");
    appendNumber(out, green);
    out.append(",\"redSeconds\":");
    appendNumber(out, red);
    out.append(",\"yellowSeconds\":");
    appendNumber(out, yellow);
}

void appendDay(QByteArray& out, const DayProgress& day)
{
    out.append("{\"dateID\":");
    appendString(out, day.dateID);
    out.append(",\"greenSeconds\":");
    appendNumber(out, day.greenSeconds);
    out.append(",\"hours\":[");
    for (std::size_t h = 0; h < day.hours.size(); ++h) {
        if (h > 0)
            out.append(',');
        out.append('{');
        appendSeconds(out, day.hours[h].greenSeconds, day.hours[h].redSeconds, day.hours[h].yellowSeconds);
        out.append('}');
    }
    out.append("],\"redSeconds\":");
    appendNumber(out, day.redSeconds);
    out.append(",\"yellowSeconds\":");
    appendNumber(out, day.yellowSeconds);
    out.append('}');
}

constexpr unsigned allBands = 7; // the three bits readBandSeconds sets
constexpr unsigned dateIDFound = 8;
constexpr unsigned hoursFound = 16;

// Reads the value of a band key shared by days and hours and notes it in `found`; none
// when `key` is not one of them.
std::optional<bool> readBandSeconds(JsonScanner& scanner, const std::string& key, double& green, double& yellow,
                                    double& red, unsigned& found)
{
    if (key == "greenSeconds") {
        found |= 1;
        return scanner.number(green);
    }
    if (key == "yellowSeconds") {
        found |= 2;
        return scanner.number(yellow);
    }
    if (key == "redSeconds") {
        found |= 4;
        return scanner.number(red);
    }
    return std::nullopt;
}

bool decodeHour(JsonScanner& scanner, HourProgress& hour)
{
    unsigned found = 0;
    const bool read = scanner.object([&](const std::string& key) {
        if (const auto band = readBandSeconds(scanner, key, hour.greenSeconds, hour.yellowSeconds, hour.redSeconds, found))
            return *band;
        return scanner.skipValue();
    });
    return read && found == allBands;
}

bool decodeHours(JsonScanner& scanner, DayProgress& day)
{
    std::size_t count = 0;
    const bool read = scanner.array([&] {
        if (count == day.hours.size())
            return false;
        return decodeHour(scanner, day.hours[count++]);
    });
    return read && count == day.hours.size();
}

bool decodeDay(JsonScanner& scanner, DayProgress& day)
{
    unsigned found = 0;
    const bool read = scanner.object([&](const std::string& key) {
        if (const auto band = readBandSeconds(scanner, key, day.greenSeconds, day.yellowSeconds, day.redSeconds, found))
            return *band;
        if (key == "dateID") {
            found |= dateIDFound;
            return scanner.string(day.dateID);
        }
        if (key == "hours") {
            found |= hoursFound;
            return decodeHours(scanner, day);
        }
        return scanner.skipValue();
    });
    return read && found == (allBands | dateIDFound | hoursFound);
}

bool decodeDays(JsonScanner& scanner, QList<DayProgress>& days)
{
    days.clear();
    return scanner.array([&] {
        DayProgress day;
        if (!decodeDay(scanner, day))
            return false;
        days.append(std::move(day));
        return true;
    });
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
    QByteArray out;
    out.reserve(64 + file.days.size() * 2000);
    out.append("{\"days\":[");
    for (qsizetype d = 0; d < file.days.size(); ++d) {
        if (d > 0)
            out.append(',');
        appendDay(out, file.days[d]);
    }
    out.append("],\"timeZone\":");
    appendString(out, file.timeZone);
    out.append(",\"version\":");
    out.append(QByteArray::number(file.version));
    out.append('}');
    return out;
}

std::optional<DailyProgressFile> decodeDailyProgress(const QByteArray& bytes)
{
    JsonScanner scanner(bytes);
    DailyProgressFile file;
    unsigned found = 0;
    if (!scanner.nextIs('{'))
        return std::nullopt;
    const bool read = scanner.object([&](const std::string& key) {
        if (key == "version") {
            found |= 1;
            double number = 0;
            const auto version = scanner.number(number) ? exactInteger(number) : std::nullopt;
            file.version = version.value_or(0);
            return version.has_value();
        }
        if (key == "timeZone") {
            found |= 2;
            return scanner.string(file.timeZone);
        }
        if (key == "days") {
            found |= 4;
            return decodeDays(scanner, file.days);
        }
        return scanner.skipValue();
    });
    if (!read || found != 7 || !scanner.finished())
        return std::nullopt;
    return file;
}

} // namespace verticora
