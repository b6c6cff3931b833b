#include "PortraitScenes.h"

#include "analysis/SeatedPoseDetector.h"
#include "platform/BlazeFaceFinder.h"
#include "platform/LandmarkDetector.h"

#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <grp.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <numbers>

using namespace verticora;
using namespace verticora::test;

namespace {

constexpr double aspect = 384.0 / 216.0;

// The portrait seated in a 384 x 216 frame, its light scaled by `gain` with sensor noise
// of `noise` grey levels.
QImage portrait(double faceWidth, double gain = 1, double noise = 0)
{
    clip::Scene scene = portraitScene(384, 216, faceWidth, 0.5, 0.5);
    scene.brightness = {{0, gain}};
    scene.noise = noise;
    return clip::SceneRenderer(scene).render(0);
}

// `frame` turned by `degrees` about its centre, the corners filled with the background.
QImage rolled(const QImage& frame, double degrees)
{
    QImage out(frame.size(), frame.format());
    out.fill(QColor(120, 128, 136));
    QPainter painter(&out);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.translate(frame.width() / 2.0, frame.height() / 2.0);
    painter.rotate(degrees);
    painter.drawImage(QPointF(-frame.width() / 2.0, -frame.height() / 2.0), frame);
    return out;
}

} // namespace

TEST(SecondFaceFinder, findsThePortraitWithItsKeypointsWhereTheLandmarksAre)
{
    VERTICORA_REQUIRE_PORTRAIT();
    const QImage frame = portrait(90);
    const std::vector<FaceObservation> hog = sharedDetector().perform(clip::bgraView(frame));
    ASSERT_EQ(hog.size(), 1u);

    BlazeFaceFinder finder;
    EXPECT_FALSE(finder.loaded()) << "the network is read when it is first needed";
    const std::vector<BlazeFace> found = finder.find(clip::bgraView(frame));
    ASSERT_TRUE(finder.loaded()) << finder.loadFailure().value_or("");
    ASSERT_EQ(found.size(), 1u);
    const BlazeFace& face = found.front();
    EXPECT_GT(face.score, 0.8f);
    const auto inPixels = [&](const std::optional<LandmarkRegion>& eye) {
        const Point centre = regionCenter(hog.front(), eye);
        return Point{centre.x * 384, (1 - centre.y) * 216};
    };
    const Point imageLeftEye = inPixels(hog.front().leftEye);
    const Point imageRightEye = inPixels(hog.front().rightEye);
    const double eyeDistance = imageRightEye.x - imageLeftEye.x;
    // The person's right eye is the one on the image's left.
    const auto near = [&](Point a, Point b) { return std::hypot(a.x - b.x, a.y - b.y) < 0.3 * eyeDistance; };
    EXPECT_TRUE(near(face.keypoints[BlazeFace::rightEye], imageLeftEye));
    EXPECT_TRUE(near(face.keypoints[BlazeFace::leftEye], imageRightEye));
    EXPECT_LT(face.keypoints[BlazeFace::leftEye].y, face.keypoints[BlazeFace::noseTip].y);
    EXPECT_LT(face.keypoints[BlazeFace::noseTip].y, face.keypoints[BlazeFace::mouth].y);
    EXPECT_NEAR(face.side, hog.front().boundingBox.width * 384, 0.25 * face.side);

    QImage blank(384, 216, QImage::Format_RGB32);
    blank.fill(QColor(128, 128, 128));
    EXPECT_TRUE(finder.find(clip::bgraView(blank)).empty());
}

TEST(SecondFaceFinder, aMissingModelFindsNothingAndSaysWhy)
{
    VERTICORA_REQUIRE_PORTRAIT();
    BlazeFaceFinder finder("/nonexistent/blazeface.onnx");
    EXPECT_TRUE(finder.find(clip::bgraView(portrait(90))).empty());
    ASSERT_TRUE(finder.loadFailure());
    EXPECT_NE(finder.loadFailure()->find("/nonexistent/blazeface.onnx"), std::string::npos);
    EXPECT_TRUE(finder.find(clip::bgraView(portrait(90))).empty());

    LandmarkDetector detector(LandmarkDetector::defaultModelPath(), "/nonexistent/blazeface.onnx");
    const QImage frame = rolled(portrait(90), 50);
    (void)detector.perform(clip::bgraView(frame));
    EXPECT_TRUE(detector.findMissedFaces(clip::bgraView(frame)).empty()) << "HOG alone still works";
    EXPECT_TRUE(detector.finderLoadFailure());
}

// The finder's code is loaded only from the build's own path, and not when another user
// could have changed it.
TEST(SecondFaceFinder, refusesAMissingModuleAndOneOthersCouldChange)
{
    VERTICORA_REQUIRE_PORTRAIT();
    const QImage frame = portrait(90);
    BlazeFaceFinder missing(BlazeFaceFinder::defaultModelPath(), "/nonexistent/face-finder.so");
    EXPECT_TRUE(missing.find(clip::bgraView(frame)).empty());
    ASSERT_TRUE(missing.loadFailure());
    EXPECT_NE(missing.loadFailure()->find("/nonexistent/face-finder.so"), std::string::npos);

    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const std::filesystem::path outer = folder.path().toStdString();
    const std::filesystem::path module = outer / "lib" / "face-finder.so";
    std::filesystem::create_directory(module.parent_path());
    std::filesystem::copy_file(BlazeFaceFinder::defaultModulePath(), module);
    const auto expectRefused = [&] {
        BlazeFaceFinder finder(BlazeFaceFinder::defaultModelPath(), module);
        EXPECT_TRUE(finder.find(clip::bgraView(frame)).empty());
        ASSERT_TRUE(finder.loadFailure());
        EXPECT_NE(finder.loadFailure()->find("other users"), std::string::npos) << *finder.loadFailure();
    };
    using std::filesystem::perm_options;
    using std::filesystem::perms;
    // Whoever may write to a folder above the module may rename it and put another in its place.
    for (const std::filesystem::path& shared : {module, module.parent_path(), outer}) {
        SCOPED_TRACE(shared.string());
        std::filesystem::permissions(shared, perms::others_write, perm_options::add);
        expectRefused();
        std::filesystem::permissions(shared, perms::others_write, perm_options::remove);
    }
    // A group of several users may not write to it either (where this user may hand the file to one).
    if (const group* users = ::getgrnam("users"); users && ::chown(module.c_str(), -1, users->gr_gid) == 0) {
        std::filesystem::permissions(module, perms::group_write, perm_options::add);
        expectRefused();
        std::filesystem::permissions(module, perms::group_write, perm_options::remove);
    }
    BlazeFaceFinder finder(BlazeFaceFinder::defaultModelPath(), module);
    EXPECT_EQ(finder.find(clip::bgraView(frame)).size(), 1u) << finder.loadFailure().value_or("");
}

TEST(LandmarkDetector, brightensOnlyDarkFramesAndFindsTheFaceInThem)
{
    VERTICORA_REQUIRE_PORTRAIT();
    LandmarkDetector& detector = sharedDetector();
    (void)detector.perform(clip::bgraView(portrait(80)));
    EXPECT_FALSE(detector.lastToned()) << "a well-lit frame is analysed as it is";

    for (const double gain : {0.2, 0.12}) {
        SCOPED_TRACE(gain);
        const std::vector<FaceObservation> faces = detector.perform(clip::bgraView(portrait(80, gain, 4)));
        EXPECT_TRUE(detector.lastToned());
        ASSERT_EQ(faces.size(), 1u);
        const SeatedDetection measured = SeatedPoseDetector::landmarks(faces.front(), aspect);
        EXPECT_TRUE(measured.features) << measured.guidance;
    }
}

// HOG's frontal faces reach to about 35 degrees of roll; the second finder measures a
// face rolled further after turning it upright, with the proportions it has upright.
TEST(LandmarkDetector, measuresARolledFaceThatHogMissesWithItsUprightProportions)
{
    VERTICORA_REQUIRE_PORTRAIT();
    LandmarkDetector& detector = sharedDetector();
    const QImage upright = portrait(80);
    const std::vector<FaceObservation> straight = detector.perform(clip::bgraView(upright));
    ASSERT_EQ(straight.size(), 1u);
    const SeatedDetection reference = SeatedPoseDetector::landmarks(straight.front(), aspect);
    ASSERT_TRUE(reference.features);
    const std::vector<double> proportions = candidateSignature(straight.front().boundingBox, reference.points);

    for (const double degrees : {50.0, -50.0}) {
        SCOPED_TRACE(degrees);
        const QImage frame = rolled(upright, degrees);
        EXPECT_TRUE(detector.perform(clip::bgraView(frame)).empty());
        const std::vector<FaceObservation> missed = detector.findMissedFaces(clip::bgraView(frame));
        ASSERT_EQ(missed.size(), 1u);
        EXPECT_GE(missed.front().confidence, 0.7f);
        const SeatedDetection measured = SeatedPoseDetector::landmarks(missed.front(), aspect);
        ASSERT_TRUE(measured.features) << measured.guidance;
        // The eye line turned with the picture (clockwise on screen is a falling slope).
        const double slope = std::atan(measured.features->slope) * 180 / std::numbers::pi;
        EXPECT_NEAR(slope, -degrees, 8);
        const std::vector<double> signature = candidateSignature(missed.front().boundingBox, measured.points);
        ASSERT_EQ(signature.size(), 2u);
        EXPECT_NEAR(signature[0], proportions[0], 0.15 * proportions[0]);
        // The lowest contour point stands in for the chin; on a rolled face it lies along
        // the jaw, a little nearer the eye line.
        EXPECT_NEAR(signature[1], proportions[1], 0.25 * proportions[1]);
    }
}
