#include "store/DailyProgressFile.h"
#include "store/JsonReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <cctype>
#include <random>

using namespace verticora;

namespace {

// The same decoding done with Qt's JSON document, as the reference the streaming reader
// must agree with.
std::optional<DailyProgressFile> referenceDecode(const QByteArray& bytes)
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
    for (const QJsonValue& value : days) {
        const QJsonObject object = value.toObject();
        JsonReader dayReader(object);
        DayProgress day;
        day.dateID = dayReader.string(QLatin1StringView("dateID"));
        day.greenSeconds = dayReader.number(QLatin1StringView("greenSeconds"));
        day.yellowSeconds = dayReader.number(QLatin1StringView("yellowSeconds"));
        day.redSeconds = dayReader.number(QLatin1StringView("redSeconds"));
        const QJsonArray hours = dayReader.array(QLatin1StringView("hours"));
        if (!value.isObject() || !dayReader.ok() || hours.size() != hoursPerDay)
            return std::nullopt;
        for (int h = 0; h < hoursPerDay; ++h) {
            const QJsonObject hourObject = hours[h].toObject();
            JsonReader hourReader(hourObject);
            HourProgress& hour = day.hours[std::size_t(h)];
            hour.greenSeconds = hourReader.number(QLatin1StringView("greenSeconds"));
            hour.yellowSeconds = hourReader.number(QLatin1StringView("yellowSeconds"));
            hour.redSeconds = hourReader.number(QLatin1StringView("redSeconds"));
            if (!hours[h].isObject() || !hourReader.ok())
                return std::nullopt;
        }
        file.days.append(day);
    }
    return file;
}

// Text that Qt's parser accepts although it is not JSON: raw control characters, a number
// ending in a point, an unpaired surrogate escape.
bool laxJson(const QByteArray& bytes)
{
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        const bool pointWithoutDigits = byte == '.' && i > 0 && std::isdigit(static_cast<unsigned char>(bytes[i - 1]))
            && (i + 1 == bytes.size() || !std::isdigit(static_cast<unsigned char>(bytes[i + 1])));
        if (byte < 0x20 || pointWithoutDigits)
            return true;
    }
    return bytes.contains("\\ud8") || bytes.contains("\\udc");
}

bool same(const std::optional<DailyProgressFile>& a, const std::optional<DailyProgressFile>& b)
{
    if (!a || !b)
        return !a && !b;
    return a->version == b->version && a->timeZone == b->timeZone && a->days == b->days;
}

DailyProgressFile sampleFile()
{
    DailyProgressFile file;
    file.timeZone = QStringLiteral("America/New_York");
    std::mt19937_64 random(99);
    std::uniform_real_distribution<double> seconds(0, 3600);
    for (const char* id : {"2025-06-01", "2025-06-02"}) {
        DayProgress day;
        day.dateID = QString::fromLatin1(id);
        for (HourProgress& hour : day.hours) {
            hour = {seconds(random), seconds(random) / 7, seconds(random) * 1e-9};
            day.greenSeconds += hour.greenSeconds;
            day.yellowSeconds += hour.yellowSeconds;
            day.redSeconds += hour.redSeconds;
        }
        file.days.append(day);
    }
    return file;
}

QByteArray hour(const char* seconds = "0")
{
    return QByteArray("{\"greenSeconds\":") + seconds + ",\"yellowSeconds\":0,\"redSeconds\":0}";
}

QByteArray hours()
{
    QByteArray list = "[";
    for (int h = 0; h < hoursPerDay; ++h)
        list += (h ? "," : "") + hour();
    return list + "]";
}

} // namespace

TEST(DailyProgressFile, encodingReadsBackExactly)
{
    DailyProgressFile file = sampleFile();
    file.days[0].dateID = QStringLiteral("odd \"id\" \\ with\ttab, é and 😀");
    const QByteArray bytes = encodeDailyProgress(file);
    EXPECT_TRUE(same(decodeDailyProgress(bytes), file));
    EXPECT_TRUE(same(referenceDecode(bytes), file));
    EXPECT_TRUE(bytes.startsWith("{\"days\":[{\"dateID\":"));
    EXPECT_TRUE(bytes.endsWith("],\"timeZone\":\"America/New_York\",\"version\":1}"));
}

TEST(DailyProgressFile, readerAcceptsAnyLayoutOfTheSameContent)
{
    const QByteArray day = "{ \"hours\" : " + hours() + " ,\n\t\"redSeconds\":0, \"yellowSeconds\":0.0,"
                           " \"greenSeconds\" : 0e5, \"date\\u0049D\":\"2025-06-02\", \"note\": [1, {\"x\": null}, true]}";
    const QByteArray bytes = "\r\n{\"version\": 1.0, \"extra\": {\"deep\": [[[]]]}, \"days\": [" + day +
                             "], \"timeZone\": \"America\\/New_York\"}  \n";
    const auto decoded = decodeDailyProgress(bytes);
    ASSERT_TRUE(decoded);
    EXPECT_TRUE(same(decoded, referenceDecode(bytes)));
    EXPECT_EQ(decoded->days[0].dateID, QStringLiteral("2025-06-02"));
    EXPECT_TRUE(decoded->acceptable());
}

TEST(DailyProgressFile, readerRefusesWhatIsNotStrictJson)
{
    const QByteArray day = "{\"dateID\":\"2025-06-02\",\"greenSeconds\":0,\"yellowSeconds\":0,\"redSeconds\":0,\"hours\":";
    const auto file = [&](const QByteArray& hoursText, const QByteArray& tail = "") {
        return "{\"version\":1,\"timeZone\":\"America/New_York\",\"days\":[" + day + hoursText + "}]}" + tail;
    };
    ASSERT_TRUE(decodeDailyProgress(file(hours())));
    QByteArray twentyThree = hours();
    twentyThree.remove(1, hour().size() + 1);
    QByteArray twentyFive = hours();
    twentyFive.insert(1, hour() + ",");
    const QByteArray refused[] = {
        file(hours(), "x"),
        file(hours(), ","),
        file(twentyThree),
        file(twentyFive),
        file(QByteArray(hours()).replace("]", ",]")),
        file(QByteArray(hours()).replace("{\"greenSeconds\":0", "{\"greenSeconds\":01")),
        file(QByteArray(hours()).replace("{\"greenSeconds\":0", "{\"greenSeconds\":+1")),
        file(QByteArray(hours()).replace("{\"greenSeconds\":0", "{\"greenSeconds\":1e400")),
        file(QByteArray(hours()).replace("{\"greenSeconds\":0", "{\"greenSeconds\":NaN")),
        file(QByteArray(hours()).replace("{\"greenSeconds\":0", "{\"greenSeconds\":\"0\"")),
        file(QByteArray(hours()).replace("{\"greenSeconds\":0", "{\"greenSeconds\":null")),
        file(QByteArray(hours()).replace("{\"greenSeconds\":0,", "{")),
        QByteArray("{\"version\":1.5,\"timeZone\":\"America/New_York\",\"days\":[]}"),
        QByteArray("{\"version\":1,\"timeZone\":\"America/New_York\",\"days\":[],}"),
        QByteArray("{\"version\":1,\"timeZone\":\"America\xff/New_York\",\"days\":[]}"),
        QByteArray("{\"version\":1,\"timeZone\":\"America/New_York\"}"),
        QByteArray("[]"),
        QByteArray(""),
    };
    for (const QByteArray& bytes : refused) {
        EXPECT_FALSE(decodeDailyProgress(bytes)) << bytes.toStdString();
        EXPECT_FALSE(referenceDecode(bytes)) << bytes.toStdString();
    }
    // Qt lets these through; they are not JSON, and this reader refuses them.
    const QByteArray laxOnly[] = {
        file(QByteArray(hours()).replace("{\"greenSeconds\":0", "{\"greenSeconds\":1.")),
        QByteArray("{\"version\":1,\"timeZone\":\"America\\ud800\",\"days\":[]}"),
        QByteArray("{\"version\":1,\"timeZone\":\"tab\tinside\",\"days\":[]}"),
    };
    for (const QByteArray& bytes : laxOnly) {
        EXPECT_FALSE(decodeDailyProgress(bytes)) << bytes.toStdString();
        EXPECT_TRUE(laxJson(bytes)) << bytes.toStdString();
    }
    // Tiny numbers are zero, as Qt reads them; a nesting too deep to be a real file is refused.
    EXPECT_TRUE(decodeDailyProgress(file(QByteArray(hours()).replace("{\"greenSeconds\":0", "{\"greenSeconds\":1e-400"))));
    const QByteArray deep = QByteArray(600, '[') + QByteArray(600, ']');
    EXPECT_FALSE(decodeDailyProgress("{\"version\":1,\"timeZone\":\"America/New_York\",\"days\":[],\"x\":" + deep + "}"));
}

TEST(DailyProgressFile, streamingReaderAgreesWithQtOnDamagedFiles)
{
    const QByteArray valid = encodeDailyProgress(sampleFile());
    std::mt19937 random(4711);
    const QByteArray plausible = "0123456789.-+eE\"{}[],: ntfl\\u";
    std::uniform_int_distribution<qsizetype> position(0, valid.size() - 1);
    int decoded = 0;
    for (qsizetype length = 0; length <= valid.size(); length += 7)
        ASSERT_TRUE(same(decodeDailyProgress(valid.left(length)), referenceDecode(valid.left(length)))) << length;
    for (int i = 0; i < 3000; ++i) {
        QByteArray bytes = valid;
        for (int c = 1 + int(random() % 3); c > 0; --c)
            bytes[position(random)] = (random() % 2) ? plausible[qsizetype(random() % plausible.size())] : char(random());
        const auto streamed = decodeDailyProgress(bytes);
        const auto reference = referenceDecode(bytes);
        // Never more lenient than Qt, never a different reading; stricter only on what is not JSON.
        if (streamed || !reference || !laxJson(bytes)) {
            ASSERT_TRUE(same(streamed, reference)) << bytes.toStdString();
        }
        decoded += streamed.has_value();
    }
    EXPECT_GT(decoded, 100);
}
