#pragma once

#include "store/DailyProgressFile.h"
#include "store/PosturePreferences.h"
#include "store/WallClock.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <string>

#include <sys/types.h>

namespace verticora::test {

inline constexpr uid_t nobodyID = 65534;

// A fresh folder per test, removed afterwards; the user's data folder is never used.
class TempFolder {
public:
    TempFolder();
    [[nodiscard]] QString path() const { return m_dir.path(); }
    [[nodiscard]] QString file(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
};

void writeBytes(const QString& path, const QByteArray& bytes);
[[nodiscard]] QByteArray readBytes(const QString& path);
[[nodiscard]] unsigned permissionBits(const QString& path); // e.g. 0600
[[nodiscard]] QStringList fileNames(const QString& folder);

// Seconds since 1970 of a New York wall-clock time (not for a repeated or skipped hour).
[[nodiscard]] WallTime newYork(int year, int month, int day, int hour, int minute, double second);
// Seconds since 1970 of a UTC time.
[[nodiscard]] WallTime utc(int year, int month, int day, int hour, int minute, double second);

// A valid calibration of `cameraID`, with a landmark height.
[[nodiscard]] SavedCalibration calibrationFor(const QString& cameraID);
// A valid record with every optional field set and two calibrations, "usb-cam-1" (with a
// landmark height) and "built-in" (without).
[[nodiscard]] PosturePreferences samplePreferences();

// A day with `seconds` of green, all in `hour`.
[[nodiscard]] DayProgress dayWithGreen(const QString& id, int hour, double seconds);
// The bytes of a New York daily-progress file holding `days`.
[[nodiscard]] QByteArray progressFile(const QList<DayProgress>& days);

// A clock the test sets by hand.
struct ManualClock {
    WallTime time = 1'700'000'000;
    [[nodiscard]] WallClock function()
    {
        return [this] { return time; };
    }
};

// Collects failed expectations inside a child process, where GoogleTest cannot report.
class ChildChecks {
public:
    void expect(bool condition, const std::string& what)
    {
        if (!condition)
            m_failures += what + "\n";
    }
    [[nodiscard]] const std::string& failures() const { return m_failures; }

private:
    std::string m_failures;
};

// Runs `scenario` in a forked child as an ordinary user: when the tests run as root,
// which ignores permissions, the child first gives `folder` and everything in it to
// "nobody" and becomes that user. Returns the child's failures ("" when it passed).
[[nodiscard]] std::string runUnprivileged(const QString& folder, const std::function<std::string()>& scenario);

} // namespace verticora::test
