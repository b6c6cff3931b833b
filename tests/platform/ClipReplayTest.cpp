#include "PortraitScenes.h"

#include "ClipReplay.h"
#include "Scene.h"
#include "SceneRenderer.h"

#include <QTemporaryDir>

#include <functional>

using namespace verticora;

namespace {

struct Replayed {
    std::vector<ReplayFrame> frames;
    ReplaySummary summary;

    [[nodiscard]] std::optional<double> firstTime(const std::function<bool(const ReplayFrame&)>& holds) const
    {
        for (const ReplayFrame& frame : frames) {
            if (holds(frame))
                return frame.time;
        }
        return std::nullopt;
    }
    [[nodiscard]] std::optional<double> firstTime(ZoneState state) const
    {
        return firstTime([state](const ReplayFrame& frame) { return frame.state == state; });
    }
    // Whether some frame between `after` and `before` found `faces` faces.
    [[nodiscard]] bool sawFaces(int faces, double after = 0, double before = 1e9) const
    {
        return bool(firstTime(
            [=](const ReplayFrame& frame) { return frame.time > after && frame.time < before && frame.faces == faces; }));
    }
    void expectInsideAfter(double after) const
    {
        for (const ReplayFrame& frame : frames) {
            if (frame.time > after) {
                EXPECT_EQ(frame.state, ZoneState::inside) << "at " << frame.time;
            }
        }
    }
};

// Renders one of the sample scenes and replays it through the real analysis chain.
class ClipReplayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        VERTICORA_REQUIRE_PORTRAIT();
        ASSERT_TRUE(m_folder.isValid());
        QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio=false"));
    }

    std::filesystem::path render(const char* sceneName)
    {
        const QString sceneFile = QStringLiteral(VERTICORA_SCENE_DIR "/") + sceneName;
        const clip::SceneRenderer renderer(clip::loadScene(sceneFile, {test::testDataFolder()}));
        const std::filesystem::path clip = m_folder.filePath(sceneName).toStdString() + ".y4m";
        clip::writeClip(renderer, clip);
        return clip;
    }

    Replayed replay(const std::filesystem::path& clip, ClipReplaySettings settings = {})
    {
        Replayed result;
        ClipReplay chain(std::make_unique<LandmarkDetector>(), settings);
        result.summary = chain.run(clip, [&](const ReplayFrame& frame) { result.frames.push_back(frame); });
        return result;
    }

private:
    QTemporaryDir m_folder;
};

} // namespace

TEST_F(ClipReplayTest, aStillSeatedFaceIsCalibratedStaysInsideAndIsFollowedByPatchPasses)
{
    const Replayed run = replay(render("seated-still.json"));
    ASSERT_FALSE(run.summary.error);
    const auto monitoring = run.firstTime(ZoneState::inside);
    ASSERT_TRUE(monitoring) << "calibration never finished";
    EXPECT_LT(*monitoring, 4.0);
    double lastFull = -1;
    int full = 0;
    int patch = 0;
    for (const ReplayFrame& frame : run.frames) {
        if (frame.time < *monitoring)
            continue;
        EXPECT_EQ(frame.state, ZoneState::inside) << "at " << frame.time;
        if (frame.path == "full") {
            lastFull = frame.time;
            ++full;
        } else {
            ++patch;
            EXPECT_LT(frame.time - lastFull, 0.95) << "patch passes only follow a recent full pass";
        }
    }
    // The still scene stretches the spacing to 0.53 s, so passes alternate once the
    // templates of a full pass expire 0.9 s after it.
    EXPECT_GE(patch, full - 2);
    EXPECT_GE(patch, 10);
    EXPECT_NEAR(run.summary.clipSeconds, 20.0, 1e-9);
}

TEST_F(ClipReplayTest, sinkingGoesYellowThenRedThenAlertsAfterTheDelay)
{
    const Replayed run = replay(render("seated-sinking.json"));
    ASSERT_FALSE(run.summary.error);
    const auto yellow = run.firstTime(ZoneState::yellow);
    const auto outside = run.firstTime(ZoneState::outside);
    const auto alert = run.firstTime(ZoneState::alert);
    ASSERT_TRUE(yellow && outside && alert);
    EXPECT_GT(*yellow, 6.0);
    EXPECT_LT(*yellow, *outside);
    EXPECT_GE(*alert - *outside, 2.0);
    EXPECT_LT(*alert - *outside, 3.0);
    EXPECT_EQ(run.frames.back().state, ZoneState::inside) << "back at the seated height";
    EXPECT_GT(run.summary.seconds.at("alert"), 4.0);
}

TEST_F(ClipReplayTest, aSecondFaceEnteringFromTheSideNeverTakesOver)
{
    const Replayed run = replay(render("second-face-enters.json"));
    ASSERT_FALSE(run.summary.error);
    EXPECT_TRUE(run.sawFaces(2));
    for (const ReplayFrame& frame : run.frames) {
        if (frame.faces == 2) {
            EXPECT_EQ(frame.path, "full") << "two confident faces never seed the tracker";
        }
    }
    const auto monitoring = run.firstTime(ZoneState::inside);
    ASSERT_TRUE(monitoring) << "calibration never finished";
    run.expectInsideAfter(std::max(*monitoring, 4.0));
}

TEST_F(ClipReplayTest, aDamagedClipIsReportedWithItsFileAndFrame)
{
    const std::filesystem::path clip = render("seated-still.json");
    std::filesystem::resize_file(clip, std::filesystem::file_size(clip) - 1000);
    const Replayed run = replay(clip);
    ASSERT_TRUE(run.summary.error);
    EXPECT_NE(run.summary.error->find(clip.filename().string()), std::string::npos) << *run.summary.error;
    EXPECT_NE(run.summary.error->find("frame 199"), std::string::npos) << *run.summary.error;
    EXPECT_EQ(run.summary.frames, 199);
}

TEST_F(ClipReplayTest, aVisitorSteppingInCloserThanTheSubjectIsIgnored)
{
    const Replayed run = replay(render("visitor-passes.json"));
    ASSERT_FALSE(run.summary.error);
    EXPECT_TRUE(run.sawFaces(2));
    run.expectInsideAfter(4.0);
}

TEST_F(ClipReplayTest, aCrowdInTheBackgroundNeitherTakesOverNorHidesTheLargerFaces)
{
    const Replayed run = replay(render("crowd-background.json"));
    ASSERT_FALSE(run.summary.error);
    const auto monitoring = run.firstTime(ZoneState::inside);
    ASSERT_TRUE(monitoring) << "calibration never finished";
    run.expectInsideAfter(*monitoring);
    int fullPasses = 0;
    for (const ReplayFrame& frame : run.frames) {
        if (frame.time >= *monitoring && frame.path == "full") {
            ++fullPasses;
            // The subject and the background face two thirds its size are found by
            // every pass; the four small ones only by the whole-pyramid passes.
            EXPECT_GE(frame.faces, 2) << "at " << frame.time;
        }
    }
    EXPECT_GT(fullPasses, 10);
}

TEST_F(ClipReplayTest, aSubjectLeavingThroughTheBottomIsFoundAgainWhenItReturns)
{
    const Replayed run = replay(render("bottom-exit-return.json"));
    ASSERT_FALSE(run.summary.error);
    const auto bottom = run.firstTime([](const ReplayFrame& frame) { return frame.loss == FaceLossReason::bottom; });
    ASSERT_TRUE(bottom);
    EXPECT_GT(*bottom, 11.0);
    ASSERT_FALSE(run.frames.empty());
    EXPECT_GT(run.frames.back().time, 23.0);
    run.expectInsideAfter(20.5);
}

// Dropping 0.3 frame heights between two analysed frames is too far to be followed. A
// glance down that short is forgiven; a slump that stays is taken back once the face has
// stayed put for two seconds, and alerts.
TEST_F(ClipReplayTest, aSlumpTooFastToFollowIsTakenBackOnceSettledAndAlerts)
{
    const Replayed run = replay(render("quick-slump.json"));
    ASSERT_FALSE(run.summary.error);
    const double slump = 10.15;
    const ClipReplaySettings defaults;
    std::optional<double> alert;
    for (const ReplayFrame& frame : run.frames) {
        if (frame.time > 4 && frame.time < slump) {
            EXPECT_TRUE(frame.state == ZoneState::inside || frame.state == ZoneState::lost) << "at " << frame.time;
        }
        if (frame.time > slump && !alert && frame.state == ZoneState::alert)
            alert = frame.time;
    }
    ASSERT_TRUE(alert) << "the slump never reached the alert";
    EXPECT_LE(*alert - slump, defaults.delay + 4.5);
    EXPECT_EQ(run.frames.back().state, ZoneState::inside) << "back at the seated height";
}

// Nobody but the person who set the height is ever measured: not a passer-by who stops
// above the empty seat, nor one who waits at its side, nor a face further back. The
// person comes back and sits down lower than before: taken back, red, and the alert.
TEST_F(ClipReplayTest, aStrangerAloneInViewIsNeverTakenForTheSubjectWhoComesBackLower)
{
    const Replayed run = replay(render("stranger-stays-after-leaving.json"));
    ASSERT_FALSE(run.summary.error);
    EXPECT_TRUE(run.sawFaces(1, 8.5, 32)) << "the stranger alone in view";
    const auto measured = run.firstTime([](const ReplayFrame& frame) { return frame.time > 8.5 && frame.features; });
    EXPECT_TRUE(!measured || *measured >= 32) << "measured a stranger at " << *measured;
    const auto alert = run.firstTime(ZoneState::alert);
    ASSERT_TRUE(alert);
    EXPECT_GT(*alert, 34.0);
}

// The subject slumps while a visitor stands beside it: neither face is taken while both
// are in view; once the visitor has gone, the subject is taken back where it sank.
TEST_F(ClipReplayTest, aSlumpedSubjectIsTakenBackOnlyOnceTheVisitorHasGone)
{
    const Replayed run = replay(render("slump-beside-visitor.json"));
    ASSERT_FALSE(run.summary.error);
    EXPECT_TRUE(run.sawFaces(2, 10.5));
    const auto measuredBeside =
        run.firstTime([](const ReplayFrame& frame) { return frame.time > 10.5 && frame.faces == 2 && frame.features; });
    EXPECT_FALSE(measuredBeside) << "at " << *measuredBeside;
    const auto outside = run.firstTime(ZoneState::outside);
    const auto alert = run.firstTime(ZoneState::alert);
    ASSERT_TRUE(outside && alert);
    EXPECT_GT(*outside, 19.0);
    EXPECT_LT(*alert, 19.0 + 2 + 4.5);
}
