#include "ShellScenario.h"

#include "app/StatusItem.h"
#include "app/StatusPresentation.h"
#include "visuals/MenuBarIcon.h"

#include <QMenu>
#include <QSignalSpy>

#include <cmath>

using namespace verticora;
using namespace verticora::testing;

namespace {

StatusInputs monitoringInside()
{
    StatusInputs in;
    in.active = true;
    in.stage = SetupStage::monitoring;
    in.state = ZoneState::inside;
    in.hasPose = true;
    in.score = 0.1;
    in.yellow = 0.45;
    in.red = 0.85;
    return in;
}

QRgb pixelOfFirstBar(const QImage& image)
{
    // The bar at angle 0 runs from 5 to 8.4 points right of the centre, on the centre line.
    return image.pixel(int(2 * 16.5), 20);
}

// Just above that bar, 0.6 points off its edge.
QRgb pixelBesideFirstBar(const QImage& image)
{
    return image.pixel(int(2 * 16.5), 17);
}

} // namespace

TEST(StatusPresentation, aDeviationOnABoundaryCountsAsTheZoneBelowIt)
{
    StatusInputs in = monitoringInside();
    in.score = 0.4499;
    EXPECT_EQ(statusColorKey(in), "green");
    in.score = 0.45;
    EXPECT_EQ(statusColorKey(in), "yellow");
    in.score = 0.85;
    EXPECT_EQ(statusColorKey(in), "red");
    in.score = std::nan("");
    EXPECT_EQ(statusColorKey(in), "neutral");

    in.score = 0.9;
    in.hasPose = false;
    in.bottomExitHeld = true; // a sink out of the picture keeps its red
    EXPECT_EQ(statusColorKey(in), "red");
    in.paused = true;
    EXPECT_EQ(statusColorKey(in), "neutral");
    in = monitoringInside();
    in.state = ZoneState::ready;
    EXPECT_EQ(statusColorKey(in), "neutral");
}

TEST(StatusPresentation, theFirstMatchingRowNamesTheStatus)
{
    StatusInputs in;
    in.loading = true;
    EXPECT_EQ(statusText(in), "Starting camera");
    in.loading = false;
    EXPECT_EQ(statusText(in), "Camera off");

    in = monitoringInside();
    in.paused = true;
    in.state = ZoneState::lost;
    EXPECT_EQ(statusText(in), "Reminders paused");
    in.paused = false;
    in.stage = SetupStage::heightSetup;
    EXPECT_EQ(statusText(in), "Tracking paused");
    in.state = ZoneState::ready;
    EXPECT_EQ(statusText(in), "Setup: comfortable height");
    in.stage = SetupStage::review;
    in.hasPersistenceMessage = true;
    EXPECT_EQ(statusText(in), "Height not saved");
    in.stage = SetupStage::idle;
    EXPECT_EQ(statusText(in), "Setting up your zones");

    in = monitoringInside();
    in.state = ZoneState::alert;
    EXPECT_EQ(statusText(in), "Red: outside your zone");
    in.hasPose = false;
    EXPECT_EQ(statusText(in), "Tracking paused");
    in.bottomExitHeld = true;
    EXPECT_EQ(statusText(in), "Red: outside your zone");
    in.state = ZoneState::ready;
    EXPECT_EQ(statusText(in), "Finding your position");
}

TEST(MenuBarIcon, drawsEachPictureOnceAndTheNeutralOneInTheTextColourWithAContrastingRim)
{
    MenuBarIcon icon;
    const QImage green = icon.statusImage("green", Qt::black);
    EXPECT_EQ(green.size(), QSize(40, 40));
    EXPECT_EQ(green.devicePixelRatio(), 2);
    EXPECT_EQ(icon.statusImage("green", Qt::white).cacheKey(), green.cacheKey());
    EXPECT_GT(qGreen(pixelOfFirstBar(green)), 2 * qRed(pixelOfFirstBar(green)));
    EXPECT_EQ(qAlpha(green.pixel(20, 20)), 0) << "the centre of the ring is empty";
    EXPECT_GT(qRed(pixelOfFirstBar(icon.statusImage("red", Qt::black))), 200);

    const QImage neutral = icon.statusImage("lost", Qt::black);
    EXPECT_EQ(icon.statusImage("", Qt::black).cacheKey(), neutral.cacheKey());
    EXPECT_TRUE(MenuBarIcon::isTemplate("lost"));
    EXPECT_FALSE(MenuBarIcon::isTemplate("yellow"));
    EXPECT_LT(qRed(pixelOfFirstBar(neutral)), 40);
    EXPECT_GT(qRed(pixelBesideFirstBar(neutral)), 200) << "dark bars show on a dark panel by their light rim";
    EXPECT_EQ(qAlpha(pixelBesideFirstBar(green)), 0) << "coloured bars need no rim";
    const QImage light = icon.statusImage("neutral", Qt::white);
    EXPECT_NE(light.cacheKey(), neutral.cacheKey()) << "a new desktop text colour redraws the neutral picture";
    EXPECT_GT(qRed(pixelOfFirstBar(light)), 200);
    EXPECT_GT(qAlpha(pixelBesideFirstBar(light)), 150);
    EXPECT_LT(qRed(pixelBesideFirstBar(light)), 40) << "light bars show on a light panel by their dark rim";
}

TEST_F(ShellScenario, withTheCameraOffTheTrayShowsTheNeutralIconAndTheClickHint)
{
    makeModel();
    StatusItem item(*model, {[] {}, [] {}});
    EXPECT_EQ(item.toolTip(), "Verticora · Camera off\nClick to open Verticora. Right-click to quit.");
    EXPECT_EQ(item.accessibleLabel(), "Verticora: Camera off");
    EXPECT_EQ(item.lastPresentationKey(), "neutral");

    QCoreApplication::processEvents(); // the model's first batch of changes ends
    startCamera();
    calibrate();
    EXPECT_TRUE(eventually([&] { return item.lastStatus() == "Green: in your zone"; })) << item.lastStatus().toStdString();
    EXPECT_EQ(item.lastPresentationKey(), "green");
}

TEST_F(ShellScenario, aBurstOfModelChangesRedrawsTheTrayOnce)
{
    makeModel();
    StatusItem item(*model, {[] {}, [] {}});
    // A wide window, so that a slow machine still fits the burst inside it.
    item.setDebounceInterval(300);
    QSignalSpy refreshed(&item, &StatusItem::refreshed);
    for (int i = 0; i < 20; ++i) {
        model->setup().setDelay(1 + 0.1 * i);
        QCoreApplication::processEvents(); // each change is a batch of its own
    }
    ASSERT_TRUE(refreshed.wait(2000));
    EXPECT_FALSE(refreshed.wait(400));
    EXPECT_EQ(refreshed.count(), 1);
}

TEST_F(ShellScenario, aControlClickOpensTheMenuAndAPlainClickTheWindow)
{
    makeModel();
    int opened = 0;
    StatusItem item(*model, {[&] { ++opened; }, [] {}});
    item.clicked(true);
    EXPECT_EQ(opened, 0);
    EXPECT_TRUE(item.menu()->isVisible());
    item.menu()->hide();
    item.clicked(false);
    EXPECT_EQ(opened, 1);
}
