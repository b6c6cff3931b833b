#include "StoreTestSupport.h"

#include "store/ProgressStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace verticora;
using namespace verticora::test;

namespace {

constexpr double yellow = 0.45;
constexpr double red = 0.85;
constexpr double green = 0.1; // deviations that fall in each band
constexpr double inYellow = 0.5;
constexpr double inRed = 1.0;

const QString unreadableFormat =
    QStringLiteral("Daily progress could not be read and will not be overwritten: The file daily-progress.json is "
                   "not in the correct format.");

class ProgressStoreTest : public ::testing::Test {
protected:
    std::unique_ptr<ProgressStore> makeStore()
    {
        return std::make_unique<ProgressStore>(m_path, m_clock.function());
    }

    // For hours of readings: saves only on flush, since each save waits for the disk.
    std::unique_ptr<ProgressStore> makeStoreSavingOnFlush()
    {
        return std::make_unique<ProgressStore>(m_path, m_clock.function(), maximumTrackingGap,
                                               std::numeric_limits<double>::infinity());
    }

    // One reading of a tracked face.
    static void reading(ProgressStore& store, double deviation, WallTime at)
    {
        store.record(deviation, yellow, red, at, true);
    }

    // Readings every `step` seconds from `start` up to and including `end`.
    static void steady(ProgressStore& store, double deviation, WallTime start, WallTime end, double step = 1.0)
    {
        for (WallTime t = start; t <= end + 1e-9; t += step)
            reading(store, deviation, t);
    }

    static const DayProgress* day(const ProgressStore& store, const QString& id)
    {
        for (const DayProgress& d : store.days()) {
            if (d.dateID == id)
                return &d;
        }
        return nullptr;
    }

    // Puts `bytes` where the store looks for its file.
    void plant(const QByteArray& bytes)
    {
        QDir().mkpath(QFileInfo(m_path).path());
        writeBytes(m_path, bytes);
    }

    TempFolder m_folder;
    QString m_path = m_folder.file(QStringLiteral("Verticora/daily-progress.json"));
    ManualClock m_clock;
};

} // namespace

TEST_F(ProgressStoreTest, creditsOnlyCloseReadingsToTheEarlierBand)
{
    auto store = makeStore();
    const WallTime t = newYork(2025, 6, 2, 10, 0, 0);
    reading(*store, green, t);
    reading(*store, green, t + 1.0); // 1.0 s green
    reading(*store, green, t + 3.0); // 2.0 s gap: nothing, but a new anchor
    reading(*store, inYellow, t + 4.0); // 1.0 s, credited to the anchor's green
    reading(*store, inYellow, t + 5.0); // 1.0 s yellow
    reading(*store, inRed, t + 5.5);    // 0.5 s yellow
    store->record(inRed, yellow, red, t + 6.5, false); // ineligible: the red stretch is not credited
    reading(*store, inRed, t + 7.0);    // no anchor
    store->record(std::nullopt, yellow, red, t + 7.5, true); // no score: no band
    reading(*store, inRed, t + 8.0);
    store->record(inRed, 0.5, 0.6, t + 8.5, true); // invalid pair: no band
    store->flush();

    const DayProgress* today = day(*store, QStringLiteral("2025-06-02"));
    ASSERT_TRUE(today);
    EXPECT_DOUBLE_EQ(today->greenSeconds, 2.0);
    EXPECT_DOUBLE_EQ(today->yellowSeconds, 1.5);
    EXPECT_DOUBLE_EQ(today->redSeconds, 0.0);
    EXPECT_DOUBLE_EQ(today->hours[10].greenSeconds, 2.0);
    EXPECT_DOUBLE_EQ(today->hours[10].yellowSeconds, 1.5);
    EXPECT_EQ(store->rejectedSamples(), 0);
}

TEST_F(ProgressStoreTest, repeatedEarlierAndNonFiniteTimes)
{
    auto store = makeStore();
    const WallTime t = newYork(2025, 6, 2, 10, 0, 0);
    reading(*store, green, t);
    reading(*store, inRed, t);       // same time with a band: nothing changes, anchor kept
    reading(*store, green, t + 1.0); // credits 1.0 s to the first reading's green
    store->record(std::nullopt, yellow, red, t + 1.0, false); // same time, no band: clears the anchor
    reading(*store, green, t + 2.0); // no anchor: nothing
    reading(*store, green, t + 1.5); // earlier: refused, anchor cleared
    reading(*store, green, t + 2.5); // no anchor: nothing
    store->record(green, yellow, red, std::numeric_limits<double>::quiet_NaN(), true);
    store->record(green, yellow, red, 1e300, true);
    reading(*store, green, t + 3.0); // anchor was cleared by the refused times
    reading(*store, green, t + 3.25);
    store->flush();

    const DayProgress* today = day(*store, QStringLiteral("2025-06-02"));
    ASSERT_TRUE(today);
    EXPECT_DOUBLE_EQ(today->greenSeconds, 1.25);
    EXPECT_DOUBLE_EQ(today->redSeconds, 0.0);
    EXPECT_EQ(store->rejectedSamples(), 3);
}

TEST_F(ProgressStoreTest, intervalsSplitAtTheHourAndAtMidnight)
{
    auto store = makeStore();
    reading(*store, green, newYork(2025, 6, 2, 10, 59, 59.5));
    reading(*store, green, newYork(2025, 6, 2, 11, 0, 0.5));
    reading(*store, inYellow, newYork(2025, 6, 2, 23, 59, 59.5));
    reading(*store, inYellow, newYork(2025, 6, 3, 0, 0, 0.5));
    store->flush();

    ASSERT_EQ(store->days().size(), 2);
    const DayProgress& first = store->days()[0];
    const DayProgress& second = store->days()[1];
    EXPECT_EQ(first.dateID, QStringLiteral("2025-06-02"));
    EXPECT_EQ(first.hours[10].greenSeconds, 0.5);
    EXPECT_EQ(first.hours[11].greenSeconds, 0.5);
    EXPECT_EQ(first.hours[23].yellowSeconds, 0.5);
    EXPECT_EQ(first.yellowSeconds, 0.5);
    EXPECT_EQ(second.dateID, QStringLiteral("2025-06-03"));
    EXPECT_EQ(second.hours[0].yellowSeconds, 0.5);
    EXPECT_EQ(second.yellowSeconds, 0.5);
}

TEST_F(ProgressStoreTest, bothOneOClockHoursOfAutumnLandInHourOne)
{
    auto store = makeStoreSavingOnFlush();
    // 1:00 EDT is 05:00 UTC; 2:00 EST is 07:00 UTC: two hours of New York's hour 1.
    steady(*store, green, utc(2024, 11, 3, 4, 59, 0), utc(2024, 11, 3, 7, 1, 0));
    store->flush();
    ASSERT_EQ(store->days().size(), 1);
    const DayProgress& day = store->days()[0];
    EXPECT_EQ(day.dateID, QStringLiteral("2024-11-03"));
    EXPECT_DOUBLE_EQ(day.hours[0].greenSeconds, 60);
    EXPECT_DOUBLE_EQ(day.hours[1].greenSeconds, 7200);
    EXPECT_DOUBLE_EQ(day.hours[2].greenSeconds, 60);
    EXPECT_DOUBLE_EQ(day.greenSeconds, 7320);
    // The file with the 7200-second hour reads back.
    ProgressStore reloaded(m_path, m_clock.function());
    EXPECT_FALSE(reloaded.errorMessage());
    EXPECT_EQ(reloaded.days(), store->days());
}

TEST_F(ProgressStoreTest, aRepeatedWallClockHourNeverMakesAnUnreadableFile)
{
    auto store = makeStoreSavingOnFlush();
    const WallTime start = newYork(2025, 6, 2, 9, 0, 0);
    // The wall clock is set back by an hour three times: the same hour is tracked four times.
    for (int pass = 0; pass < 4; ++pass) {
        steady(*store, green, start, start + 3599, 1.0);
        reading(*store, green, start - 10); // earlier: refused, ends the run
    }
    store->flush();
    EXPECT_DOUBLE_EQ(store->days()[0].hours[9].greenSeconds, 7200);
    ProgressStore reloaded(m_path, m_clock.function());
    EXPECT_FALSE(reloaded.errorMessage());
    EXPECT_EQ(reloaded.days(), store->days());
}

TEST_F(ProgressStoreTest, publishesAtMostOnceASecondAndOnlyOnChange)
{
    auto store = makeStore();
    QSignalSpy published(store.get(), &ProgressStore::daysChanged);
    const WallTime t = newYork(2025, 6, 2, 10, 0, 0);
    for (int k = 0; k <= 12; ++k)
        reading(*store, green, t + 0.25 * k); // changes from 0.25 s on: published at 0.25, 1.25 and 2.25
    EXPECT_EQ(published.count(), 3);
    EXPECT_DOUBLE_EQ(store->days()[0].greenSeconds, 2.25);

    store->flush(); // publishes the last 0.75 s
    EXPECT_EQ(published.count(), 4);
    EXPECT_DOUBLE_EQ(store->days()[0].greenSeconds, 3.0);
    store->flush(); // nothing new: no notification
    store->record(std::nullopt, yellow, red, t + 10, false);
    EXPECT_EQ(published.count(), 4);

    store->announceNewDay();
    EXPECT_EQ(published.count(), 5);
}

TEST_F(ProgressStoreTest, savesThirtySecondsAfterTheFirstChangeAndAtOnceOnFlush)
{
    auto store = makeStore();
    EXPECT_TRUE(store->days().isEmpty());
    EXPECT_FALSE(store->errorMessage());
    store->flush(); // nothing to save: no file
    EXPECT_FALSE(QFileInfo::exists(m_path));
    const WallTime t = newYork(2025, 6, 2, 10, 0, 0);
    reading(*store, green, t);
    reading(*store, green, t + 1); // the first change starts the save clock
    EXPECT_FALSE(QFileInfo::exists(m_path));
    steady(*store, green, t + 2, t + 30);
    EXPECT_FALSE(QFileInfo::exists(m_path));
    reading(*store, green, t + 31); // 30 s after the first change
    ASSERT_TRUE(QFileInfo::exists(m_path));
    EXPECT_DOUBLE_EQ(ProgressStore(m_path, m_clock.function()).days()[0].greenSeconds, 31);

    reading(*store, green, t + 32);
    store->flush();
    EXPECT_DOUBLE_EQ(ProgressStore(m_path, m_clock.function()).days()[0].greenSeconds, 32);
}

TEST_F(ProgressStoreTest, loadsAValidFileSortedAndKeepsCountingOnIt)
{
    const DayProgress earlier = dayWithGreen(QStringLiteral("2025-06-01"), 9, 100);
    DayProgress later = dayWithGreen(QStringLiteral("2025-06-02"), 10, 0.005);
    later.greenSeconds += 0.009; // a total 9 ms off its hours' sum is still accepted
    plant(progressFile({later, earlier}));
    auto store = makeStore();
    EXPECT_FALSE(store->errorMessage());
    ASSERT_EQ(store->days().size(), 2);
    EXPECT_EQ(store->days()[0], earlier);
    EXPECT_EQ(store->days()[1], later);

    const WallTime t = newYork(2025, 6, 1, 9, 30, 0);
    reading(*store, green, t);
    reading(*store, green, t + 1);
    store->flush();
    EXPECT_DOUBLE_EQ(ProgressStore(m_path, m_clock.function()).days()[0].greenSeconds, 101);
}

namespace {

DayProgress goodDay()
{
    return dayWithGreen(QStringLiteral("2025-06-02"), 10, 60);
}

QByteArray fileWithGreen(const QString& id, double seconds)
{
    return progressFile({dayWithGreen(id, 10, seconds)});
}

struct Untrustworthy {
    const char* name;
    QByteArray (*bytes)();
};

class UntrustworthyProgressFile : public ProgressStoreTest, public ::testing::WithParamInterface<Untrustworthy> {};

} // namespace

TEST_P(UntrustworthyProgressFile, isSetAsideAndANewHistoryStarts)
{
    const QByteArray bytes = GetParam().bytes();
    plant(bytes);
    ProgressStore store(m_path, m_clock.function());
    const QString asideName = QStringLiteral("daily-progress.unreadable-%1.json").arg(qint64(m_clock.time));
    EXPECT_EQ(store.errorMessage(),
              QStringLiteral("Daily progress was unreadable and was set aside at %1. Starting a new history.").arg(asideName));
    EXPECT_TRUE(store.days().isEmpty());
    EXPECT_FALSE(store.writeBlocked());
    EXPECT_FALSE(QFileInfo::exists(m_path));
    EXPECT_EQ(readBytes(QFileInfo(m_path).dir().filePath(asideName)), bytes);

    // The next save starts a fresh file and clears the notice.
    const WallTime t = newYork(2025, 6, 5, 10, 0, 0);
    reading(store, green, t);
    reading(store, green, t + 1);
    store.flush();
    EXPECT_FALSE(store.errorMessage());
    ProgressStore fresh(m_path, m_clock.function());
    EXPECT_FALSE(fresh.errorMessage());
    EXPECT_EQ(fresh.days().size(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Files, UntrustworthyProgressFile,
    ::testing::Values(
        Untrustworthy{"notJson", [] { return QByteArray("{\"version\": 1, \"days\": ["); }},
        Untrustworthy{"otherZone", [] { return encodeDailyProgress({1, QStringLiteral("Europe/Paris"), {goodDay()}}); }},
        Untrustworthy{"version2", [] { return encodeDailyProgress({2, QStringLiteral("America/New_York"), {goodDay()}}); }},
        Untrustworthy{"twoDaysAlike", [] { return progressFile({goodDay(), goodDay()}); }},
        Untrustworthy{"noSuchDay", [] { return fileWithGreen(QStringLiteral("2025-02-30"), 60); }},
        Untrustworthy{"hourBeyond7200Seconds", [] { return fileWithGreen(QStringLiteral("2025-06-02"), 7200.5); }},
        Untrustworthy{"negativeSeconds", [] { return fileWithGreen(QStringLiteral("2025-06-02"), -1); }},
        Untrustworthy{"totalsOffBy20Milliseconds",
                      [] {
                          DayProgress day = goodDay();
                          day.greenSeconds += 0.02;
                          return progressFile({day});
                      }},
        Untrustworthy{"moreThan25Hours",
                      [] {
                          DayProgress day = goodDay();
                          for (HourProgress& hour : day.hours)
                              hour.redSeconds = 3750;
                          day.redSeconds = 24 * 3750;
                          return progressFile({day});
                      }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProgressStoreTest, fileThatCannotBeMovedAsideIsKeptAndNeverWritten)
{
    const QByteArray bytes = "{\"version\":2}";
    plant(bytes);
    // An earlier copy set aside in the same second already has the name: never replaced.
    const QString earlierCopy =
        QFileInfo(m_path).dir().filePath(QStringLiteral("daily-progress.unreadable-%1.json").arg(qint64(m_clock.time)));
    writeBytes(earlierCopy, "earlier");

    auto store = makeStore();
    EXPECT_EQ(store->errorMessage(), unreadableFormat);
    EXPECT_TRUE(store->writeBlocked());
    const WallTime t = newYork(2025, 6, 2, 10, 0, 0);
    steady(*store, green, t, t + 90);
    store->flush();
    EXPECT_DOUBLE_EQ(store->days()[0].greenSeconds, 90); // counting goes on in memory
    EXPECT_EQ(readBytes(m_path), bytes);
    EXPECT_EQ(readBytes(earlierCopy), "earlier");
    EXPECT_EQ(store->errorMessage(), unreadableFormat);
}

TEST_F(ProgressStoreTest, saveErrorIsShownUntilASaveSucceeds)
{
    const QString blocked = m_folder.file(QStringLiteral("Verticora"));
    writeBytes(blocked, "a file where the folder should be");
    auto store = makeStore();
    QSignalSpy messages(store.get(), &ProgressStore::errorMessageChanged);
    const WallTime t = newYork(2025, 6, 2, 10, 0, 0);
    reading(*store, green, t);
    reading(*store, green, t + 1);
    store->flush();
    ASSERT_TRUE(store->errorMessage());
    EXPECT_EQ(*store->errorMessage(),
              QStringLiteral("Could not save daily progress: %1 is not a folder.").arg(QDir::toNativeSeparators(blocked)));
    EXPECT_EQ(messages.count(), 1);

    QFile::remove(blocked);
    store->flush(); // still unsaved changes: tries again
    EXPECT_FALSE(store->errorMessage());
    EXPECT_EQ(messages.count(), 2);
    EXPECT_DOUBLE_EQ(ProgressStore(m_path, m_clock.function()).days()[0].greenSeconds, 1);
}

namespace {

// In a fresh process (the death test runs the test binary anew, so the calendar has not
// looked for its zone yet): hides the system's zone database behind a private mount,
// then checks that the store turns itself off without touching the file.
[[noreturn]] void recordWithoutTheZoneDatabase(const QString& folder, const QString& path, const QByteArray& bytes)
{
    QTemporaryDir empty;
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || mount(QFile::encodeName(empty.path()).constData(), "/usr/share/zoneinfo", nullptr, MS_BIND, nullptr) != 0) {
        std::fprintf(stderr, "cannot hide the zone database: %s\n", std::strerror(errno));
        std::_Exit(2);
    }
    ChildChecks checks;
    ProgressStore store(path, [] { return 1'750'000'000.0; });
    checks.expect(store.errorMessage()
                      == QStringLiteral("Daily progress is not recorded: this system has no time zone America/New_York."),
                  "message: " + store.errorMessage().value_or(QString()).toStdString());
    for (int k = 0; k < 40; ++k)
        store.record(0.1, 0.45, 0.85, 1'750'000'000.0 + k, true);
    store.flush();
    checks.expect(store.days().isEmpty(), "recorded days in an unknown calendar");
    checks.expect(readBytes(path) == bytes, "the file changed");
    checks.expect(fileNames(QFileInfo(path).path()) == QStringList{"daily-progress.json"}, "wrote beside the file");
    std::fputs(checks.failures().c_str(), stderr);
    // _Exit runs no destructors: this process's own folders go by hand.
    umount("/usr/share/zoneinfo");
    empty.remove();
    QDir(folder).removeRecursively();
    std::_Exit(checks.failures().empty() ? 0 : 1);
}

// In a chroot the root is no mount point, so it cannot be made private, and a bind mount
// over the zone database would show through to the machine outside.
bool rootIsMountPoint()
{
    QFile mountInfo(QStringLiteral("/proc/self/mountinfo"));
    if (!mountInfo.open(QIODevice::ReadOnly))
        return false;
    // readAll, since /proc files claim to be empty
    const QList<QByteArray> lines = mountInfo.readAll().split('\n');
    return std::any_of(lines.begin(), lines.end(), [](const QByteArray& line) {
        const QList<QByteArray> fields = line.split(' ');
        return fields.size() > 4 && fields.at(4) == "/";
    });
}

} // namespace

TEST_F(ProgressStoreTest, missingTimeZoneTurnsRecordingOffInsteadOfAborting)
{
    if (geteuid() != 0 || !rootIsMountPoint())
        GTEST_SKIP() << "hiding the zone database needs a private mount (root, outside a chroot)";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const QByteArray bytes = fileWithGreen(QStringLiteral("2025-06-02"), 60);
    plant(bytes);
    EXPECT_EXIT(recordWithoutTheZoneDatabase(m_folder.path(), m_path, bytes), testing::ExitedWithCode(0), "");
}
