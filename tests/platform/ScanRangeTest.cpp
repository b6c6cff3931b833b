#include "PortraitScenes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace verticora;
using namespace verticora::test;

namespace {

constexpr int width = 384;
constexpr int height = 216;

double sideOf(const Rect& box)
{
    return std::max(box.width * width, box.height * height);
}

struct SceneCase {
    const char* file;
    std::size_t subject; // the scene's face that sits at the desk
};

} // namespace

// While a subject is tracked a full pass skips the finest pyramid levels. On the rendered
// scenes it still finds, with the same box and confidence, every face that the whole
// pyramid finds and that is at least 0.6 of the subject's size: the subject, a second
// face entering, a visitor stepping in front, the larger faces of a crowd, the subject
// sinking towards the bottom edge. Only the crowd's small faces go unseen.
TEST(ScanRange, restrictedPassesFindEveryFaceThatCouldBeTakenForTheSubject)
{
    VERTICORA_REQUIRE_PORTRAIT();
    QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio=false"));
    LandmarkDetector detector;
    int restrictedPasses = 0;
    int comparedFaces = 0;
    int skippedSmallFaces = 0;
    for (const SceneCase& sceneCase : {SceneCase{"second-face-enters.json", 0}, SceneCase{"visitor-passes.json", 0},
                                       SceneCase{"crowd-background.json", 4}, SceneCase{"bottom-exit-return.json", 0}}) {
        SCOPED_TRACE(sceneCase.file);
        clip::Scene scene = clip::loadScene(QStringLiteral(VERTICORA_SCENE_DIR "/") + sceneCase.file, {testDataFolder()});
        scene.width = width;
        scene.height = height;
        const clip::SceneRenderer renderer(scene);
        const double fps = scene.frameRate.framesPerSecond();
        for (double t = 0; t < scene.duration; t += 0.5) {
            SCOPED_TRACE(testing::Message() << "at " << t << " s");
            const auto place = scene.faces[sceneCase.subject].placementAt(t);
            const QImage frame = renderer.render(std::llround(t * fps));
            detector.setSearchHint({t, std::nullopt});
            const std::vector<FaceObservation> whole = detector.perform(clip::bgraView(frame));
            ASSERT_EQ(detector.lastFirstLevel(), 0);

            // The subject: the face found where the scene puts it.
            const FaceObservation* subject = nullptr;
            double nearest = 0.1;
            for (const FaceObservation& face : whole) {
                if (!place)
                    break;
                const double distance = std::hypot(face.boundingBox.midX() - place->x, 1 - face.boundingBox.midY() - place->y);
                if (distance < nearest) {
                    nearest = distance;
                    subject = &face;
                }
            }
            if (!subject)
                continue; // the subject is out of view

            detector.setSearchHint({t, subject->boundingBox});
            const std::vector<FaceObservation> restricted = detector.perform(clip::bgraView(frame));
            ASSERT_GE(detector.lastFirstLevel(), 1) << "a seated subject leaves the finest level out";
            ++restrictedPasses;
            for (const FaceObservation& face : whole) {
                const auto same = std::find_if(restricted.begin(), restricted.end(), [&](const FaceObservation& o) {
                    return o.boundingBox == face.boundingBox;
                });
                if (sideOf(face.boundingBox) < LandmarkDetector::smallestFaceShare * sideOf(subject->boundingBox)) {
                    skippedSmallFaces += same == restricted.end() ? 1 : 0;
                    continue;
                }
                ASSERT_NE(same, restricted.end()) << "lost a face of " << sideOf(face.boundingBox) << " px beside one of "
                                                  << sideOf(subject->boundingBox) << " px";
                EXPECT_EQ(same->confidence, face.confidence);
                EXPECT_EQ(same->leftEye->normalizedPoints, face.leftEye->normalizedPoints) << "the same landmarks";
                EXPECT_EQ(same->faceContour->normalizedPoints, face.faceContour->normalizedPoints);
                ++comparedFaces;
            }
        }
    }
    EXPECT_GT(restrictedPasses, 100);
    EXPECT_GT(comparedFaces, restrictedPasses + 40) << "second faces, visitors and the crowd's larger face";
    EXPECT_GT(skippedSmallFaces, 0) << "the crowd's small faces are the ones left out";
}

// The whole pyramid is scanned whenever nobody is tracked, when the subject is too small
// to leave anything out, when the caller's clock goes back, and at least every 3 s.
TEST(ScanRange, theWholePyramidIsScannedWithoutASubjectAndEveryFewSeconds)
{
    VERTICORA_REQUIRE_PORTRAIT();
    const QImage frame = clip::SceneRenderer(portraitScene(width, height, 72)).render(0);
    LandmarkDetector detector;
    const auto firstLevel = [&](double t, std::optional<Rect> subject) {
        detector.setSearchHint({t, subject});
        (void)detector.perform(clip::bgraView(frame));
        return detector.lastFirstLevel();
    };
    EXPECT_EQ(firstLevel(0, std::nullopt), 0);
    const std::optional<Rect> subject = detector.perform(clip::bgraView(frame)).front().boundingBox;
    EXPECT_GE(firstLevel(0.5, subject), 1);
    EXPECT_GE(firstLevel(2.9, subject), 1);
    EXPECT_EQ(firstLevel(3.0, subject), 0) << "3 s after the last whole scan";
    EXPECT_GE(firstLevel(3.4, subject), 1);
    EXPECT_EQ(firstLevel(1.0, subject), 0) << "the clock went back";
    EXPECT_GE(firstLevel(1.2, subject), 1);
    EXPECT_EQ(firstLevel(1.4, Rect{0.5, 0.5, 40.0 / width, 40.0 / height}), 0) << "a small subject";
    EXPECT_EQ(firstLevel(1.6, Rect{0.5, 0.5, std::numeric_limits<double>::quiet_NaN(), 0.3}), 0);
    EXPECT_EQ(firstLevel(std::numeric_limits<double>::infinity(), subject), 0);
    EXPECT_GE(firstLevel(1.8, Rect{0, 0, 50, 50}), 1) << "an absurd subject still leaves the coarsest level";
}
