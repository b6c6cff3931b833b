// Damaged files, generated from valid ones by cutting them short or changing bytes:
// each loader must either refuse the file or hand back content that is valid in full.

#include "StoreTestSupport.h"

#include "store/DailyProgressFile.h"
#include "store/PreferencesStore.h"
#include "store/ProgressStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <random>

using namespace verticora;
using namespace verticora::test;

namespace {

constexpr int mutationCount = 2500;

QByteArray threeDays()
{
    DailyProgressFile file;
    file.timeZone = QStringLiteral("America/New_York");
    for (const char* id : {"2024-11-03", "2025-03-09", "2025-06-02"}) {
        DayProgress day;
        day.dateID = QString::fromLatin1(id);
        for (int h = 8; h < 18; ++h) {
            HourProgress& hour = day.hours[std::size_t(h)];
            hour = {1200.5 + h, 300.25, 42.125};
            day.greenSeconds += hour.greenSeconds;
            day.yellowSeconds += hour.yellowSeconds;
            day.redSeconds += hour.redSeconds;
        }
        file.days.append(day);
    }
    return encodeDailyProgress(file);
}

// Every cut of `valid` (at most about `cuts` of them, evenly spread) and `mutationCount`
// copies with one to three bytes replaced, half by bytes that keep JSON almost intact.
std::vector<QByteArray> damagedVersions(const QByteArray& valid, int cuts)
{
    std::vector<QByteArray> versions;
    const qsizetype step = std::max<qsizetype>(1, valid.size() / cuts);
    for (qsizetype length = 0; length < valid.size(); length += step)
        versions.push_back(valid.left(length));

    std::mt19937 random(20240611);
    const QByteArray plausible = "0123456789.-+eE\"{}[],: ntfl";
    std::uniform_int_distribution<qsizetype> position(0, valid.size() - 1);
    std::uniform_int_distribution<int> byteValue(0, 255);
    std::uniform_int_distribution<qsizetype> plausibleByte(0, plausible.size() - 1);
    std::uniform_int_distribution<int> changes(1, 3);
    for (int i = 0; i < mutationCount; ++i) {
        QByteArray version = valid;
        for (int c = changes(random); c > 0; --c) {
            const qsizetype at = position(random);
            version[at] = (random() % 2) ? plausible[plausibleByte(random)] : char(byteValue(random));
        }
        versions.push_back(version);
    }
    return versions;
}

} // namespace

TEST(CorruptFiles, preferencesAreRefusedOrValidInFull)
{
    TempFolder folder;
    const QString path = folder.file(QStringLiteral("preferences.json"));
    const PreferencesStore store(path);
    const QByteArray valid = encodePreferences(samplePreferences());
    int accepted = 0;
    int refused = 0;
    for (const QByteArray& bytes : damagedVersions(valid, 2000)) {
        writeBytes(path, bytes);
        const PreferencesLoad load = store.load();
        ASSERT_NE(load.preferences.has_value(), load.failure.has_value()) << bytes.toStdString();
        if (load.failure) {
            ASSERT_EQ(load.failure->error, PreferencesError::invalid) << bytes.toStdString();
            ++refused;
            continue;
        }
        ++accepted;
        ASSERT_TRUE(load.preferences->valid(currentFeatureSchema)) << bytes.toStdString();
        for (const auto& [cameraID, calibration] : load.preferences->calibrations)
            ASSERT_EQ(load.preferences->calibration(cameraID), calibration) << bytes.toStdString();
    }
    EXPECT_GT(accepted, 0);
    EXPECT_GT(refused, 2000);
}

TEST(CorruptFiles, dailyProgressIsSetAsideOrValidInFull)
{
    TempFolder folder;
    const QString path = folder.file(QStringLiteral("daily-progress.json"));
    ManualClock clock;
    const QByteArray valid = threeDays();
    int accepted = 0;
    int setAside = 0;
    for (const QByteArray& bytes : damagedVersions(valid, 1000)) {
        clock.time += 1;
        writeBytes(path, bytes);
        const ProgressStore store(path, clock.function());
        if (store.errorMessage()) {
            const QString asideName = QStringLiteral("daily-progress.unreadable-%1.json").arg(qint64(clock.time));
            ASSERT_EQ(*store.errorMessage(), QStringLiteral("Daily progress was unreadable and was set aside at %1. "
                                                            "Starting a new history.")
                                                 .arg(asideName));
            ASSERT_TRUE(store.days().isEmpty());
            ASSERT_FALSE(QFileInfo::exists(path));
            ASSERT_EQ(readBytes(folder.file(asideName)), bytes);
            QFile::remove(folder.file(asideName));
            ++setAside;
            continue;
        }
        ++accepted;
        const DailyProgressFile reread{1, QStringLiteral("America/New_York"), store.days()};
        ASSERT_TRUE(reread.acceptable()) << bytes.toStdString();
        for (qsizetype i = 1; i < store.days().size(); ++i)
            ASSERT_LT(store.days()[i - 1].dateID, store.days()[i].dateID);
        ASSERT_EQ(readBytes(path), bytes);
    }
    EXPECT_GT(accepted, 0);
    EXPECT_GT(setAside, 1000);
}
