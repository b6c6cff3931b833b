#include "Scene.h"
#include "SceneRenderer.h"

#include "platform/Y4mClip.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

using namespace verticora;
using namespace verticora::clip;

namespace {

class SceneFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_folder.isValid());
        QImage portrait(40, 50, QImage::Format_RGB32);
        portrait.fill(Qt::white);
        ASSERT_TRUE(portrait.save(path("white.png")));
    }

    [[nodiscard]] QString path(const QString& name) const { return QDir(m_folder.path()).filePath(name); }
    [[nodiscard]] QString sceneFile() const { return path("scene.json"); }

    // The message parsing this scene text raises, or "accepted".
    [[nodiscard]] std::string errorOf(const std::string& json) const
    {
        try {
            (void)parseScene(QByteArray::fromStdString(json), sceneFile(), {});
        } catch (const SceneError& error) {
            return error.what();
        }
        return "accepted";
    }

    [[nodiscard]] std::string prefixed(const std::string& message) const
    {
        return sceneFile().toStdString() + ": " + message;
    }

private:
    QTemporaryDir m_folder;
};

// A scene with one face; `faceFields` are spliced into the face object.
std::string withFace(const std::string& faceFields)
{
    return R"({"width": 200, "height": 100, "frameRate": 10, "duration": 1, "faces": [{)" + faceFields + "}]}";
}

const std::string oneKeyframe = R"("keyframes": [{"t": 0, "x": 0.5, "y": 0.5, "height": 0.5}])";

} // namespace

namespace {

struct BadScene {
    const char* name;
    std::string json;
    std::string message;
};

class SceneFileRefusal : public SceneFileTest, public ::testing::WithParamInterface<BadScene> {};

const std::string base = R"("width": 200, "height": 100, "frameRate": 10, "duration": 1)";

} // namespace

TEST_P(SceneFileRefusal, namesTheEntry)
{
    EXPECT_EQ(errorOf(GetParam().json), prefixed(GetParam().message));
}

INSTANTIATE_TEST_SUITE_P(Scenes, SceneFileRefusal, ::testing::Values(
        BadScene{"notAnObject", "[]", "must hold one JSON object."},
        BadScene{"noWidth", "{}", "width is missing."},
        BadScene{"widthAsText", R"({"width": "wide"})", "width must be a number."},
        BadScene{"widthTooSmall", R"({"width": 10, "height": 100})", "width must lie between 16 and 4096."},
        BadScene{"fractionalWidth", R"({"width": 200.5, "height": 100, "frameRate": 10, "duration": 1})",
         "width and height must be whole numbers of pixels."},
        BadScene{"noFrameRate", R"({"width": 200, "height": 100, "duration": 1})", "frameRate is missing."},
        BadScene{"zeroFrameRate", R"({"width": 200, "height": 100, "frameRate": 0, "duration": 1})",
         "frameRate must be a number of frames per second up to 240, or \"numerator:denominator\"."},
        BadScene{"zeroDenominator", R"({"width": 200, "height": 100, "frameRate": "30:0", "duration": 1})",
         "frameRate must be a number of frames per second up to 240, or \"numerator:denominator\"."},
        BadScene{"noDuration", R"({"width": 200, "height": 100, "frameRate": 10})", "duration is missing."},
        BadScene{"emptyBackground", "{" + base + R"(, "background": {}})", "background must give either \"color\" or \"image\"."},
        BadScene{"namedColour", "{" + base + R"(, "background": {"color": "blue"}})", "background.color must be a colour written as \"#rrggbb\"."},
        BadScene{"negativeNoise", "{" + base + R"(, "noise": {"sigma": -1}})", "noise.sigma must lie between 0 and 64."},
        BadScene{"brightnessBackwards", "{" + base + R"(, "brightness": [{"t": 1, "gain": 1}, {"t": 0.5, "gain": 1}]})",
         "brightness[1].t must not be earlier than the keyframe before it."},
        BadScene{"facesNotAList", "{" + base + R"(, "faces": {}})", "faces must be a list."},
        BadScene{"faceWithoutImage", withFace(oneKeyframe), "faces[0].image must be the path of an image."},
        BadScene{"absentImage", withFace(R"("image": "absent.png", )" + oneKeyframe),
         "faces[0].image \"absent.png\" was found neither next to the scene nor in the image folders (none given)."},
        BadScene{"cropOutsideImage", withFace(R"("image": "white.png", "crop": {"x": 0, "y": 10, "width": 40, "height": 41}, )" + oneKeyframe),
         "faces[0].crop must be a rectangle of at least 8x8 pixels inside the 40x50 image."},
        BadScene{"fractionalCrop", withFace(R"("image": "white.png", "crop": {"x": 0.5, "y": 0, "width": 20, "height": 20}, )" + oneKeyframe),
         "faces[0].crop.x must be a whole number of pixels."},
        BadScene{"noKeyframes", withFace(R"("image": "white.png", "keyframes": [])"), "faces[0].keyframes must hold at least one keyframe."},
        BadScene{"keyframeWithoutHeight", withFace(R"("image": "white.png", "keyframes": [{"t": 0, "x": 0.5, "y": 0.5}])"),
         "faces[0].keyframes[0].height is missing."},
        BadScene{"zeroHeight", withFace(R"("image": "white.png", "keyframes": [{"t": 0, "x": 0.5, "y": 0.5, "height": 0}])"),
         "faces[0].keyframes[0].height must lie between 0.01 and 4."},
        BadScene{"keyframesBackwards", withFace(R"("image": "white.png", "keyframes": [{"t": 2, "x": 0, "y": 0, "height": 1},
                                                          {"t": 1, "x": 0, "y": 0, "height": 1}])"),
         "faces[0].keyframes[1].t must not be earlier than the keyframe before it."},
        BadScene{"disappearAtAppear", withFace(R"("image": "white.png", "appear": 3, "disappear": 3, )" + oneKeyframe),
         "faces[0].disappear must come after \"appear\"."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SceneFileTest, brokenJsonIsRefusedAndAWholeSceneAccepted)
{
    EXPECT_EQ(errorOf("{\"width\": ").rfind(prefixed("is not valid JSON ("), 0), 0u);
    EXPECT_EQ(errorOf(withFace(R"("image": "white.png", )" + oneKeyframe)), "accepted");
}

TEST_F(SceneFileTest, placesAreInterpolatedHeldAndLimitedToTheFacesTime)
{
    const Scene scene = parseScene(QByteArray::fromStdString(withFace(R"("image": "white.png", "appear": 1,
        "disappear": 5, "keyframes": [{"t": 2, "x": 0.2, "y": 0.4, "height": 0.5},
                                      {"t": 4, "x": 0.6, "y": 0.8, "height": 0.3}])")),
                                   sceneFile(), {});
    const SceneFace& face = scene.faces.at(0);
    EXPECT_FALSE(face.placementAt(0.99));
    ASSERT_TRUE(face.placementAt(1));
    EXPECT_DOUBLE_EQ(face.placementAt(1)->x, 0.2); // held before the first keyframe
    const auto middle = face.placementAt(3);
    ASSERT_TRUE(middle);
    EXPECT_DOUBLE_EQ(middle->x, 0.4);
    EXPECT_DOUBLE_EQ(middle->y, 0.6);
    EXPECT_DOUBLE_EQ(middle->height, 0.4);
    EXPECT_DOUBLE_EQ(face.placementAt(4.9)->y, 0.8); // held after the last
    EXPECT_FALSE(face.placementAt(5));

    EXPECT_EQ(scene.frameCount(), 10);
    EXPECT_EQ(face.image, path("white.png")); // found next to the scene file
}

TEST_F(SceneFileTest, rendersFacesAtTheirPlaceWithGainAndRepeatableNoise)
{
    Scene scene = parseScene(QByteArray::fromStdString(R"({"width": 200, "height": 100, "frameRate": 10,
        "duration": 2, "background": {"color": "#000000"}, "faces": [{"image": "white.png",
        "keyframes": [{"t": 0, "x": 0.25, "y": 0.5, "height": 0.5}, {"t": 1, "x": 0.75, "y": 0.5, "height": 0.5}]}]})"),
                             sceneFile(), {});
    {
        const SceneRenderer renderer(scene);
        // Frame 0: the 40x50 white portrait, 50 pixels tall, fills x 30-70, y 25-75.
        const QImage first = renderer.render(0);
        EXPECT_EQ(qGray(first.pixel(50, 50)), 255);
        EXPECT_EQ(qGray(first.pixel(31, 26)), 255);
        EXPECT_EQ(qGray(first.pixel(28, 50)), 0);
        EXPECT_EQ(qGray(first.pixel(50, 23)), 0);
        EXPECT_EQ(qGray(first.pixel(150, 50)), 0);
        // Frame 10 (1 s): moved to (150, 50).
        const QImage moved = renderer.render(10);
        EXPECT_EQ(qGray(moved.pixel(50, 50)), 0);
        EXPECT_EQ(qGray(moved.pixel(150, 50)), 255);
    }

    scene.backgroundColor = QColor(200, 200, 200);
    scene.faces.clear();
    scene.brightness = {{0, 1.0}, {1, 0.5}};
    scene.noise = 8;
    scene.seed = 42;
    const SceneRenderer renderer(scene);
    const QImage first = renderer.render(0);
    EXPECT_EQ(first, SceneRenderer(scene).render(0)); // the same seed draws the same noise
    EXPECT_NE(first, renderer.render(1));

    const auto statistics = [](const QImage& image) {
        double sum = 0;
        double squares = 0;
        const double n = static_cast<double>(image.width()) * image.height();
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const double value = qRed(image.pixel(x, y));
                sum += value;
                squares += value * value;
            }
        }
        const double mean = sum / n;
        return std::pair{mean, std::sqrt(squares / n - mean * mean)};
    };
    const auto [mean0, deviation0] = statistics(first);
    EXPECT_NEAR(mean0, 200, 0.5);
    EXPECT_NEAR(deviation0, 8, 0.5);
    const auto [mean1, deviation1] = statistics(renderer.render(15)); // held at gain 0.5
    EXPECT_NEAR(mean1, 100, 0.5);
    EXPECT_NEAR(deviation1, 8, 0.5);
}
