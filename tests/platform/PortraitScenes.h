#pragma once

#include "Scene.h"
#include "SceneRenderer.h"

#include "platform/LandmarkDetector.h"

#include <QFileInfo>
#include <QLoggingCategory>
#include <QString>

#include <gtest/gtest.h>

namespace verticora::test {

inline QString testDataFolder()
{
    return QStringLiteral(VERTICORA_TEST_DATA_DIR);
}

inline QString astronautPath()
{
    return testDataFolder() + "/astronaut.png";
}

// The face of the public-domain astronaut portrait (512x512), hair to neck. The
// detector's face box is about 0.55 of this crop's width and centred in it.
inline const QRect astronautFaceCrop{142, 25, 160, 200};
inline constexpr double faceWidthPerCropHeight = 0.55 * 160.0 / 200.0;

// A still scene of the one portrait, its crop centred at (x, y) (normalised, top-down)
// with a detector face box about `faceWidth` pixels wide.
inline clip::Scene portraitScene(int width, int height, double faceWidth, double x = 0.5, double y = 0.5)
{
    // The portrait's colour profile makes libpng warn on every read.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio=false"));
    clip::Scene scene;
    scene.width = width;
    scene.height = height;
    scene.duration = 1;
    scene.backgroundColor = QColor(120, 128, 136);
    clip::SceneFace face;
    face.image = astronautPath();
    face.crop = astronautFaceCrop;
    face.keyframes.push_back({0, {x, y, faceWidth / faceWidthPerCropHeight / height}});
    scene.faces.push_back(face);
    return scene;
}

// The model loads once per test process; every test shares this detector.
inline LandmarkDetector& sharedDetector()
{
    static LandmarkDetector detector;
    return detector;
}

// The centre of a landmark region, normalised to the frame with the origin at its lower left.
inline Point regionCenter(const FaceObservation& face, const std::optional<LandmarkRegion>& region)
{
    Point sum;
    for (const Point& p : region->normalizedPoints)
        sum = {sum.x + p.x, sum.y + p.y};
    const auto n = static_cast<double>(region->normalizedPoints.size());
    return {face.boundingBox.minX + sum.x / n * face.boundingBox.width,
            face.boundingBox.minY + sum.y / n * face.boundingBox.height};
}

// Stops a test early, with the remedy, when the portrait has not been fetched.
#define VERTICORA_REQUIRE_PORTRAIT()                                                                                  \
    ASSERT_TRUE(QFileInfo::exists(::verticora::test::astronautPath()))                                               \
        << "the test portrait is missing; `make test` fetches it with scripts/fetch-test-imagery"

} // namespace verticora::test
