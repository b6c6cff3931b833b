#include "PortraitScenes.h"

#include "analysis/SeatedPoseDetector.h"
#include "platform/LandmarkDetector.h"

#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace verticora;
using namespace verticora::test;

namespace {

std::vector<FaceObservation> detect(const QImage& frame)
{
    return sharedDetector().perform(clip::bgraView(frame));
}

QImage renderPortrait(int width, int height, double faceWidth, double x = 0.5, double y = 0.5)
{
    return clip::SceneRenderer(portraitScene(width, height, faceWidth, x, y)).render(0);
}

// The face has its five landmark regions, and is measured by the seated detector's
// read-out, with eyes above nose above chin in believable proportions, all inside the
// face box (the chin may reach a little below it).
void expectMeasurableFace(const FaceObservation& face, double aspect)
{
    ASSERT_TRUE(face.faceContour && face.leftEye && face.rightEye && face.noseCrest && face.nose);
    for (const auto& [region, count] : {std::pair{&face.faceContour, 17}, std::pair{&face.leftEye, 6},
                                        std::pair{&face.rightEye, 6}, std::pair{&face.noseCrest, 4},
                                        std::pair{&face.nose, 5}}) {
        EXPECT_EQ((*region)->pointCount, count);
        EXPECT_EQ((*region)->normalizedPoints.size(), static_cast<std::size_t>(count));
    }
    // Box-relative points with the origin at the lower left: the jaw line runs from
    // high at the sides to its lowest point in the middle, the nose crest downwards.
    const auto& contour = face.faceContour->normalizedPoints;
    EXPECT_GT(contour.front().y, contour[8].y);
    EXPECT_GT(contour.back().y, contour[8].y);
    EXPECT_LT(contour.front().x, contour[8].x);
    EXPECT_GT(contour.back().x, contour[8].x);
    const auto& crest = face.noseCrest->normalizedPoints;
    EXPECT_GT(crest.front().y, crest.back().y);
    EXPECT_GT(regionCenter(face, face.leftEye).y, regionCenter(face, face.nose).y);

    const SeatedDetection detection = SeatedPoseDetector::landmarks(face, aspect);
    ASSERT_TRUE(detection.features) << detection.guidance;
    ASSERT_TRUE(detection.features->heightLandmarks);
    const FaceHeightLandmarks& h = *detection.features->heightLandmarks;
    EXPECT_LT(h.eyesY, h.noseY);
    EXPECT_LT(h.noseY, h.chinY);
    const double noseShare = (h.noseY - h.eyesY) / (h.chinY - h.eyesY);
    EXPECT_GT(noseShare, 0.15);
    EXPECT_LT(noseShare, 0.6);

    ASSERT_EQ(detection.points.size(), 4u);
    EXPECT_LT(detection.points[0].x, detection.points[1].x); // the image-left eye is on the left
    const Rect& box = face.boundingBox;
    for (const Point& p : detection.points) {
        EXPECT_GT(p.x, box.minX);
        EXPECT_LT(p.x, box.maxX());
        EXPECT_GT(p.y, box.minY - 0.25 * box.height); // the chin may lie just below the box
        EXPECT_LT(p.y, box.maxY());
    }
}

// The portrait `faceWidth` pixels wide, centred at (x, y) of a `width` x `height` frame.
struct Placement {
    const char* name;
    int width;
    int height;
    double faceWidth;
    double x;
    double y;
};

class LandmarkDetectorPlacement : public ::testing::TestWithParam<Placement> {};

} // namespace

// Large frames are read at the same face size relative to the frame as the analysis frame.
TEST_P(LandmarkDetectorPlacement, findsTheOnePortraitWhereItIsAndMeasuresIt)
{
    VERTICORA_REQUIRE_PORTRAIT();
    const Placement& place = GetParam();
    const auto faces = detect(renderPortrait(place.width, place.height, place.faceWidth, place.x, place.y));
    ASSERT_EQ(faces.size(), 1u);
    const FaceObservation& face = faces.front();
    EXPECT_GE(face.confidence, 0.7f);
    EXPECT_LE(face.confidence, 1.0f);
    EXPECT_NEAR(face.boundingBox.width * place.width, place.faceWidth, 0.2 * place.faceWidth);
    EXPECT_NEAR(face.boundingBox.height * place.height, place.faceWidth, 0.2 * place.faceWidth);
    EXPECT_NEAR(face.boundingBox.midX() * place.width, place.x * place.width, 0.15 * place.faceWidth);
    EXPECT_NEAR((1 - face.boundingBox.midY()) * place.height, place.y * place.height, 0.15 * place.faceWidth);
    expectMeasurableFace(face, static_cast<double>(place.width) / place.height);
}

INSTANTIATE_TEST_SUITE_P(Portraits, LandmarkDetectorPlacement,
                         ::testing::Values(Placement{"smallestCentred", 384, 216, 40, 0.5, 0.5},
                                           Placement{"smallestTopLeft", 384, 216, 40, 0.2, 0.3},
                                           Placement{"smallestBottomRight", 384, 216, 40, 0.85, 0.7},
                                           Placement{"small", 384, 216, 48, 0.6, 0.45},
                                           Placement{"medium", 384, 216, 64, 0.4, 0.55},
                                           Placement{"large", 384, 216, 96, 0.5, 0.5},
                                           Placement{"largest", 384, 216, 140, 0.5, 0.5},
                                           Placement{"hdFrame", 1280, 720, 192, 0.55, 0.45},
                                           Placement{"fullHdFrame", 1920, 1080, 288, 0.55, 0.45}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LandmarkDetector, aFrontalFaceHasASmallYawThatMirroringReverses)
{
    VERTICORA_REQUIRE_PORTRAIT();
    const QImage frame = renderPortrait(384, 216, 90);
    const auto faces = detect(frame);
    const auto mirrored = detect(frame.mirrored(true, false));
    ASSERT_EQ(faces.size(), 1u);
    ASSERT_EQ(mirrored.size(), 1u);
    ASSERT_TRUE(faces.front().yaw);
    ASSERT_TRUE(mirrored.front().yaw);
    EXPECT_LT(std::abs(*faces.front().yaw), 0.35);
    EXPECT_NEAR(*mirrored.front().yaw, -*faces.front().yaw, 0.1);
}

TEST(LandmarkDetector, findsNoFaceOnBlankOrNoisyFrames)
{
    QImage grey(384, 216, QImage::Format_RGB32);
    grey.fill(QColor(128, 128, 128));
    EXPECT_TRUE(detect(grey).empty());

    clip::Scene noise;
    noise.width = 384;
    noise.height = 216;
    noise.noise = 12;
    EXPECT_TRUE(detect(clip::SceneRenderer(noise).render(0)).empty());

    QImage tiny(8, 5, QImage::Format_RGB32);
    tiny.fill(Qt::white);
    EXPECT_TRUE(detect(tiny).empty());
}

// The camera delivers I420; its luma plane must be read as such, with its own row stride.
// A width that is not a multiple of 16 gives the buffers padded rows.
TEST(LandmarkDetector, readsI420FramesLikeGreyBgraFramesOfTheSameLuma)
{
    VERTICORA_REQUIRE_PORTRAIT();
    const QImage grey = renderPortrait(390, 218, 60, 0.45, 0.5).convertToFormat(QImage::Format_Grayscale8);
    PixelBuffer i420(grey.width(), grey.height(), pixelFormat::i420Video);
    PixelBuffer bgra(grey.width(), grey.height(), pixelFormat::bgra);
    ASSERT_GT(i420.bytesPerRow(0), static_cast<std::size_t>(grey.width()));
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* in = grey.constScanLine(y);
        std::copy_n(in, grey.width(), i420.row(0, y));
        for (int x = 0; x < grey.width(); ++x)
            std::fill_n(bgra.row(0, y) + 4 * x, 3, in[x]);
    }
    for (std::size_t plane = 1; plane < 3; ++plane)
        std::fill_n(i420.planeData(plane),
                    i420.bytesPerRow(plane) * static_cast<std::size_t>(PixelBufferView::planeRows(i420.format(), i420.height(), plane)),
                    std::uint8_t{128});

    LandmarkDetector detector;
    const auto fromBgra = detector.perform(bgra.view());
    const auto fromI420 = detector.perform(i420.view());
    ASSERT_EQ(fromBgra.size(), 1u);
    ASSERT_EQ(fromI420.size(), 1u);
    const FaceObservation& a = fromBgra.front();
    const FaceObservation& b = fromI420.front();
    EXPECT_EQ(a.boundingBox.midX(), b.boundingBox.midX());
    EXPECT_EQ(a.boundingBox.width, b.boundingBox.width);
    for (const auto region : {&FaceObservation::faceContour, &FaceObservation::leftEye, &FaceObservation::nose}) {
        ASSERT_TRUE(a.*region && b.*region);
        EXPECT_EQ((a.*region)->normalizedPoints, (b.*region)->normalizedPoints);
    }
}
