#include "Scene.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace verticora::clip {

namespace {

constexpr int maximumSide = 4096;
constexpr double maximumFramesPerSecond = 240;
constexpr double maximumDuration = 3600;
constexpr std::size_t maximumFaces = 16;

// Reads one scene file, naming every bad entry by its path ("faces[1].keyframes[0].t").
class SceneReader {
public:
    SceneReader(QString sceneFile, QStringList imageFolders)
        : m_sceneFile(std::move(sceneFile)), m_imageFolders(std::move(imageFolders))
    {
    }

    Scene read(const QByteArray& json) const;

private:
    [[noreturn]] void fail(const QString& where, const QString& what) const
    {
        throw SceneError(QStringLiteral("%1: %2 %3").arg(m_sceneFile, where, what).toStdString());
    }

    [[nodiscard]] QJsonObject objectAt(const QJsonValue& value, const QString& where) const;
    [[nodiscard]] QJsonArray arrayAt(const QJsonValue& value, const QString& where) const;
    [[nodiscard]] double numberAt(const QJsonObject& object, const QString& key, const QString& where,
                                  std::optional<double> fallback = std::nullopt) const;
    [[nodiscard]] double numberIn(const QJsonObject& object, const QString& key, const QString& where, double low,
                                  double high, std::optional<double> fallback = std::nullopt) const;
    [[nodiscard]] QString imagePath(const QJsonValue& value, const QString& where) const;
    [[nodiscard]] FrameRate frameRate(const QJsonValue& value) const;
    void readBackground(const QJsonValue& value, Scene& scene) const;
    [[nodiscard]] SceneFace face(const QJsonValue& value, const QString& where) const;
    [[nodiscard]] QRect crop(const QJsonValue& value, const QString& image, const QString& where) const;

    QString m_sceneFile;
    QStringList m_imageFolders;
};

QString member(const QString& where, const QString& key)
{
    return where.isEmpty() ? key : where + "." + key;
}

QString element(const QString& where, qsizetype index)
{
    return QStringLiteral("%1[%2]").arg(where).arg(index);
}

QJsonObject SceneReader::objectAt(const QJsonValue& value, const QString& where) const
{
    if (!value.isObject())
        fail(where, "must be an object.");
    return value.toObject();
}

QJsonArray SceneReader::arrayAt(const QJsonValue& value, const QString& where) const
{
    if (!value.isArray())
        fail(where, "must be a list.");
    return value.toArray();
}

double SceneReader::numberAt(const QJsonObject& object, const QString& key, const QString& where,
                             std::optional<double> fallback) const
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() && fallback)
        return *fallback;
    if (value.isUndefined())
        fail(member(where, key), "is missing.");
    if (!value.isDouble())
        fail(member(where, key), "must be a number.");
    return value.toDouble();
}

double SceneReader::numberIn(const QJsonObject& object, const QString& key, const QString& where, double low,
                             double high, std::optional<double> fallback) const
{
    const double value = numberAt(object, key, where, fallback);
    if (!(value >= low && value <= high))
        fail(member(where, key), QStringLiteral("must lie between %1 and %2.").arg(low).arg(high));
    return value;
}

QString SceneReader::imagePath(const QJsonValue& value, const QString& where) const
{
    if (!value.isString() || value.toString().isEmpty())
        fail(where, "must be the path of an image.");
    const QString path = value.toString();
    if (QFileInfo(path).isAbsolute()) {
        if (!QFileInfo(path).isFile())
            fail(where, QStringLiteral("\"%1\" does not exist.").arg(path));
        return path;
    }
    QStringList folders{QFileInfo(m_sceneFile).absolutePath()};
    folders += m_imageFolders;
    for (const QString& folder : folders) {
        const QString candidate = QDir(folder).filePath(path);
        if (QFileInfo(candidate).isFile())
            return candidate;
    }
    fail(where, QStringLiteral("\"%1\" was found neither next to the scene nor in the image folders (%2).")
                    .arg(path, m_imageFolders.isEmpty() ? QStringLiteral("none given") : m_imageFolders.join(", ")));
}

FrameRate SceneReader::frameRate(const QJsonValue& value) const
{
    if (const auto rate = frameRateOf(value))
        return *rate;
    fail("frameRate", QStringLiteral("must be a number of frames per second up to %1, or \"numerator:denominator\".")
                          .arg(maximumFramesPerSecond));
}

void SceneReader::readBackground(const QJsonValue& value, Scene& scene) const
{
    if (value.isUndefined())
        return;
    const QJsonObject background = objectAt(value, "background");
    const bool hasColor = background.contains("color");
    const bool hasImage = background.contains("image");
    if (hasColor == hasImage)
        fail("background", "must give either \"color\" or \"image\".");
    if (hasImage) {
        scene.backgroundImage = imagePath(background.value("image"), "background.image");
        return;
    }
    const QString name = background.value("color").toString();
    scene.backgroundColor = QColor::fromString(name);
    if (!name.startsWith('#') || !scene.backgroundColor.isValid())
        fail("background.color", "must be a colour written as \"#rrggbb\".");
}

QRect SceneReader::crop(const QJsonValue& value, const QString& image, const QString& where) const
{
    const QJsonObject object = objectAt(value, where);
    const auto whole = [&](const QString& key) {
        const double v = numberAt(object, key, where);
        if (v != std::floor(v) || std::abs(v) > 1e6)
            fail(member(where, key), "must be a whole number of pixels.");
        return static_cast<int>(v);
    };
    const QRect rect(whole("x"), whole("y"), whole("width"), whole("height"));
    const QSize size = QImageReader(image).size();
    if (!size.isValid())
        fail(where, QStringLiteral("cannot be checked: \"%1\" is not a readable image.").arg(image));
    if (rect.width() < 8 || rect.height() < 8 || !QRect(QPoint(0, 0), size).contains(rect)) {
        fail(where, QStringLiteral("must be a rectangle of at least 8x8 pixels inside the %1x%2 image.")
                        .arg(size.width())
                        .arg(size.height()));
    }
    return rect;
}

SceneFace SceneReader::face(const QJsonValue& value, const QString& where) const
{
    const QJsonObject object = objectAt(value, where);
    SceneFace face;
    face.image = imagePath(object.value("image"), member(where, "image"));
    if (object.contains("crop"))
        face.crop = crop(object.value("crop"), face.image, member(where, "crop"));
    if (object.contains("appear"))
        face.appear = numberAt(object, "appear", where);
    if (object.contains("disappear"))
        face.disappear = numberAt(object, "disappear", where);
    if (face.appear && face.disappear && *face.disappear <= *face.appear)
        fail(member(where, "disappear"), "must come after \"appear\".");

    const QString keysWhere = member(where, "keyframes");
    const QJsonArray keys = arrayAt(object.value("keyframes"), keysWhere);
    if (keys.isEmpty())
        fail(keysWhere, "must hold at least one keyframe.");
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const QString keyWhere = element(keysWhere, i);
        const QJsonObject key = objectAt(keys.at(i), keyWhere);
        FaceKeyframe keyframe;
        keyframe.t = numberIn(key, "t", keyWhere, 0, maximumDuration);
        // Positions may leave the frame (a face walking out); sizes must stay sensible.
        keyframe.placement.x = numberIn(key, "x", keyWhere, -2, 3);
        keyframe.placement.y = numberIn(key, "y", keyWhere, -2, 3);
        keyframe.placement.height = numberIn(key, "height", keyWhere, 0.01, 4);
        if (!face.keyframes.empty() && keyframe.t < face.keyframes.back().t)
            fail(member(keyWhere, "t"), "must not be earlier than the keyframe before it.");
        face.keyframes.push_back(keyframe);
    }
    return face;
}

Scene SceneReader::read(const QByteArray& json) const
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError) {
        throw SceneError(QStringLiteral("%1: is not valid JSON (%2 at byte %3).")
                             .arg(m_sceneFile, error.errorString())
                             .arg(error.offset)
                             .toStdString());
    }
    if (!document.isObject())
        throw SceneError(QStringLiteral("%1: must hold one JSON object.").arg(m_sceneFile).toStdString());
    const QJsonObject root = document.object();

    Scene scene;
    scene.width = static_cast<int>(numberIn(root, "width", {}, 16, maximumSide));
    scene.height = static_cast<int>(numberIn(root, "height", {}, 16, maximumSide));
    if (root.value("width").toDouble() != scene.width || root.value("height").toDouble() != scene.height)
        fail("width", "and height must be whole numbers of pixels.");
    if (!root.contains("frameRate"))
        fail("frameRate", "is missing.");
    scene.frameRate = frameRate(root.value("frameRate"));
    scene.duration = numberIn(root, "duration", {}, 0.001, maximumDuration);
    readBackground(root.value("background"), scene);

    if (root.contains("noise")) {
        const QJsonObject noise = objectAt(root.value("noise"), "noise");
        scene.noise = numberIn(noise, "sigma", "noise", 0, 64);
        const double seed = numberIn(noise, "seed", "noise", 0, 9007199254740991.0, 1.0);
        if (seed != std::floor(seed))
            fail("noise.seed", "must be a whole number.");
        scene.seed = static_cast<std::uint64_t>(seed);
    }

    if (root.contains("brightness")) {
        const QJsonArray keys = arrayAt(root.value("brightness"), "brightness");
        for (qsizetype i = 0; i < keys.size(); ++i) {
            const QString where = element("brightness", i);
            const QJsonObject key = objectAt(keys.at(i), where);
            const BrightnessKeyframe keyframe{numberIn(key, "t", where, 0, maximumDuration),
                                              numberIn(key, "gain", where, 0, 4)};
            if (!scene.brightness.empty() && keyframe.t < scene.brightness.back().t)
                fail(member(where, "t"), "must not be earlier than the keyframe before it.");
            scene.brightness.push_back(keyframe);
        }
    }

    const QJsonArray faces = root.contains("faces") ? arrayAt(root.value("faces"), "faces") : QJsonArray{};
    if (static_cast<std::size_t>(faces.size()) > maximumFaces)
        fail("faces", QStringLiteral("may hold at most %1 faces.").arg(maximumFaces));
    for (qsizetype i = 0; i < faces.size(); ++i)
        scene.faces.push_back(face(faces.at(i), element("faces", i)));
    return scene;
}

// Linear between neighbouring keyframes, held outside them.
template <typename Key, typename Mix>
auto interpolate(const std::vector<Key>& keys, double t, Mix mix)
{
    if (t <= keys.front().t)
        return mix(keys.front(), keys.front(), 0.0);
    for (std::size_t i = 1; i < keys.size(); ++i) {
        if (t < keys[i].t) {
            const Key& a = keys[i - 1];
            const Key& b = keys[i];
            return mix(a, b, (t - a.t) / (b.t - a.t));
        }
    }
    return mix(keys.back(), keys.back(), 0.0);
}

double lerp(double a, double b, double f)
{
    return a + (b - a) * f;
}

} // namespace

std::optional<FrameRate> frameRateOf(const QJsonValue& value)
{
    if (value.isString()) {
        const QStringList parts = value.toString().split(':');
        bool numeratorOk = false;
        bool denominatorOk = false;
        const qint64 numerator = parts.value(0).toLongLong(&numeratorOk);
        const qint64 denominator = parts.value(1).toLongLong(&denominatorOk);
        if (parts.size() == 2 && numeratorOk && denominatorOk && numerator > 0 && denominator > 0
            && denominator <= 1000000 && numerator <= maximumFramesPerSecond * static_cast<double>(denominator)) {
            return FrameRate{numerator, denominator};
        }
    } else if (value.isDouble()) {
        const double fps = value.toDouble();
        if (fps > 0 && fps <= maximumFramesPerSecond) {
            const auto millis = static_cast<std::int64_t>(std::llround(fps * 1000));
            const std::int64_t common = std::gcd(millis, std::int64_t{1000});
            if (millis > 0)
                return FrameRate{millis / common, 1000 / common};
        }
    }
    return std::nullopt;
}

std::optional<FacePlacement> SceneFace::placementAt(double t) const
{
    if ((appear && t < *appear) || (disappear && t >= *disappear))
        return std::nullopt;
    return interpolate(keyframes, t, [](const FaceKeyframe& a, const FaceKeyframe& b, double f) {
        return FacePlacement{lerp(a.placement.x, b.placement.x, f), lerp(a.placement.y, b.placement.y, f),
                             lerp(a.placement.height, b.placement.height, f)};
    });
}

std::int64_t Scene::frameCount() const
{
    return std::max<std::int64_t>(1, std::llround(duration * frameRate.framesPerSecond()));
}

double Scene::gainAt(double t) const
{
    if (brightness.empty())
        return 1;
    return interpolate(brightness, t,
                       [](const BrightnessKeyframe& a, const BrightnessKeyframe& b, double f) {
                           return lerp(a.gain, b.gain, f);
                       });
}

Scene parseScene(const QByteArray& json, const QString& sceneFile, const QStringList& imageFolders)
{
    return SceneReader(sceneFile, imageFolders).read(json);
}

Scene loadScene(const QString& sceneFile, const QStringList& imageFolders)
{
    QFile file(sceneFile);
    if (!file.open(QIODevice::ReadOnly))
        throw SceneError(QStringLiteral("%1: cannot be read: %2.").arg(sceneFile, file.errorString()).toStdString());
    return parseScene(file.readAll(), sceneFile, imageFolders);
}

} // namespace verticora::clip
