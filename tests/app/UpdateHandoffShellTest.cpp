#include "ShellScenario.h"

#include "app/StatusItem.h"
#include "store/DiagnosticVisualPolicy.h"
#include "store/UpdateResumeStore.h"
#include "ui/ControlsWindow.h"

#include <QFile>
#include <QJsonDocument>

#include <unistd.h>

using namespace verticora;
using namespace verticora::testing;

namespace {

constexpr qint32 oldPID = 6100;
constexpr qint32 newPID = 6200;

// The shell of build 41 quitting for an update, and the shell of build 42 after it.
class UpdateHandoffShell : public ShellScenario {
protected:
    void makeBuild(const QString& build, qint32 pid)
    {
        delegate.reset();
        playBuild(build, pid);
        makeDelegate();
    }
};

} // namespace

// Quit from the application cancels an update's handoff: the next build starts afresh.
TEST_F(UpdateHandoffShell, quittingStopsTheCameraFirstTerminatesOnceAndLeavesNoHandoff)
{
    playBuild("41", oldPID);
    makeModel();
    startCamera();
    makeDelegate();
    delegate->showControls();
    requestUpdate(oldPID);
    delegate->quitVerticora();
    EXPECT_FALSE(modelView->session().active());
    EXPECT_EQ(modelView->message(), "Camera off. Start whenever you’re ready.");
    delegate->applicationWillTerminate();
    delegate->applicationWillTerminate();
    EXPECT_TRUE(delegate->terminated());
    EXPECT_FALSE(delegate->controlsWindow()->isVisible());
    EXPECT_FALSE(dataFileExists("update-resume.json"));
    EXPECT_FALSE(dataFileExists("update-request.json"));
}

TEST_F(UpdateHandoffShell, theNextBuildOpensThePageAndWindowAsTheyWere)
{
    makeBuild("41", oldPID);
    modelView->setControlsPage(ControlsPage::progress);
    delegate->showControls();
    delegate->hideControls();
    requestUpdate(oldPID);
    delegate->applicationWillTerminate();
    ASSERT_TRUE(dataFileExists("update-resume.json"));

    makeBuild("42", newPID);
    delegate->applicationDidFinishLaunching();
    EXPECT_TRUE(delegate->metUpdateHandoff());
    EXPECT_EQ(modelView->controlsPage(), ControlsPage::progress);
    EXPECT_EQ(delegate->controlsWindow(), nullptr) << "the window was closed when the update came";
    EXPECT_FALSE(dataFileExists("update-resume.json"));
}

TEST_F(UpdateHandoffShell, aReceiptWhoseWriterStillRunsResumesNothing)
{
    // The test's parent process stands in for a previous instance that has not exited.
    const qint32 stillRunning = static_cast<qint32>(::getppid());
    requestUpdate(stillRunning);
    UpdateSessionState state;
    state.page = QStringLiteral("Settings");
    UpdateResumeStore previous(dataFile(""), QStringLiteral("41"), stillRunning, [this] { return clock->wallTime(); });
    ASSERT_TRUE(previous.prepareForTermination(state).written);

    makeBuild("42", newPID);
    delegate->applicationDidFinishLaunching();
    EXPECT_EQ(modelView->message(), "The previous Verticora instance is still closing. Turn Camera on when ready.");
    EXPECT_EQ(modelView->controlsPage(), ControlsPage::posture);
    EXPECT_NE(delegate->controlsWindow(), nullptr);
}

TEST_F(UpdateHandoffShell, aDiagnosticLeaseFreezesTheTrayIcon)
{
    makeModel();
    modelView = model.get();
    delegate = std::make_unique<VerticoraAppDelegate>(std::move(model));
    delegate->applicationDidFinishLaunching();
    ASSERT_NE(delegate->statusItem(), nullptr);
    EXPECT_EQ(delegate->statusItem()->lastPresentationKey(), "neutral");

    writeDataFile("performance-request.json", QStringLiteral("{\"expires\":%1,\"visual_mode\":\"frozen-icon\"}")
                                                  .arg(clock->wallTime() + 60, 0, 'f', 3)
                                                  .toUtf8());
    modelView->diagnostics().refresh();
    EXPECT_EQ(delegate->statusItem()->lastPresentationKey(), "diagnostic-frozen");
}
