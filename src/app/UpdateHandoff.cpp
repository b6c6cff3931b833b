#include "app/UpdateHandoff.h"

#include "app/RunningProcess.h"
#include "app/SingleInstance.h"
#include "model/CameraModel.h"
#include "model/ModelClock.h"
#include "model/ModelTexts.h"
#include "store/ControlFile.h"
#include "store/DataFolder.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QUuid>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>

#include <unistd.h>

namespace verticora {

namespace {

constexpr int exitPollMilliseconds = 50;

// Who answered the identify request.
struct RunningInstance {
    qint32 pid = 0;
    QString build;
};

std::optional<RunningInstance> parseIdentity(const QByteArray& answer)
{
    const std::optional<QJsonObject> object = parseJsonObject(answer);
    if (!object)
        return std::nullopt;
    const QJsonValue pid = object->value(QLatin1StringView("pid"));
    const QJsonValue build = object->value(QLatin1StringView("build"));
    const double number = pid.toDouble();
    if (!pid.isDouble() || !build.isString() || build.toString().isEmpty() || number < 1 || number > 2147483647.0
        || number != std::floor(number))
        return std::nullopt;
    return RunningInstance{static_cast<qint32>(number), build.toString()};
}

// A receipt left by an earlier handoff must not pass for the answer to this one.
bool receiptAnswers(const QString& receiptPath, const UpdateResumeRequest& request)
{
    const std::optional<QByteArray> bytes = readControlFile(receiptPath);
    const std::optional<UpdateResumeReceipt> receipt = bytes ? UpdateResumeReceipt::decode(*bytes) : std::nullopt;
    return receipt && receipt->request == request;
}

int fail(const QString& sentence, int status = 1)
{
    std::fprintf(stderr, "verticora: %s\n", qPrintable(sentence));
    return status;
}

} // namespace

UpdateHandoff::UpdateHandoff(CameraModel& model, const QString& build, std::optional<qint32> processID,
                             QObject* parent)
    : QObject(parent), m_model(model),
      m_store(std::make_unique<UpdateResumeStore>(
          model.dataDirectory(), build.isEmpty() ? QStringLiteral("development") : build,
          processID.value_or(static_cast<qint32>(::getpid())), [clock = model.clock()] { return clock->wallTime(); }))
{
    if (QCoreApplication::instance()) {
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
                &UpdateHandoff::prepareForTermination);
    }
}

UpdateHandoff::~UpdateHandoff() = default;

void UpdateHandoff::setWindowContext(std::function<UpdateWindowContext()> context)
{
    m_windowContext = std::move(context);
}

UpdateSessionState UpdateHandoff::sessionState() const
{
    UpdateSessionState state;
    if (m_windowContext) {
        const UpdateWindowContext context = m_windowContext();
        state.page = context.page;
        state.controlsVisible = context.visible;
    } else {
        state.page = texts::text(rawName(m_model.controlsPage()));
        state.controlsVisible = true;
    }
    const CameraSession& session = m_model.session();
    if (m_model.setup().stage() == SetupStage::monitoring && session.active())
        // A borrowed camera or a locked screen is no pause of the user's: the new build
        // starts tracking and finds the camera or the screen as they are then.
        state.mode = session.pauseReason() == PauseReason::user ? UpdateSessionMode::paused : UpdateSessionMode::tracking;
    else
        state.mode = session.active() || session.loading() ? UpdateSessionMode::setup : UpdateSessionMode::off;
    state.cameraID = session.selectedID();
    state.pauseUntilUnix = session.pauseUntil();
    state.preferencesDigest = UpdateResumeStore::preferencesDigest(m_model.dataDirectory());
    return state;
}

void UpdateHandoff::prepareForTermination()
{
    if (m_terminationHandled)
        return;
    m_terminationHandled = true;
    const UpdateResumeStore::Preparation prepared = m_store->prepareForTermination(sessionState());
    if (prepared.error)
        m_model.setPersistenceMessage(texts::text(texts::couldNotPrepareResume) + *prepared.error);
    m_model.stop(texts::text(texts::cameraOff));
}

void UpdateHandoff::cancel()
{
    m_store->cancel();
}

std::optional<UpdateResumeReceipt> UpdateHandoff::consume()
{
    UpdateResumeStore::Consumption consumed = m_store->consume();
    if (consumed.claimError) {
        m_model.setMessage(texts::text(texts::updateNotRestored));
        return std::nullopt;
    }
    if (!consumed.receipt) {
        if (const std::optional<QString>& rejection = m_store->rejection()) {
            m_model.setMessage(texts::text(texts::updateInstalled) + *rejection
                               + texts::text(texts::turnCameraOnWhenReady));
        }
        return std::nullopt;
    }
    return std::move(consumed.receipt);
}

LaunchHandoff UpdateHandoff::take()
{
    const std::optional<UpdateResumeReceipt> receipt = consume();
    if (!receipt)
        return {m_store->rejection() ? LaunchHandoff::Kind::refused : LaunchHandoff::Kind::none, {}};
    if (processRunning(receipt->request.sourcePID)) {
        m_model.setMessage(texts::text(texts::previousInstanceClosing));
        return {LaunchHandoff::Kind::stillClosing, {}};
    }
    return {LaunchHandoff::Kind::resume, receipt->state};
}

void UpdateHandoff::resume(const UpdateSessionState& state, std::optional<bool> cameraAuthorized,
                           std::optional<bool> cameraAvailable, std::function<void()> startCameraAction)
{
    if (!state.valid() || state.mode == UpdateSessionMode::off)
        return;
    if (state.mode == UpdateSessionMode::setup) {
        m_model.setMessage(texts::text(texts::setupKept));
        return;
    }

    const QString& selectedID = m_model.session().selectedID();
    const std::optional<SavedCalibration> calibration = m_model.preferences().calibration(selectedID);
    if (state.cameraID != selectedID || !calibration) {
        m_model.showError(texts::text(texts::cameraSetupNotRestored));
        return;
    }
    if (state.mode == UpdateSessionMode::paused) {
        m_model.resumePausedAfterUpdate(*calibration, state.pauseUntilUnix,
                                        {std::move(startCameraAction), cameraAuthorized, cameraAvailable});
        return;
    }

    const bool authorized = cameraAuthorized.value_or(m_model.session().cameraAuthorized());
    const bool available = cameraAvailable.value_or(m_model.session().selectedCameraConnected());
    if (!authorized || !available) {
        m_model.showError(texts::text(authorized ? texts::updateCameraUnavailable : texts::updateNeedsCameraAccess));
        return;
    }
    if (startCameraAction)
        startCameraAction();
    else
        m_model.startCamera(true);
}

QByteArray instanceIdentity(const QString& build)
{
    const QJsonObject identity{
        {QStringLiteral("pid"), static_cast<qint64>(::getpid())},
        {QStringLiteral("build"), build},
    };
    return QJsonDocument(identity).toJson(QJsonDocument::Compact);
}

int handOverTo(const QString& dataFolder, const QString& build, int waitMilliseconds)
{
    if (build.isEmpty())
        return fail(QStringLiteral("Name the build that takes over."));
    QByteArray answer;
    SingleInstance instance(dataFolder);
    switch (instance.ask(identifyRequest, &answer)) {
    case SingleInstance::Reach::notRunning:
        return fail(QStringLiteral("No Verticora is running for the data folder %1.").arg(dataFolder), nothingRunning);
    case SingleInstance::Reach::failed:
        return fail(instance.failure());
    case SingleInstance::Reach::answered:
        break;
    }
    const std::optional<RunningInstance> running = parseIdentity(answer);
    if (!running)
        return fail(QStringLiteral("The running Verticora did not say which build it is."));
    // The PID goes to kill(): only the process that answered, and only a Verticora of this user.
    if (running->pid != instance.answeringProcess() || !isOwnVerticora(running->pid))
        return fail(QStringLiteral("The program that answers for the data folder is not this user's Verticora."));
    if (running->build == build)
        return fail(QStringLiteral("Build %1 is already the one running.").arg(build), alreadyThatBuild);

    const double now = QDateTime::currentMSecsSinceEpoch() / 1000.0;
    const UpdateResumeRequest request{1, QUuid::createUuid().toString(QUuid::WithoutBraces), running->build, build,
                                      running->pid, now, now + UpdateResumeRequest::maximumLifetime};
    const QString requestPath = dataFolder + u'/' + QLatin1StringView(updateRequestFileName);
    if (const std::optional<QString> error =
            writeDataFile(requestPath, QJsonDocument(request.toJson()).toJson(QJsonDocument::Compact)))
        return fail(QStringLiteral("Could not write the update request. ") + *error);

    // The way a session logout ends it: the instance answers the request as it quits.
    if (::kill(running->pid, SIGTERM) != 0) {
        const int error = errno;
        QFile::remove(requestPath);
        return fail(QStringLiteral("Could not ask Verticora (process %1) to quit: %2")
                        .arg(running->pid)
                        .arg(asSentence(qt_error_string(error))));
    }
    const QDeadlineTimer deadline(waitMilliseconds);
    while (processRunning(running->pid)) {
        if (deadline.hasExpired()) {
            // Withdrawn, so that a late quit leaves no receipt that nobody is waiting for.
            QFile::remove(requestPath);
            return fail(QStringLiteral("Verticora (process %1) did not quit within %2 seconds.")
                            .arg(running->pid)
                            .arg(waitMilliseconds / 1000));
        }
        QThread::msleep(exitPollMilliseconds);
    }
    if (!receiptAnswers(dataFolder + u'/' + QLatin1StringView(updateResumeFileName), request)) {
        QFile::remove(requestPath);
        return fail(QStringLiteral("Verticora quit without preparing the handoff; start build %1 as usual.").arg(build));
    }
    std::printf("Verticora build %s (process %d) handed over to build %s; start it now.\n",
                qPrintable(running->build), running->pid, qPrintable(build));
    return 0;
}

} // namespace verticora
