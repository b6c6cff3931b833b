#include "StoreTestSupport.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>

namespace verticora::test {

namespace {

bool giveToNobody(const QString& path)
{
    return lchown(QFile::encodeName(path).constData(), nobodyID, nobodyID) == 0;
}

bool becomeNobody(const QString& folder)
{
    if (geteuid() != 0)
        return true;
    bool given = giveToNobody(folder);
    QDirIterator entries(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
    while (entries.hasNext())
        given = giveToNobody(entries.next()) && given;
    return given && setgroups(0, nullptr) == 0 && setgid(nobodyID) == 0 && setuid(nobodyID) == 0;
}

WallTime secondsSince1970(const QTimeZone& zone, int year, int month, int day, int hour, int minute, double second)
{
    const double wholeSecond = std::floor(second);
    const QDateTime moment(QDate(year, month, day), QTime(hour, minute, int(wholeSecond)), zone);
    return double(moment.toSecsSinceEpoch()) + (second - wholeSecond);
}

} // namespace

TempFolder::TempFolder()
{
    EXPECT_TRUE(m_dir.isValid());
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    // A new file rather than a truncated one: rewriting in place makes the file system
    // flush on close, which is slow on a busy disk.
    QFile::remove(path);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray readBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

unsigned permissionBits(const QString& path)
{
    struct stat info {};
    if (stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

QStringList fileNames(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

WallTime newYork(int year, int month, int day, int hour, int minute, double second)
{
    return secondsSince1970(QTimeZone("America/New_York"), year, month, day, hour, minute, second);
}

WallTime utc(int year, int month, int day, int hour, int minute, double second)
{
    return secondsSince1970(QTimeZone::utc(), year, month, day, hour, minute, second);
}

SavedCalibration calibrationFor(const QString& cameraID)
{
    SavedCalibration calibration;
    calibration.cameraID = cameraID;
    calibration.baseline = {0.01, 0.9, -0.02, 0.45, 0.88, 0.52};
    calibration.yellow = 0.5;
    calibration.red = 0.9;
    calibration.landmarkHeight = LandmarkHeightCalibration{{0.40, 0.50, 0.65}, 0.55};
    return calibration;
}

PosturePreferences samplePreferences()
{
    PosturePreferences preferences;
    preferences.selectedCameraID = QStringLiteral("usb-cam-1");
    preferences.reminderMode = ReminderMode::smokeWide;
    preferences.edgeEffectStyle = EdgeEffectStyle::horizon;
    preferences.liveChartMotion = QStringLiteral("smooth");
    preferences.menuBarStyle = QStringLiteral("color");
    preferences.redAlertEnabled = false;
    preferences.smokeDepth = 7.5;
    preferences.delay = 3.0;
    preferences.yellow = 0.4;
    preferences.red = 0.7;
    preferences.calibrations.emplace(QStringLiteral("usb-cam-1"), calibrationFor(QStringLiteral("usb-cam-1")));
    SavedCalibration plain = calibrationFor(QStringLiteral("built-in"));
    plain.landmarkHeight.reset();
    preferences.calibrations.emplace(QStringLiteral("built-in"), plain);
    return preferences;
}

DayProgress dayWithGreen(const QString& id, int hour, double seconds)
{
    DayProgress day;
    day.dateID = id;
    day.greenSeconds = seconds;
    day.hours[std::size_t(hour)].greenSeconds = seconds;
    return day;
}

QByteArray progressFile(const QList<DayProgress>& days)
{
    return encodeDailyProgress({DailyProgressFile::currentVersion, QStringLiteral("America/New_York"), days});
}

std::string runUnprivileged(const QString& folder, const std::function<std::string()>& scenario)
{
    int channel[2];
    if (pipe(channel) != 0)
        return "pipe failed";
    const pid_t child = fork();
    if (child < 0)
        return "fork failed";
    if (child == 0) {
        close(channel[0]);
        const std::string failures = becomeNobody(folder) ? scenario() : "could not become an ordinary user\n";
        const char* data = failures.data();
        std::size_t left = failures.size();
        while (left > 0) {
            const ssize_t written = write(channel[1], data, left);
            if (written <= 0)
                break;
            data += written;
            left -= std::size_t(written);
        }
        _exit(0);
    }
    close(channel[1]);
    std::string report;
    char buffer[512];
    ssize_t count = 0;
    while ((count = read(channel[0], buffer, sizeof buffer)) > 0)
        report.append(buffer, std::size_t(count));
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        report += "the child process did not finish normally\n";
    return report;
}

} // namespace verticora::test
