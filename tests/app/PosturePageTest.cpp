#include "ShellScenario.h"

#include "ui/CameraPreview.h"
#include "ui/ControlsWindow.h"
#include "ui/HeightThermometer.h"
#include "ui/PosturePage.h"

#include <QAbstractButton>
#include <QLabel>

using namespace verticora;
using namespace verticora::testing;

namespace {

// Every text the page shows now, from labels and buttons that are visible.
QStringList shownTexts(const QWidget& page)
{
    QStringList texts;
    for (const QLabel* label : page.findChildren<QLabel*>()) {
        if (label->isVisibleTo(&page) && !label->text().isEmpty())
            texts << label->text();
    }
    for (const QAbstractButton* button : page.findChildren<QAbstractButton*>()) {
        if (button->isVisibleTo(&page) && !button->text().isEmpty())
            texts << button->text();
    }
    return texts;
}

const QAbstractButton* buttonNamed(const QWidget& page, const QString& text)
{
    for (const QAbstractButton* button : page.findChildren<QAbstractButton*>()) {
        if (button->isVisibleTo(&page) && button->text() == text)
            return button;
    }
    return nullptr;
}

} // namespace

TEST_F(ShellScenario, theHeightBlockFollowsTheCameraThroughSetupMonitoringAndPause)
{
    makeModel();
    PosturePage page(*model);
    page.show();
    auto* preview = page.findChild<CameraPreview*>();
    EXPECT_TRUE(shownTexts(page).contains("Choose a camera, then turn Camera on to set your height."));
    EXPECT_TRUE(shownTexts(page).contains("Your video stays on this computer."));
    EXPECT_TRUE(shownTexts(page).contains("Camera off"));
    EXPECT_EQ(preview->placeholder(), CameraPreview::Placeholder::cameraOff);
    EXPECT_EQ(buttonNamed(page, "Set my height"), nullptr) << "no actions without a camera";

    startCamera();
    page.refresh();
    const QAbstractButton* setHeight = buttonNamed(page, "Set my height");
    ASSERT_NE(setHeight, nullptr);
    EXPECT_FALSE(setHeight->isEnabled()) << "nobody to measure yet";
    showFaceAt(0.5);
    frames(0.5);
    page.refresh();
    EXPECT_TRUE(setHeight->isEnabled());

    calibrate();
    page.refresh();
    EXPECT_NE(buttonNamed(page, "Pause"), nullptr);
    EXPECT_NE(buttonNamed(page, "Reset height"), nullptr);
    EXPECT_TRUE(shownTexts(page).contains("You’re in green"));
    EXPECT_TRUE(shownTexts(page).contains("The dotted line is your chosen height."));

    model->togglePause();
    page.refresh();
    const QStringList paused = shownTexts(page);
    EXPECT_TRUE(paused.contains("Paused"));
    EXPECT_TRUE(paused.contains("Height saved."));
    EXPECT_TRUE(paused.contains("Resume"));
    EXPECT_FALSE(paused.contains("You’re in green")) << "the meter shows no score while paused";
    EXPECT_EQ(preview->placeholder(), CameraPreview::Placeholder::cameraPaused);

    model->stop("Camera off. Start whenever you’re ready.");
    page.refresh();
    EXPECT_TRUE(shownTexts(page).contains("Turn Camera on to resume."));
    EXPECT_TRUE(page.findChild<HeightThermometer*>()->isVisibleTo(&page)) << "a saved height keeps the meter";
}

TEST_F(ShellScenario, thePreviewShowsTheCameraPictureMirrored)
{
    makeModel();
    PosturePage page(*model);
    page.show();
    startCamera();
    page.refresh();
    // Left half black, right half white.
    auto image = std::make_shared<PixelBuffer>(64, 36, pixelFormat::bgra);
    for (int y = 0; y < 36; ++y) {
        std::fill_n(image->row(0, y), 32 * 4, std::uint8_t{0});
        std::fill_n(image->row(0, y) + 32 * 4, 32 * 4, std::uint8_t{255});
    }
    CapturedFrame captured;
    captured.storage = image;
    captured.image = image->view();
    camera->deliver(captured);
    model->drainCaptureQueue();

    auto* preview = page.findChild<CameraPreview*>();
    ASSERT_TRUE(eventually([&] { return !preview->frame().isNull(); }));
    const QImage& shown = preview->frame();
    EXPECT_GT(qGray(shown.pixel(2, shown.height() / 2)), 200) << "the right of the picture shows on the left";
    EXPECT_LT(qGray(shown.pixel(shown.width() - 3, shown.height() / 2)), 50);
}

TEST_F(ShellScenario, quittingStopsTheCameraFirstAndTerminatesOnce)
{
    makeModel();
    startCamera();
    ASSERT_TRUE(model->active());
    makeDelegate();
    delegate->showControls();
    delegate->quitVerticora();
    EXPECT_FALSE(modelView->active());
    EXPECT_EQ(modelView->message(), "Camera off. Start whenever you’re ready.");
    delegate->applicationWillTerminate();
    delegate->applicationWillTerminate();
    EXPECT_TRUE(delegate->terminated());
    EXPECT_FALSE(delegate->controlsWindow()->isVisible());
}

TEST(PosturePageTexts, thePauseEndIsShownInNewYorkTime)
{
    // 2025-01-15 20:45 UTC and 2025-07-15 19:05 UTC.
    EXPECT_EQ(resumesAtText(1736973900), "Resumes at 3:45 PM EST");
    EXPECT_EQ(resumesAtText(1752606300), "Resumes at 3:05 PM EDT");
}
