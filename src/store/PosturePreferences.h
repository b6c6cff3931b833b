#pragma once

#include "analysis/PoseFeatures.h"
#include "analysis/ThresholdRules.h"
#include "store/SettingsEnums.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <optional>
#include <vector>

namespace verticora {

inline constexpr int preferencesVersion = 1;
// The measurement every stored record and calibration is made with.
inline constexpr QLatin1StringView currentFeatureSchema{"seated-height-v2"};
// An older measurement; its settings are kept on load, its calibrations are not.
inline constexpr QLatin1StringView legacyFeatureSchema{"seated-face-v1"};

// The confirmed comfortable pose of one camera with the zone levels it was confirmed with.
struct SavedCalibration {
    QString cameraID;
    QString featureSchema{currentFeatureSchema};
    std::vector<double> baseline; // headX, headY, slope, scale, centerX, centerY
    double yellow = defaultYellowThreshold;
    double red = defaultRedThreshold;
    std::optional<LandmarkHeightCalibration> landmarkHeight;

    [[nodiscard]] bool valid(QLatin1StringView schema) const;

    friend bool operator==(const SavedCalibration&, const SavedCalibration&) = default;
};

// Everything preferences.json holds: the settings and the per-camera calibrations. A
// default-constructed record is the fresh one the application starts from.
struct PosturePreferences {
    qint64 version = preferencesVersion;
    QString featureSchema{currentFeatureSchema};
    std::optional<QString> selectedCameraID;
    std::optional<ReminderMode> reminderMode;
    std::optional<EdgeEffectStyle> edgeEffectStyle;
    std::optional<QString> liveChartMotion; // not checked here; the model maps it
    std::optional<QString> menuBarStyle;    // not checked here; the model maps it
    std::optional<bool> redAlertEnabled;
    std::optional<double> smokeDepth;
    double delay = 2.0;
    double yellow = defaultYellowThreshold;
    double red = defaultRedThreshold;
    std::map<QString, SavedCalibration> calibrations;

    [[nodiscard]] bool valid(QLatin1StringView schema) const;

    // The stored calibration of `cameraID` when it is there, belongs to that camera and
    // is valid for the current schema; an invalid entry behaves like a missing one.
    [[nodiscard]] std::optional<SavedCalibration> calibration(const QString& cameraID) const;

    friend bool operator==(const PosturePreferences&, const PosturePreferences&) = default;
};

// One compact JSON object; absent optionals are left out.
[[nodiscard]] QByteArray encodePreferences(const PosturePreferences& preferences);

// Strict decoding: the required keys present, every JSON type right, integers integral
// and enumeration names known; extra keys are ignored. Nothing is validated beyond that.
[[nodiscard]] std::optional<PosturePreferences> decodePreferences(const QByteArray& bytes);

} // namespace verticora
