#include "store/PosturePreferences.h"

#include "store/JsonReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace verticora {

namespace {

bool blank(const QString& text)
{
    return text.trimmed().isEmpty();
}

bool validSmokeDepth(const std::optional<double>& depth)
{
    return !depth || (std::isfinite(*depth) && *depth >= 0 && *depth <= 50);
}

QJsonObject encodeLandmarkHeight(const LandmarkHeightCalibration& calibration)
{
    const FaceHeightLandmarks& landmarks = calibration.landmarks;
    return QJsonObject{
        {QStringLiteral("landmarks"),
         QJsonObject{{QStringLiteral("eyesY"), landmarks.eyesY},
                     {QStringLiteral("noseY"), landmarks.noseY},
                     {QStringLiteral("chinY"), landmarks.chinY}}},
        {QStringLiteral("referenceLineY"), calibration.referenceLineY},
    };
}

QJsonObject encodeCalibration(const SavedCalibration& calibration)
{
    QJsonArray baseline;
    for (double value : calibration.baseline)
        baseline.append(value);
    QJsonObject object{
        {QStringLiteral("cameraID"), calibration.cameraID},
        {QStringLiteral("featureSchema"), calibration.featureSchema},
        {QStringLiteral("baseline"), baseline},
        {QStringLiteral("yellow"), calibration.yellow},
        {QStringLiteral("red"), calibration.red},
    };
    if (calibration.landmarkHeight)
        object.insert(QStringLiteral("landmarkHeight"), encodeLandmarkHeight(*calibration.landmarkHeight));
    return object;
}

std::optional<LandmarkHeightCalibration> decodeLandmarkHeight(const QJsonObject& object)
{
    JsonReader reader(object);
    const QJsonObject landmarksObject = reader.object(QLatin1StringView("landmarks"));
    const double referenceLineY = reader.number(QLatin1StringView("referenceLineY"));
    JsonReader landmarks(landmarksObject);
    const FaceHeightLandmarks heights{landmarks.number(QLatin1StringView("eyesY")),
                                      landmarks.number(QLatin1StringView("noseY")),
                                      landmarks.number(QLatin1StringView("chinY"))};
    if (!reader.ok() || !landmarks.ok())
        return std::nullopt;
    return LandmarkHeightCalibration{heights, referenceLineY};
}

std::optional<SavedCalibration> decodeCalibration(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    JsonReader reader(value.toObject());
    SavedCalibration calibration;
    calibration.cameraID = reader.string(QLatin1StringView("cameraID"));
    calibration.featureSchema = reader.string(QLatin1StringView("featureSchema"));
    const QJsonArray baseline = reader.array(QLatin1StringView("baseline"));
    calibration.yellow = reader.number(QLatin1StringView("yellow"));
    calibration.red = reader.number(QLatin1StringView("red"));
    if (const auto landmarkHeight = reader.optionalObject(QLatin1StringView("landmarkHeight"))) {
        calibration.landmarkHeight = decodeLandmarkHeight(*landmarkHeight);
        if (!calibration.landmarkHeight)
            reader.fail();
    }
    for (const QJsonValue& element : baseline) {
        if (!element.isDouble())
            return std::nullopt;
        calibration.baseline.push_back(element.toDouble());
    }
    if (!reader.ok())
        return std::nullopt;
    return calibration;
}

// An unknown raw name fails the whole decode, like a wrong JSON type.
template <typename Enum>
std::optional<Enum> decodeEnumeration(const std::optional<QString>& rawValue, JsonReader& reader)
{
    if (!rawValue)
        return std::nullopt;
    const auto decoded = fromRawName<Enum>(rawValue->toStdString());
    if (!decoded)
        reader.fail();
    return decoded;
}

template <typename Enum>
void insertEnumeration(QJsonObject& object, const QString& key, const std::optional<Enum>& value)
{
    if (!value)
        return;
    const std::string_view name = rawName(*value);
    object.insert(key, QString::fromLatin1(name.data(), qsizetype(name.size())));
}

} // namespace

bool SavedCalibration::valid(QLatin1StringView schema) const
{
    if (blank(cameraID) || featureSchema != schema)
        return false;
    if (baseline.size() != poseCoreSize || !std::all_of(baseline.begin(), baseline.end(), [](double v) {
            return std::isfinite(v);
        }))
        return false;
    auto features = PoseFeatures::fromCoreVector(baseline);
    if (!features)
        return false;
    features->landmarkHeight = landmarkHeight;
    return features->valid() && isValidThresholdPair(yellow, red);
}

bool PosturePreferences::valid(QLatin1StringView schema) const
{
    if (!validSmokeDepth(smokeDepth) || version != preferencesVersion || featureSchema != schema
        || !isValidDelay(delay))
        return false;
    if (selectedCameraID && blank(*selectedCameraID))
        return false;
    if (!isValidThresholdPair(yellow, red))
        return false;
    return std::all_of(calibrations.begin(), calibrations.end(), [schema](const auto& entry) {
        return entry.first == entry.second.cameraID && entry.second.valid(schema);
    });
}

std::optional<SavedCalibration> PosturePreferences::calibration(const QString& cameraID) const
{
    if (cameraID.isEmpty() || calibrations.empty())
        return std::nullopt;
    const auto found = calibrations.find(cameraID);
    if (found == calibrations.end())
        return std::nullopt;
    const SavedCalibration& entry = found->second;
    if (entry.cameraID != cameraID || !entry.valid(currentFeatureSchema))
        return std::nullopt;
    return entry;
}

QByteArray encodePreferences(const PosturePreferences& preferences)
{
    QJsonObject root{
        {QStringLiteral("version"), preferences.version},
        {QStringLiteral("featureSchema"), preferences.featureSchema},
        {QStringLiteral("delay"), preferences.delay},
        {QStringLiteral("yellow"), preferences.yellow},
        {QStringLiteral("red"), preferences.red},
    };
    if (preferences.selectedCameraID)
        root.insert(QStringLiteral("selectedCameraID"), *preferences.selectedCameraID);
    insertEnumeration(root, QStringLiteral("reminderMode"), preferences.reminderMode);
    insertEnumeration(root, QStringLiteral("edgeEffectStyle"), preferences.edgeEffectStyle);
    if (preferences.liveChartMotion)
        root.insert(QStringLiteral("liveChartMotion"), *preferences.liveChartMotion);
    if (preferences.menuBarStyle)
        root.insert(QStringLiteral("menuBarStyle"), *preferences.menuBarStyle);
    if (preferences.redAlertEnabled)
        root.insert(QStringLiteral("redAlertEnabled"), *preferences.redAlertEnabled);
    if (preferences.smokeDepth)
        root.insert(QStringLiteral("smokeDepth"), *preferences.smokeDepth);
    QJsonObject calibrations;
    for (const auto& [cameraID, calibration] : preferences.calibrations)
        calibrations.insert(cameraID, encodeCalibration(calibration));
    root.insert(QStringLiteral("calibrations"), calibrations);
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

std::optional<PosturePreferences> decodePreferences(const QByteArray& bytes)
{
    std::optional<JsonReader> document = JsonReader::ofDocument(bytes);
    if (!document)
        return std::nullopt;
    JsonReader& reader = *document;
    PosturePreferences preferences;
    preferences.version = reader.integer(QLatin1StringView("version"));
    preferences.featureSchema = reader.string(QLatin1StringView("featureSchema"));
    preferences.selectedCameraID = reader.optionalString(QLatin1StringView("selectedCameraID"));
    preferences.reminderMode =
        decodeEnumeration<ReminderMode>(reader.optionalString(QLatin1StringView("reminderMode")), reader);
    preferences.edgeEffectStyle =
        decodeEnumeration<EdgeEffectStyle>(reader.optionalString(QLatin1StringView("edgeEffectStyle")), reader);
    preferences.liveChartMotion = reader.optionalString(QLatin1StringView("liveChartMotion"));
    preferences.menuBarStyle = reader.optionalString(QLatin1StringView("menuBarStyle"));
    preferences.redAlertEnabled = reader.optionalBoolean(QLatin1StringView("redAlertEnabled"));
    preferences.smokeDepth = reader.optionalNumber(QLatin1StringView("smokeDepth"));
    preferences.delay = reader.number(QLatin1StringView("delay"));
    preferences.yellow = reader.number(QLatin1StringView("yellow"));
    preferences.red = reader.number(QLatin1StringView("red"));
    const QJsonObject calibrations = reader.object(QLatin1StringView("calibrations"));
    if (!reader.ok())
        return std::nullopt;
    for (auto entry = calibrations.begin(); entry != calibrations.end(); ++entry) {
        auto calibration = decodeCalibration(entry.value());
        if (!calibration)
            return std::nullopt;
        preferences.calibrations.emplace(entry.key(), std::move(*calibration));
    }
    return preferences;
}

} // namespace verticora
