#include "ShellScenario.h"

#include "ui/Controls.h"
#include "ui/ControlsWindow.h"
#include "ui/MainView.h"
#include "ui/SettingsPage.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>

using namespace verticora;
using namespace verticora::testing;

TEST_F(ShellScenario, theCloseButtonHidesTheWindowAndReopeningRestoresItsFrame)
{
    makeDelegate();
    delegate->applicationDidFinishLaunching();
    ControlsWindow* window = delegate->controlsWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), "Verticora");
    EXPECT_FALSE(window->windowIcon().availableSizes().isEmpty()) << "the application icon, not a generic one";
    EXPECT_EQ(window->size(), QSize(960, 720));
    window->move(40, 30);
    QCoreApplication::processEvents();
    const QPoint place = window->frameGeometry().topLeft();

    window->close();
    EXPECT_EQ(delegate->controlsWindow(), nullptr);
    EXPECT_FALSE(delegate->controlsWantedOpen());
    EXPECT_FALSE(delegate->terminated());

    delegate->showControls();
    ASSERT_NE(delegate->controlsWindow(), nullptr);
    EXPECT_TRUE(delegate->controlsWindow()->isVisible());
    EXPECT_EQ(delegate->controlsWindow()->frameGeometry().topLeft(), place);
}

TEST_F(ShellScenario, aFrameLeftOutsideTheScreenReopensOnIt)
{
    makeDelegate();
    delegate->showControls();
    ControlsWindow* window = delegate->controlsWindow();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    window->move(screen.right() + 500, screen.bottom() + 500);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));

    QTest::keyClick(window, Qt::Key_W, Qt::ControlModifier);
    ASSERT_EQ(delegate->controlsWindow(), nullptr);
    const std::uint64_t generation = delegate->controlsPresenceGeneration();
    delegate->showControls();
    EXPECT_EQ(delegate->controlsPresenceGeneration(), generation + 1);
    EXPECT_TRUE(screen.contains(delegate->controlsWindow()->frameGeometry()));
}

TEST_F(ShellScenario, settingsShortcutOpensTheSettingsPageAndSurvivesReopening)
{
    makeDelegate();
    delegate->showControls();
    ASSERT_TRUE(QTest::qWaitForWindowActive(delegate->controlsWindow()));
    QTest::keyClick(delegate->controlsWindow(), Qt::Key_Comma, Qt::ControlModifier);
    EXPECT_EQ(modelView->controlsPage(), ControlsPage::settings);
    delegate->hideControls();
    delegate->showControls();
    auto* view = qobject_cast<MainView*>(delegate->controlsWindow()->content());
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->findChild<SettingsPage*>()->isVisible());
}

TEST_F(ShellScenario, theForgivenessSliderEndsGiveTheStrictestAndTheMostForgivingLevels)
{
    makeModel();
    SettingsPage page(*model, {});
    page.show();
    ValueSlider* slider = page.forgivenessSlider();
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_End);
    EXPECT_DOUBLE_EQ(model->setup().yellow(), 0.9);
    QTest::keyClick(slider, Qt::Key_Home);
    EXPECT_DOUBLE_EQ(model->setup().yellow(), 0.225);
    page.refresh();
    EXPECT_EQ(slider->value(), slider->minimum()) << "the knob follows the model's levels";
}
