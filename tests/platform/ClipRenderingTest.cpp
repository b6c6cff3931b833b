#include "PortraitScenes.h"

#include "platform/Y4mClip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using namespace verticora;
using namespace verticora::test;
namespace fs = std::filesystem;

namespace {

// The detector's face box in normalised frame coordinates (top-down), by the crop's
// proportions: 0.55 of the crop's width, square, centred on it.
struct ExpectedFace {
    double x;
    double y;
    double widthPixels;
};

enum class Visibility { inside, outside, partly };

Visibility visibilityOf(const ExpectedFace& face, int width, int height)
{
    const double halfX = face.widthPixels / 2 / width;
    const double halfY = face.widthPixels / 2 / height;
    if (face.x - halfX > 1 || face.x + halfX < 0 || face.y - halfY > 1 || face.y + halfY < 0)
        return Visibility::outside;
    const double marginX = 4.0 / width;
    const double marginY = 4.0 / height;
    if (face.x - halfX > marginX && face.x + halfX < 1 - marginX && face.y - halfY > marginY
        && face.y + halfY < 1 - marginY) {
        return Visibility::inside;
    }
    return Visibility::partly;
}

int runTool(const std::string& arguments)
{
    const int status = std::system((std::string(VERTICORA_CLIP_TOOL) + " " + arguments).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string quoted(const std::string& text)
{
    return "'" + text + "'";
}

// A folder of its own, gone when the test ends however it ends.
struct ScratchFolder {
    explicit ScratchFolder(const std::string& name)
        : path(fs::temp_directory_path() / ("verticora-clips-" + std::to_string(::getpid()) + "-" + name))
    {
        fs::create_directories(path);
    }
    ~ScratchFolder() { fs::remove_all(path); }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    fs::path path;
};

class ClipRenderingScene : public ::testing::TestWithParam<const char*> {};

} // namespace

// Renders a sample scene with the tool at the analysis size, reads the clip back and
// finds each face, with the detector, where the scene's keyframes put it at that time.
TEST_P(ClipRenderingScene, putsEveryFaceWhereItsKeyframesSay)
{
    VERTICORA_REQUIRE_PORTRAIT();
    const char* name = GetParam();
    const ScratchFolder folder(name);
    constexpr int width = 384;
    constexpr int height = 216;
    const fs::path clipFile = folder.path / (std::string(name) + ".y4m");
    const std::string sceneFile = std::string(VERTICORA_SCENE_DIR) + "/" + name + ".json";
    ASSERT_EQ(runTool("--images " + quoted(testDataFolder().toStdString()) + " --size 384x216 --fps 2 "
                      + quoted(sceneFile) + " " + quoted(clipFile.string())),
              0);
    const clip::Scene scene = clip::loadScene(QString::fromStdString(sceneFile), {testDataFolder()});

    Y4mReader reader(clipFile);
    ASSERT_EQ(reader.width(), width);
    ASSERT_EQ(reader.height(), height);
    int checkedFrames = 0;
    int checkedFaces = 0;
    while (auto frame = reader.next()) {
        const double t = frame->presentationTime;
        EXPECT_DOUBLE_EQ(t, frame->index * 0.5);
        std::vector<ExpectedFace> expected;
        bool clear = true;
        for (const clip::SceneFace& face : scene.faces) {
            const auto place = face.placementAt(t);
            if (!place)
                continue;
            const ExpectedFace box{place->x, place->y, faceWidthPerCropHeight * place->height * height};
            const Visibility visibility = visibilityOf(box, width, height);
            clear = clear && visibility != Visibility::partly;
            if (visibility == Visibility::inside)
                expected.push_back(box);
        }
        if (!clear)
            continue; // a face cut by the edge may or may not be found
        ++checkedFrames;
        const auto found = sharedDetector().perform(frame->buffer.view());
        ASSERT_EQ(found.size(), expected.size()) << "at " << t << " s";
        for (const ExpectedFace& face : expected) {
            const auto match = std::find_if(found.begin(), found.end(), [&](const FaceObservation& o) {
                return std::abs(o.boundingBox.midX() * width - face.x * width) < 0.2 * face.widthPixels
                    && std::abs((1 - o.boundingBox.midY()) * height - face.y * height) < 0.2 * face.widthPixels;
            });
            ASSERT_NE(match, found.end()) << "no face near " << face.x << ", " << face.y << " at " << t << " s";
            EXPECT_NEAR(match->boundingBox.width * width, face.widthPixels, 0.25 * face.widthPixels);
            ++checkedFaces;
        }
    }
    EXPECT_EQ(reader.framesRead(), std::llround(scene.duration * 2));
    EXPECT_GT(checkedFrames, reader.framesRead() / 2);
    EXPECT_GT(checkedFaces, 0);
}

INSTANTIATE_TEST_SUITE_P(SampleScenes, ClipRenderingScene,
                         ::testing::Values("seated-still", "seated-sinking", "second-face-enters", "leaving-bottom"),
                         [](const auto& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });
