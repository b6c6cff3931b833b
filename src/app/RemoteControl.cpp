#include "app/RemoteControl.h"

#include "app/StatusPresentation.h"
#include "model/CameraModel.h"
#include "model/ModelTexts.h"
#include "store/ApplicationID.h"
#include "store/LiveScoreStore.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QMetaObject>

#include <cmath>

namespace verticora {

namespace {

const QString invalidArguments = QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs");
const QString errorPrefix = QString::fromLatin1(applicationID) + QStringLiteral(".Error.");

ControlRefusal refusal(const QString& name, const QString& message)
{
    return {name.startsWith(QLatin1String("org.freedesktop.")) ? name : errorPrefix + name, message};
}

QByteArray answerLine(const std::optional<ControlRefusal>& refused, const QByteArray& success)
{
    return refused ? QByteArrayLiteral("error ") + refused->message.toUtf8() : success;
}

} // namespace

QJsonObject InstanceStatus::toJson() const
{
    QJsonValue until;
    if (pauseUntil) {
        until = QDateTime::fromMSecsSinceEpoch(std::llround(*pauseUntil * 1000), Qt::UTC).toString(Qt::ISODate);
    }
    return {
        {QStringLiteral("state"), state},
        {QStringLiteral("zone"), zone},
        {QStringLiteral("score"), score ? QJsonValue(*score) : QJsonValue()},
        {QStringLiteral("message"), message},
        {QStringLiteral("status"), status},
        {QStringLiteral("pauseUntil"), until},
        {QStringLiteral("pauseReason"), pauseReason.isEmpty() ? QJsonValue() : QJsonValue(pauseReason)},
    };
}

RemoteControl::RemoteControl(CameraModel& model, std::function<void()> showControls, QObject* parent)
    : QObject(parent), m_model(model), m_showControls(std::move(showControls))
{
    const InstanceStatus now = status();
    m_lastState = now.state;
    m_lastZone = now.zone;
    connect(&m_model, &CameraModel::changed, this, &RemoteControl::checkStatus);
}

std::optional<ControlRefusal> RemoteControl::showControls()
{
    if (!m_showControls)
        return refusal(QStringLiteral("NoWindow"), QStringLiteral("This Verticora runs without a window."));
    m_showControls();
    return std::nullopt;
}

std::optional<ControlRefusal> RemoteControl::pause(qint64 minutes)
{
    if (minutes < 1 || minutes > maximumPauseMinutes) {
        return refusal(invalidArguments,
                       QStringLiteral("A pause lasts from 1 to %1 minutes.").arg(maximumPauseMinutes));
    }
    if (!m_model.pauseFor(double(minutes) * 60)) {
        return refusal(QStringLiteral("NotTracking"),
                       QStringLiteral("Nothing to pause: turn Camera on and set your height first."));
    }
    return std::nullopt;
}

std::optional<ControlRefusal> RemoteControl::resume()
{
    if (m_model.session().paused())
        m_model.togglePause();
    return std::nullopt;
}

InstanceStatus RemoteControl::status() const
{
    const StatusInputs inputs = StatusInputs::of(m_model);
    InstanceStatus status;
    status.state = texts::text(zoneStateName(m_model.state()));
    status.zone = statusColorKey(inputs);
    if (status.zone != QLatin1String("neutral"))
        status.score = LiveScoreStore::value(m_model.score(), m_model.setup().yellow(), m_model.setup().red());
    status.message = m_model.message();
    status.status = statusText(inputs);
    if (m_model.session().paused())
        status.pauseUntil = m_model.session().pauseUntil();
    status.pauseReason = m_model.session().pauseReasonValue();
    return status;
}

QByteArray RemoteControl::answer(const QByteArray& request)
{
    const QList<QByteArray> words = request.simplified().split(' ');
    const QByteArray& verb = words.front();
    if (verb == "show" && words.size() == 1)
        return answerLine(showControls(), QByteArrayLiteral("shown"));
    if (verb == "status" && words.size() == 1)
        return QJsonDocument(status().toJson()).toJson(QJsonDocument::Compact);
    if (verb == "resume" && words.size() == 1)
        return answerLine(resume(), QByteArrayLiteral("ok"));
    if (verb == "pause" && words.size() == 2) {
        bool number = false;
        const qint64 minutes = words[1].toLongLong(&number);
        if (number)
            return answerLine(pause(minutes), QByteArrayLiteral("ok"));
    }
    return QByteArrayLiteral("unknown");
}

void RemoteControl::checkStatus()
{
    const InstanceStatus now = status();
    if (now.state == m_lastState && now.zone == m_lastZone)
        return;
    m_lastState = now.state;
    m_lastZone = now.zone;
    emit statusChanged(now.state, now.zone);
}

} // namespace verticora
