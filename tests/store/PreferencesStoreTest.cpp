#include "StoreTestSupport.h"

#include "store/PreferencesStore.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <functional>
#include <limits>

#include <sys/file.h>

using namespace verticora;
using namespace verticora::test;

namespace {

const QString invalidText =
    QStringLiteral("Saved settings were invalid or from an incompatible tracking version. Set your zones again.");

SavedCalibration& camera(PosturePreferences& preferences)
{
    return preferences.calibrations.at(QStringLiteral("usb-cam-1"));
}

QJsonObject fullJson()
{
    return QJsonDocument::fromJson(encodePreferences(samplePreferences())).object();
}

QByteArray toBytes(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// A store at `path` as the application uses it: loaded, then saving.
std::optional<PreferencesFailure> saveOnce(const QString& path, const PosturePreferences& preferences)
{
    PreferencesStore store(path);
    (void)store.load();
    return store.save(preferences);
}

class PreferencesStoreTest : public ::testing::Test {
protected:
    PreferencesLoad loadBytes(const QByteArray& bytes)
    {
        writeBytes(m_path, bytes);
        return m_store.read();
    }

    TempFolder m_folder;
    QString m_dataFolder = m_folder.file(QStringLiteral("Verticora"));
    QString m_path = m_dataFolder + QStringLiteral("/preferences.json");
    ManualClock m_clock;
    PreferencesStore m_store{m_path, m_clock.function()};

    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkpath(m_dataFolder));
        ASSERT_FALSE(m_store.load().failure);
    }
};

void expectInvalid(const PreferencesLoad& load, const std::string& what)
{
    EXPECT_FALSE(load.preferences) << what;
    ASSERT_TRUE(load.failure) << what;
    EXPECT_EQ(load.failure->error, PreferencesError::invalid) << what;
    EXPECT_EQ(load.failure->description, invalidText) << what;
}

} // namespace

// Every field reads back. The modes and styles are stored by their enumerators' names:
// renaming one must not go unnoticed.
TEST_F(PreferencesStoreTest, everyFieldReadsBackAndEnumeratorsAreStoredByName)
{
    const char* modes[] = {"smoke", "smoke2", "smokeWide", "smoke8", "smoke20", "menuBar"};
    const char* styles[] = {"smoke", "vignette", "glow", "corners", "tide", "horizon"};
    for (int i = 0; i < 6; ++i) {
        PosturePreferences preferences = samplePreferences();
        preferences.reminderMode = static_cast<ReminderMode>(i);
        preferences.edgeEffectStyle = static_cast<EdgeEffectStyle>(i);
        ASSERT_FALSE(m_store.save(preferences));
        const QJsonObject root = QJsonDocument::fromJson(readBytes(m_path)).object();
        EXPECT_EQ(root[QStringLiteral("reminderMode")].toString(), QLatin1StringView(modes[i]));
        EXPECT_EQ(root[QStringLiteral("edgeEffectStyle")].toString(), QLatin1StringView(styles[i]));
        const PreferencesLoad load = m_store.read();
        EXPECT_FALSE(load.failure);
        EXPECT_TRUE(load.preferences == preferences) << modes[i];
    }
    // Absent optionals are left out, never written as null.
    EXPECT_FALSE(readBytes(m_path).contains("null"));
    EXPECT_FALSE(QJsonDocument::fromJson(readBytes(m_path))
                     .object()[QStringLiteral("calibrations")][QStringLiteral("built-in")]
                     .toObject()
                     .contains(QStringLiteral("landmarkHeight")));
}

namespace {

struct RecordRule {
    const char* name;
    std::function<void(PosturePreferences&)> change;
    bool valid;
};

class PreferencesRecordRule : public PreferencesStoreTest, public ::testing::WithParamInterface<RecordRule> {};

} // namespace

// An invalid record never reaches the disk, and the same record written by someone else
// is refused on load. The delay and zone-pair rules themselves are tested with the
// analysis code; one case each shows the record applies them.
TEST_P(PreferencesRecordRule, acceptsOrRefusesTheBoundary)
{
    PosturePreferences preferences = samplePreferences();
    GetParam().change(preferences);
    EXPECT_EQ(preferences.valid(currentFeatureSchema), GetParam().valid);

    QFile::remove(m_path);
    const auto failure = m_store.save(preferences);
    EXPECT_EQ(!failure, GetParam().valid);
    if (GetParam().valid || !failure)
        return;
    EXPECT_EQ(failure->error, PreferencesError::invalid);
    EXPECT_FALSE(QFileInfo::exists(m_path));
    const QByteArray bytes = encodePreferences(preferences);
    if (QJsonDocument::fromJson(bytes).isObject() && !bytes.contains("null"))
        expectInvalid(loadBytes(bytes), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(Rules, PreferencesRecordRule, ::testing::Values(
        RecordRule{"smokeDepth50", [](auto& p) { p.smokeDepth = 50; }, true},
        RecordRule{"smokeDepth50p5", [](auto& p) { p.smokeDepth = 50.5; }, false},
        RecordRule{"smokeDepth1", [](auto& p) { p.smokeDepth = -1; }, false},
        RecordRule{"smokeDepthNaN", [](auto& p) { p.smokeDepth = std::numeric_limits<double>::quiet_NaN(); }, false},
        RecordRule{"noSmokeDepth", [](auto& p) { p.smokeDepth.reset(); }, true},
        RecordRule{"delay5p1", [](auto& p) { p.delay = 5.1; }, false},
        RecordRule{"yellow0p8Red0p99", [](auto& p) { p.yellow = 0.8, p.red = 0.99; }, false},
        RecordRule{"blankCamera", [](auto& p) { p.selectedCameraID = QStringLiteral("   "); }, false},
        RecordRule{"newlineCamera", [](auto& p) { p.selectedCameraID = QStringLiteral("\n\t"); }, false},
        RecordRule{"noCamera", [](auto& p) { p.selectedCameraID.reset(); }, true},
        RecordRule{"version2", [](auto& p) { p.version = 2; }, false},
        RecordRule{"otherSchema", [](auto& p) { p.featureSchema = QStringLiteral("seated-height-v3"); }, false},
        RecordRule{"legacySchema", [](auto& p) { p.featureSchema = QString(legacyFeatureSchema); }, false},
        RecordRule{"calibrationUnderAnotherKey",
         [](auto& p) { p.calibrations.emplace(QStringLiteral("A"), calibrationFor(QStringLiteral("B"))); }, false},
        RecordRule{"baselineOf5", [](auto& p) { camera(p).baseline.pop_back(); }, false},
        RecordRule{"baselineOf7", [](auto& p) { camera(p).baseline.push_back(0.5); }, false},
        RecordRule{"infiniteBaseline",
         [](auto& p) { camera(p).baseline[2] = std::numeric_limits<double>::infinity(); }, false},
        RecordRule{"tinyFaceBaseline", [](auto& p) { camera(p).baseline[3] = 0.08; }, false},
        RecordRule{"referenceLineOnTheNose",
         [](auto& p) { camera(p).landmarkHeight->referenceLineY = 0.5; }, false},
        RecordRule{"calibrationPairInvalid", [](auto& p) { camera(p).red = 0.55; }, false},
        RecordRule{"calibrationOfALegacySchema",
         [](auto& p) { camera(p).featureSchema = QString(legacyFeatureSchema); }, false}),
    [](const auto& info) { return std::string(info.param.name); });

namespace {

struct Decoding {
    std::string name;
    std::function<void(QJsonObject&)> change;
    bool loads;
};

std::vector<Decoding> decodingCases()
{
    const auto calibrationChange = [](std::function<void(QJsonObject&)> change) {
        return [change](QJsonObject& root) {
            QJsonObject calibrations = root[QStringLiteral("calibrations")].toObject();
            QJsonObject entry = calibrations[QStringLiteral("usb-cam-1")].toObject();
            change(entry);
            calibrations[QStringLiteral("usb-cam-1")] = entry;
            root[QStringLiteral("calibrations")] = calibrations;
        };
    };
    std::vector<Decoding> cases;
    const auto without = [&](const char* key, bool loads) {
        cases.push_back({std::string("without_") + key, [key](QJsonObject& root) { root.remove(QLatin1StringView(key)); },
                         loads});
    };
    for (const char* key : {"version", "featureSchema", "delay", "yellow", "red", "calibrations"})
        without(key, false);
    for (const char* key : {"selectedCameraID", "reminderMode", "edgeEffectStyle", "liveChartMotion", "menuBarStyle",
                            "redAlertEnabled", "smokeDepth"})
        without(key, true);
    const std::vector<Decoding> more = {
        {"versionAsText", [](auto& r) { r[QStringLiteral("version")] = QStringLiteral("1"); }, false},
        {"version1p5", [](auto& r) { r[QStringLiteral("version")] = 1.5; }, false},
        {"delayAsText", [](auto& r) { r[QStringLiteral("delay")] = QStringLiteral("2"); }, false},
        {"delayAsInteger", [](auto& r) { r[QStringLiteral("delay")] = 4; }, true},
        {"redAlertAsText", [](auto& r) { r[QStringLiteral("redAlertEnabled")] = QStringLiteral("yes"); }, false},
        {"smokeDepthAsText", [](auto& r) { r[QStringLiteral("smokeDepth")] = QStringLiteral("8"); }, false},
        {"cameraAsNumber", [](auto& r) { r[QStringLiteral("selectedCameraID")] = 3; }, false},
        {"nullOptional", [](auto& r) { r[QStringLiteral("smokeDepth")] = QJsonValue(); }, true},
        {"nullRequired", [](auto& r) { r[QStringLiteral("delay")] = QJsonValue(); }, false},
        {"unknownReminderMode", [](auto& r) { r[QStringLiteral("reminderMode")] = QStringLiteral("smoke3"); }, false},
        {"unknownEdgeStyle", [](auto& r) { r[QStringLiteral("edgeEffectStyle")] = QStringLiteral("Tide"); }, false},
        {"scopedReminderMode",
         [](auto& r) { r[QStringLiteral("reminderMode")] = QStringLiteral("verticora::settings::smoke20"); }, false},
        {"edgeStyleCutByANUL",
         [](auto& r) { r[QStringLiteral("edgeEffectStyle")] = QStringLiteral("tide") + QChar(0) + QStringLiteral("x"); },
         false},
        {"freeChartMotion", [](auto& r) { r[QStringLiteral("liveChartMotion")] = QStringLiteral("bouncy"); }, true},
        {"extraKeys", [](auto& r) { r[QStringLiteral("futureSetting")] = QJsonObject{{QStringLiteral("x"), 1}}; }, true},
        {"calibrationsAsArray", [](auto& r) { r[QStringLiteral("calibrations")] = QJsonArray(); }, false},
        {"calibrationWithoutYellow", calibrationChange([](auto& c) { c.remove(QStringLiteral("yellow")); }), false},
        {"calibrationWithoutLandmarkHeight",
         calibrationChange([](auto& c) { c.remove(QStringLiteral("landmarkHeight")); }), true},
        {"baselineWithText",
         calibrationChange([](auto& c) {
             QJsonArray baseline = c[QStringLiteral("baseline")].toArray();
             baseline[0] = QStringLiteral("0.01");
             c[QStringLiteral("baseline")] = baseline;
         }),
         false},
        {"landmarkHeightWithoutReferenceLine", calibrationChange([](auto& c) {
             QJsonObject height = c[QStringLiteral("landmarkHeight")].toObject();
             height.remove(QStringLiteral("referenceLineY"));
             c[QStringLiteral("landmarkHeight")] = height;
         }),
         false},
    };
    cases.insert(cases.end(), more.begin(), more.end());
    return cases;
}

class PreferencesDecoding : public PreferencesStoreTest, public ::testing::WithParamInterface<Decoding> {};

} // namespace

TEST_P(PreferencesDecoding, isStrictAboutKeysTypesAndNames)
{
    QJsonObject root = fullJson();
    GetParam().change(root);
    const PreferencesLoad load = loadBytes(toBytes(root));
    if (GetParam().loads) {
        EXPECT_TRUE(load.preferences && !load.failure);
    } else {
        expectInvalid(load, GetParam().name);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, PreferencesDecoding, ::testing::ValuesIn(decodingCases()),
                         [](const auto& info) { return info.param.name; });

TEST_F(PreferencesStoreTest, decodingRefusesWhatIsNoObjectAndIgnoresKeyOrder)
{
    expectInvalid(loadBytes("not json"), "not json");
    expectInvalid(loadBytes("[1, 2]"), "an array");

    const QByteArray reordered = R"({"calibrations":{},"red":0.85,"yellow":0.45,"delay":2,)"
                                 R"("featureSchema":"seated-height-v2","version":1.0})";
    const PreferencesLoad load = loadBytes(reordered);
    ASSERT_TRUE(load.preferences) << "key order does not matter";
    EXPECT_EQ(*load.preferences, PosturePreferences{});
}

TEST_F(PreferencesStoreTest, aValidLegacyFileIsMigratedInMemoryOnly)
{
    PosturePreferences legacy = samplePreferences();
    legacy.featureSchema = QString(legacyFeatureSchema);
    for (auto& entry : legacy.calibrations)
        entry.second.featureSchema = QString(legacyFeatureSchema);
    const QByteArray bytes = encodePreferences(legacy);
    const PreferencesLoad load = loadBytes(bytes);
    ASSERT_TRUE(load.preferences);
    EXPECT_FALSE(load.failure);

    PosturePreferences expected = samplePreferences();
    expected.yellow = 0.6;
    expected.red = 1.0;
    expected.calibrations.clear();
    EXPECT_EQ(*load.preferences, expected);
    EXPECT_EQ(readBytes(m_path), bytes);

    // A legacy file must be valid for its own schema, its calibrations included.
    legacy.calibrations.clear();
    legacy.delay = 6.0;
    expectInvalid(loadBytes(encodePreferences(legacy)), "legacy delay 6");
    legacy = samplePreferences();
    legacy.featureSchema = QString(legacyFeatureSchema);
    expectInvalid(loadBytes(encodePreferences(legacy)), "legacy record with current calibrations");
}

TEST_F(PreferencesStoreTest, calibrationLookupOnlyHandsOutValidEntriesOfThatCamera)
{
    PosturePreferences preferences = samplePreferences();
    EXPECT_EQ(preferences.calibration(QStringLiteral("usb-cam-1")), calibrationFor(QStringLiteral("usb-cam-1")));
    EXPECT_FALSE(preferences.calibration(QString()));
    EXPECT_FALSE(preferences.calibration(QStringLiteral("unknown")));

    preferences.calibrations.emplace(QStringLiteral("A"), calibrationFor(QStringLiteral("B")));
    EXPECT_FALSE(preferences.calibration(QStringLiteral("A")));
    preferences.calibrations.at(QStringLiteral("usb-cam-1")).baseline.resize(7, 0.1);
    EXPECT_FALSE(preferences.calibration(QStringLiteral("usb-cam-1")));
    EXPECT_FALSE(PosturePreferences{}.calibration(QStringLiteral("usb-cam-1")));
}

TEST_F(PreferencesStoreTest, saveMakesFileOwnerOnlyAndCreatesFoldersOwnerOnly)
{
    const QString nested = m_folder.file(QStringLiteral("home/data/Verticora/preferences.json"));
    ASSERT_TRUE(QDir().mkpath(m_folder.file(QStringLiteral("home"))));
    QFile::setPermissions(m_folder.file(QStringLiteral("home")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                              | QFileDevice::ReadGroup | QFileDevice::ExeGroup);
    EXPECT_FALSE(saveOnce(nested, samplePreferences()));
    EXPECT_EQ(permissionBits(nested), 0600u);
    EXPECT_EQ(permissionBits(m_folder.file(QStringLiteral("home/data/Verticora"))), 0700u);
    EXPECT_EQ(permissionBits(m_folder.file(QStringLiteral("home/data"))), 0700u);
    // A folder that was already there keeps its permissions.
    EXPECT_EQ(permissionBits(m_folder.file(QStringLiteral("home"))), 0750u);

    // Replacing a file that others could read makes it private again.
    QFile::setPermissions(nested, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    EXPECT_FALSE(saveOnce(nested, PosturePreferences{}));
    EXPECT_EQ(permissionBits(nested), 0600u);
    EXPECT_EQ(fileNames(m_folder.file(QStringLiteral("home/data/Verticora"))), QStringList{"preferences.json"});
}

TEST_F(PreferencesStoreTest, saveIntoReadOnlyFolderFailsAndKeepsTheOldFile)
{
    ASSERT_FALSE(m_store.save(PosturePreferences{}));
    const QByteArray before = readBytes(m_path);
    EXPECT_EQ(runUnprivileged(m_folder.path(), [&] {
        ChildChecks checks;
        checks.expect(QFile::setPermissions(m_dataFolder, QFileDevice::ReadOwner | QFileDevice::ExeOwner), "chmod");
        const auto failure = saveOnce(m_path, samplePreferences());
        checks.expect(failure.has_value(), "the save into a read-only folder succeeded");
        if (failure) {
            checks.expect(!failure->error, "a file-system failure was reported as invalid settings");
            checks.expect(PreferencesStore::saveFailureMessage(*failure)
                              == QStringLiteral("Could not save settings on this computer. Permission denied."),
                          "message: " + PreferencesStore::saveFailureMessage(*failure).toStdString());
        }
        checks.expect(readBytes(m_path) == before, "the old file changed");
        checks.expect(fileNames(m_dataFolder) == QStringList{"preferences.json"}, "a temporary file was left behind");
        return checks.failures();
    }), "");
}

TEST_F(PreferencesStoreTest, unreadableFileIsAFileSystemFailureAndIsSetAside)
{
    ASSERT_FALSE(m_store.save(samplePreferences()));
    const QByteArray before = readBytes(m_path);
    EXPECT_EQ(runUnprivileged(m_folder.path(), [&] {
        ChildChecks checks;
        checks.expect(QFile::setPermissions(m_path, {}), "chmod");
        PreferencesStore store(m_path, [] { return 1'700'000'000.0; });
        const PreferencesLoad load = store.load();
        checks.expect(!load.preferences && load.failure && !load.failure->error, "the load did not fail as a read");
        if (load.failure) {
            checks.expect(PreferencesStore::loadFailureMessage(*load.failure)
                              == QStringLiteral("Could not load saved settings. Permission denied."),
                          "message: " + PreferencesStore::loadFailureMessage(*load.failure).toStdString());
        }
        checks.expect(store.setAsideName() == QStringLiteral("preferences.unreadable-1700000000.json"), "not set aside");
        checks.expect(!store.save(PosturePreferences{}), "no save after setting the file aside");
        return checks.failures();
    }), "");
    const QString aside = m_dataFolder + QStringLiteral("/preferences.unreadable-1700000000.json");
    ASSERT_TRUE(QFile::setPermissions(aside, QFileDevice::ReadOwner));
    EXPECT_EQ(readBytes(aside), before);
}

// A newer build's file (or a damaged one) must never be replaced by this build's
// defaults: it is kept byte for byte beside the new file.
TEST_F(PreferencesStoreTest, fileThatDoesNotLoadIsSetAsideBeforeAnySave)
{
    QJsonObject newer = fullJson();
    newer[QStringLiteral("version")] = 2;
    for (const QByteArray& bytes : {toBytes(newer), encodePreferences(samplePreferences()).left(100)}) {
        m_clock.time += 10;
        writeBytes(m_path, bytes);
        QFile::setPermissions(m_path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
        PreferencesStore store(m_path, m_clock.function());
        EXPECT_TRUE(store.save(PosturePreferences{})) << "a save before the load";
        const PreferencesLoad load = store.load();
        ASSERT_TRUE(load.failure);
        EXPECT_EQ(load.failure->description, invalidText);
        const QString asideName = QStringLiteral("preferences.unreadable-%1.json").arg(qint64(m_clock.time));
        EXPECT_EQ(store.setAsideName(), asideName);
        const QString aside = m_dataFolder + u'/' + asideName;
        EXPECT_EQ(readBytes(aside), bytes);
        EXPECT_EQ(permissionBits(aside), 0600u);

        EXPECT_FALSE(store.save(PosturePreferences{}));
        EXPECT_EQ(*store.read().preferences, PosturePreferences{});
        EXPECT_EQ(readBytes(aside), bytes);
    }

    // A second bad file within the same second cannot be set aside under the taken name:
    // it stays where it is and nothing is written over it.
    writeBytes(m_path, "{");
    PreferencesStore again(m_path, m_clock.function());
    EXPECT_TRUE(again.load().failure);
    EXPECT_FALSE(again.setAsideName());
    const auto refused = again.save(PosturePreferences{});
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->description, QStringLiteral("Saved settings could not be read and will not be overwritten."));
    EXPECT_EQ(readBytes(m_path), "{");
}

TEST_F(PreferencesStoreTest, onlyNoSuchFileIsAFirstRun)
{
    const PreferencesLoad firstRun = PreferencesStore(m_folder.file(QStringLiteral("absent/preferences.json"))).load();
    EXPECT_FALSE(firstRun.preferences);
    EXPECT_FALSE(firstRun.failure);
    EXPECT_FALSE(QFileInfo::exists(m_folder.file(QStringLiteral("absent")))) << "loading creates nothing";

    ASSERT_TRUE(QFile::link(m_folder.file(QStringLiteral("nowhere.json")), m_path));
    PreferencesStore dangling(m_path, m_clock.function());
    EXPECT_TRUE(dangling.load().failure) << "a dangling link is not a first run";
    EXPECT_TRUE(QFileInfo(m_dataFolder + QStringLiteral("/preferences.unreadable-1700000000.json")).isSymLink());

    ASSERT_FALSE(m_store.save(samplePreferences()));
    const QByteArray before = readBytes(m_path);
    EXPECT_EQ(runUnprivileged(m_folder.path(), [&] {
        ChildChecks checks;
        checks.expect(QFile::setPermissions(m_dataFolder, QFileDevice::WriteOwner), "chmod");
        PreferencesStore store(m_path);
        checks.expect(store.load().failure.has_value(), "a folder that cannot be searched is not a first run");
        checks.expect(store.save(PosturePreferences{}).has_value(), "saved over a file it could not look at");
        return checks.failures();
    }), "");
    QFile::setPermissions(m_dataFolder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(readBytes(m_path), before);
}

TEST_F(PreferencesStoreTest, loadRemovesOnlyTheTemporaryFilesOfKilledSaves)
{
    const QStringList kept = {"preferences.json.tmp-held01", "preferences.json.tmp-1", "preferences.json.backup",
                              "daily-progress.json.tmp-a1B2c3", "preferences.json.tmp-a1B2c3.json"};
    for (const QString& name : kept + QStringList{"preferences.json.tmp-a1B2c3"})
        writeBytes(m_dataFolder + u'/' + name, "{}");
    // A save still running in another process holds its file.
    QFile held(m_dataFolder + QStringLiteral("/preferences.json.tmp-held01"));
    ASSERT_TRUE(held.open(QIODevice::ReadOnly));
    ASSERT_EQ(flock(held.handle(), LOCK_EX), 0);

    PreferencesStore store(m_path);
    EXPECT_FALSE(store.load().failure);
    QStringList expected = kept;
    expected.sort();
    EXPECT_EQ(fileNames(m_dataFolder), expected);
}
