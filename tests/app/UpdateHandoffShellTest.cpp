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
        modelOptions.updateBuild = build;
        modelOptions.processID = pid;
        makeDelegate();
    }
    void requestUpdate(qint32 sourcePID = oldPID)
    {
        const double now = clock->wallTime();
        const UpdateResumeRequest request{1, QStringLiteral("0b3a6f4e-5d5c-4f40-9a34-7a1f1a6e2c11"),
                                          QStringLiteral("41"), QStringLiteral("42"), sourcePID, now, now + 300};
        QFile file(dataFile("update-request.json"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(request.toJson()).toJson());
    }
    [[nodiscard]] bool exists(const char* name) const { return QFile::exists(dataFile(QLatin1String(name))); }
};

} // namespace

TEST_F(UpdateHandoffShell, quittingFromTheApplicationLeavesNoHandoffBehind)
{
    makeBuild("41", oldPID);
    requestUpdate();
    delegate->quitVerticora();
    delegate->applicationWillTerminate();
    EXPECT_FALSE(exists("update-resume.json"));
    EXPECT_FALSE(exists("update-request.json"));
}

TEST_F(UpdateHandoffShell, theNextBuildOpensThePageAndWindowAsTheyWere)
{
    makeBuild("41", oldPID);
    modelView->setControlsPage(ControlsPage::progress);
    delegate->showControls();
    delegate->hideControls();
    requestUpdate();
    delegate->applicationWillTerminate();
    ASSERT_TRUE(exists("update-resume.json"));

    makeBuild("42", newPID);
    delegate->applicationDidFinishLaunching();
    EXPECT_TRUE(delegate->metUpdateHandoff());
    EXPECT_EQ(modelView->controlsPage(), ControlsPage::progress);
    EXPECT_EQ(delegate->controlsWindow(), nullptr) << "the window was closed when the update came";
    EXPECT_FALSE(exists("update-resume.json"));
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

    QFile lease(dataFile("performance-request.json"));
    ASSERT_TRUE(lease.open(QIODevice::WriteOnly));
    lease.write(QStringLiteral("{\"expires\":%1,\"visual_mode\":\"frozen-icon\"}")
                    .arg(clock->wallTime() + 60, 0, 'f', 3)
                    .toUtf8());
    lease.close();
    modelView->diagnostics().refresh();
    EXPECT_EQ(delegate->statusItem()->lastPresentationKey(), "diagnostic-frozen");
}
