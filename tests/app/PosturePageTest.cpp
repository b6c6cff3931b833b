#include "ShellScenario.h"

#include "ui/CameraPreview.h"
#include "ui/ControlsWindow.h"
#include "ui/HeightThermometer.h"
#include "ui/PosturePage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QToolButton>
#include <QLabel>

using namespace verticora;
using namespace verticora::testing;

namespace {

QAbstractButton* buttonNamed(const QWidget& page, const QString& text)
{
    for (QAbstractButton* button : page.findChildren<QAbstractButton*>()) {
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
    showSteadyFace();
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

// The buttons under the keyboard focus grey out or go away while the height is set and
// reset: the focus stays in the height block instead of jumping to the top of the window.
TEST_F(ShellScenario, keyboardFocusStaysInTheHeightBlockWhileTheHeightIsSetAndReset)
{
    makeModel();
    PosturePage page(*model);
    page.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&page));
    const QWidget* block = page.findChild<HeightThermometer*>()->parentWidget();
    const auto focusInBlock = [block] {
        const QWidget* focus = QApplication::focusWidget();
        return focus && (focus == block || block->isAncestorOf(focus));
    };
    startCamera();
    showSteadyFace();
    page.refresh();

    QAbstractButton* setHeight = buttonNamed(page, "Set my height");
    ASSERT_NE(setHeight, nullptr);
    setHeight->setFocus();
    QTest::keyClick(setHeight, Qt::Key_Space);
    page.refresh();
    ASSERT_TRUE(model->setup().capturing());
    EXPECT_TRUE(focusInBlock()) << "not on the camera controls or the top of the window";

    frames(3.5);
    page.refresh();
    ASSERT_EQ(model->setup().stage(), SetupStage::monitoring);
    EXPECT_EQ(QApplication::focusWidget(), buttonNamed(page, "Pause")) << "back on the first button";

    QAbstractButton* reset = buttonNamed(page, "Reset height");
    reset->setFocus();
    QTest::keyClick(reset, Qt::Key_Space);
    page.refresh();
    ASSERT_FALSE(buttonNamed(page, "Set my height")->isEnabled()) << "the face is measured anew";
    EXPECT_EQ(QApplication::focusWidget(), buttonNamed(page, "Go back"));
}

// A data folder that cannot be written keeps the height in review, with two long button
// texts: they go one above the other rather than be cut.
TEST_F(ShellScenario, theReviewButtonsAreNeverCut)
{
    makeModel("/proc/verticora-unwritable/preferences.json");
    PosturePage page(*model);
    page.resize(VerticoraWindowLayout::size);
    page.show();
    startCamera();
    showSteadyFace();
    model->capture();
    frames(3.5);
    ASSERT_EQ(model->setup().stage(), SetupStage::review);
    page.refresh();
    QCoreApplication::processEvents();
    for (const char* text : {"Try saving again", "Set my height again"}) {
        const QAbstractButton* button = buttonNamed(page, text);
        ASSERT_NE(button, nullptr) << text;
        EXPECT_GE(button->width(), button->sizeHint().width()) << text;
    }
}

TEST_F(ShellScenario, theCameraPickerSaysWhenThereIsNoCamera)
{
    makeModel();
    camera->unplug();
    PosturePage page(*model);
    page.show();
    auto* picker = page.findChild<QComboBox*>();
    ASSERT_NE(picker, nullptr);
    EXPECT_EQ(picker->count(), 0);
    EXPECT_EQ(picker->placeholderText(), "No camera found");
    auto* refresh = page.findChild<QToolButton*>();
    ASSERT_NE(refresh, nullptr);
    EXPECT_EQ(refresh->accessibleName(), "Refresh available cameras");
    EXPECT_TRUE(refresh->isVisibleTo(&page) && refresh->isEnabled()) << "the refresh button stays";
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

TEST(PosturePageTexts, thePauseEndIsShownInNewYorkTime)
{
    // 2025-01-15 20:45 UTC and 2025-07-15 19:05 UTC.
    EXPECT_EQ(resumesAtText(1736973900), "Resumes at 3:45 PM EST");
    EXPECT_EQ(resumesAtText(1752606300), "Resumes at 3:05 PM EDT");
}
