#include "store/DailyProgressFile.h"


#include <gtest/gtest.h>

#include <random>

using namespace verticora;

namespace {

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
    EXPECT_EQ(decodeDailyProgress(bytes), file);
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
    for (const QByteArray& bytes : refused)
        EXPECT_FALSE(decodeDailyProgress(bytes)) << bytes.toStdString();
    // Qt lets these through; they are not JSON, and this reader refuses them.
    const QByteArray laxOnly[] = {
        file(QByteArray(hours()).replace("{\"greenSeconds\":0", "{\"greenSeconds\":1.")),
        QByteArray("{\"version\":1,\"timeZone\":\"America\\ud800\",\"days\":[]}"),
        QByteArray("{\"version\":1,\"timeZone\":\"tab\tinside\",\"days\":[]}"),
    };
    for (const QByteArray& bytes : laxOnly)
        EXPECT_FALSE(decodeDailyProgress(bytes)) << bytes.toStdString();
    // Tiny numbers are zero, as Qt reads them; a nesting too deep to be a real file is refused.
    EXPECT_TRUE(decodeDailyProgress(file(QByteArray(hours()).replace("{\"greenSeconds\":0", "{\"greenSeconds\":1e-400"))));
    const QByteArray deep = QByteArray(600, '[') + QByteArray(600, ']');
    EXPECT_FALSE(decodeDailyProgress("{\"version\":1,\"timeZone\":\"America/New_York\",\"days\":[],\"x\":" + deep + "}"));
}
