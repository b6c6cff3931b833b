// What another user, or a stray editor, can leave in the data folder: nothing there may
// hang Verticora, exhaust its memory, be written through, or lose the history.

#include "StoreTestSupport.h"

#include "store/ControlFile.h"
#include "store/DataFolder.h"
#include "store/PreferencesStore.h"
#include "store/ProgressStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <functional>

#include <sys/stat.h>
#include <unistd.h>

using namespace verticora;
using namespace verticora::test;

namespace {

mode_t typeAt(const QString& path)
{
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? (status.st_mode & S_IFMT) : 0;
}

struct DataFile {
    const char* id;
    const char* name;
    QByteArray good;
    qint64 limit;
    // Loads the file as the application does; the failure it reports, empty when it loaded.
    std::function<QString(const QString& path, WallClock now)> load;
    // Saves once after that load; the failure, empty when it saved.
    std::function<QString(const QString& path, WallClock now)> loadAndSave;
};

std::vector<DataFile> dataFiles()
{
    return {
        {"preferences", "preferences.json", encodePreferences(samplePreferences()), preferencesFileLimit,
         [](const QString& path, WallClock now) {
             PreferencesStore store(path, std::move(now));
             const PreferencesLoad load = store.load();
             return load.failure ? load.failure->description : QString();
         },
         [](const QString& path, WallClock now) {
             PreferencesStore store(path, std::move(now));
             (void)store.load();
             const auto failure = store.save(samplePreferences());
             return failure ? failure->description : QString();
         }},
        {"dailyProgress", "daily-progress.json", progressFile({dayWithGreen(QStringLiteral("2025-06-02"), 10, 60)}),
         dailyProgressFileLimit,
         [](const QString& path, WallClock now) {
             const ProgressStore store(path, std::move(now));
             return store.errorMessage().value_or(QString());
         },
         [](const QString& path, WallClock now) {
             ProgressStore store(path, std::move(now));
             store.record(0.1, 0.45, 0.85, 1'750'000'000, true);
             store.record(0.1, 0.45, 0.85, 1'750'000'001, true);
             store.flush();
             return store.errorMessage().value_or(QString());
         }},
    };
}

struct Plant {
    const char* id;
    mode_t type; // what must be found set aside
    bool needsRoot;
    bool (*make)(const QString& path, const DataFile& file, const QString& elsewhere);
};

const std::vector<Plant>& plants()
{
    static const std::vector<Plant> all = {
        {"linkToAnotherFile", S_IFLNK, false,
         [](const QString& path, const DataFile& file, const QString& elsewhere) {
             writeBytes(elsewhere, file.good);
             return QFile::link(elsewhere, path);
         }},
        {"pipe", S_IFIFO, false,
         [](const QString& path, const DataFile&, const QString&) {
             return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
         }},
        {"linkToDevZero", S_IFLNK, false,
         [](const QString& path, const DataFile&, const QString&) { return QFile::link("/dev/zero", path); }},
        {"beyondTheSizeLimit", S_IFREG, false,
         [](const QString& path, const DataFile& file, const QString&) {
             writeBytes(path, file.good);
             return ::truncate(QFile::encodeName(path).constData(), file.limit + 1) == 0;
         }},
        {"ownedByAnotherUser", S_IFREG, true,
         [](const QString& path, const DataFile& file, const QString&) {
             writeBytes(path, file.good);
             return ::chown(QFile::encodeName(path).constData(), nobodyID, nobodyID) == 0;
         }},
    };
    return all;
}

class PlantedDataFile : public ::testing::TestWithParam<std::tuple<std::size_t, std::size_t>> {};

} // namespace

// A link (to a file of the user's, or to /dev/zero), a pipe, a file far too large, or one
// planted by another user is set aside as it is, never opened for reading; the next save
// writes a fresh private file in its place and leaves whatever a link pointed to alone.
TEST_P(PlantedDataFile, isSetAsideUnreadAndReplacedOnSave)
{
    const DataFile file = dataFiles()[std::get<0>(GetParam())];
    const Plant& plant = plants()[std::get<1>(GetParam())];
    if (plant.needsRoot && ::geteuid() != 0)
        GTEST_SKIP() << "giving a file away needs root";
    TempFolder folder;
    const QString path = folder.file(QString::fromLatin1(file.name));
    const QString elsewhere = folder.file(QStringLiteral("elsewhere/") + QString::fromLatin1(file.name));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(elsewhere).path()));
    ASSERT_TRUE(plant.make(path, file, elsewhere));
    const WallClock now = [] { return 1'700'000'000.0; };

    EXPECT_FALSE(file.load(path, now).isEmpty()) << "it loaded";
    const QString aside = folder.file(QFileInfo(path).completeBaseName() + QStringLiteral(".unreadable-1700000000.json"));
    EXPECT_EQ(typeAt(aside), plant.type) << "not set aside as it was";

    ::unlink(QFile::encodeName(aside).constData());
    ASSERT_TRUE(plant.make(path, file, elsewhere + QStringLiteral(".2")));
    EXPECT_EQ(file.loadAndSave(path, [] { return 1'700'000'100.0; }), QString());
    EXPECT_EQ(typeAt(path), mode_t(S_IFREG));
    EXPECT_EQ(permissionBits(path), 0600u);
    if (QFileInfo::exists(elsewhere + QStringLiteral(".2"))) {
        EXPECT_EQ(readBytes(elsewhere + QStringLiteral(".2")), file.good) << "written through the link";
    }
}

INSTANTIATE_TEST_SUITE_P(Plants, PlantedDataFile,
                         ::testing::Combine(::testing::Range<std::size_t>(0, 2), ::testing::Range<std::size_t>(0, 5)),
                         [](const auto& info) {
                             return std::string(dataFiles()[std::get<0>(info.param)].id) + "_"
                                 + plants()[std::get<1>(info.param)].id;
                         });

TEST(DataFileSafety, writesReplaceALinkInsteadOfWritingThroughIt)
{
    TempFolder folder;
    const QString victim = folder.file(QStringLiteral("victim"));
    const QString notYet = folder.file(QStringLiteral("not-yet"));
    writeBytes(victim, "keep");
    const QString samples = folder.file(QStringLiteral("data/performance-samples.json"));
    const QString receipt = folder.file(QStringLiteral("data/update-resume.json"));
    ASSERT_TRUE(QDir().mkpath(folder.file(QStringLiteral("data"))));
    ASSERT_TRUE(QFile::link(victim, samples));
    ASSERT_TRUE(QFile::link(notYet, receipt));

    for (const QString& path : {samples, receipt}) {
        EXPECT_EQ(writeDataFile(path, "[]"), std::nullopt);
        EXPECT_EQ(typeAt(path), mode_t(S_IFREG));
        EXPECT_EQ(permissionBits(path), 0600u);
    }
    EXPECT_EQ(readBytes(victim), "keep");
    EXPECT_FALSE(QFileInfo::exists(notYet)) << "a dangling link made its target";
}

// A data folder others may write could have had anything planted in it: the user's own is
// made private; someone else's is not used at all, and says so in one sentence.
TEST(DataFileSafety, dataFolderIsMadePrivateOrRefused)
{
    TempFolder folder;
    const QString data = folder.file(QStringLiteral("Verticora"));
    ASSERT_TRUE(QDir().mkpath(data));
    ASSERT_EQ(::chmod(QFile::encodeName(data).constData(), 0777), 0);
    const QString own = data + QStringLiteral("/preferences.json");
    writeBytes(own, encodePreferences(samplePreferences()));
    ASSERT_EQ(::chmod(QFile::encodeName(own).constData(), 0666), 0);
    EXPECT_FALSE(PreferencesStore(own).load().failure);
    EXPECT_EQ(permissionBits(data), 0700u);
    EXPECT_EQ(permissionBits(own), 0600u);

    // As root a folder is given away; otherwise the root folder is someone else's already.
    QString foreign = QDir::rootPath();
    if (::geteuid() == 0) {
        foreign = folder.file(QStringLiteral("foreign"));
        ASSERT_TRUE(QDir().mkpath(foreign));
        ASSERT_EQ(::chmod(QFile::encodeName(foreign).constData(), 0777), 0);
        ASSERT_EQ(::chown(QFile::encodeName(foreign).constData(), nobodyID, nobodyID), 0);
        writeBytes(foreign + QStringLiteral("/performance-request.json"), "{\"expires\": 1e12}");
        writeBytes(foreign + QStringLiteral("/preferences.json"), encodePreferences(samplePreferences()));
    }
    const QString refusal = QStringLiteral("The data folder %1 belongs to another user, so Verticora does not use it.")
                                .arg(QDir::toNativeSeparators(QDir::cleanPath(foreign)));
    const QString preferencesPath = QDir(foreign).filePath(QStringLiteral("preferences.json"));
    PreferencesStore preferences(preferencesPath);
    const PreferencesLoad load = preferences.load();
    ASSERT_TRUE(load.failure);
    EXPECT_EQ(load.failure->description, refusal);
    EXPECT_FALSE(preferences.setAsideName());
    EXPECT_TRUE(preferences.save(samplePreferences()));
    const ProgressStore progress(QDir(foreign).filePath(QStringLiteral("daily-progress.json")));
    EXPECT_EQ(progress.errorMessage(),
              QStringLiteral("Daily progress could not be read and will not be overwritten: ") + refusal);
    EXPECT_FALSE(readControlFile(QDir(foreign).filePath(QStringLiteral("performance-request.json"))));
    EXPECT_EQ(writeDataFile(QDir(foreign).filePath(QStringLiteral("update-request.json")), "{}"), refusal);
    if (::geteuid() == 0) {
        EXPECT_EQ(fileNames(foreign), (QStringList{"performance-request.json", "preferences.json"}));
    }
}

// An editor that saves with a byte-order mark must not cost the user their history.
TEST(DataFileSafety, aByteOrderMarkIsAcceptedByBothLoaders)
{
    for (const DataFile& file : dataFiles()) {
        TempFolder folder;
        const QString path = folder.file(QString::fromLatin1(file.name));
        writeBytes(path, "\xEF\xBB\xBF" + file.good);
        EXPECT_EQ(file.load(path, systemWallTime), QString()) << file.name;
        EXPECT_EQ(fileNames(folder.path()), QStringList{QString::fromLatin1(file.name)}) << "set aside";
    }
}
