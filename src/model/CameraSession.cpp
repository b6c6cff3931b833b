#include "model/CameraSession.h"

#include "model/ChangeBatch.h"
#include "model/ModelTexts.h"

#include <algorithm>

namespace verticora {

QString pauseReasonName(PauseReason reason)
{
    switch (reason) {
    case PauseReason::lent:
        return QStringLiteral("lent");
    case PauseReason::locked:
        return QStringLiteral("locked");
    case PauseReason::user:
        break;
    }
    return QStringLiteral("user");
}

CameraSession::CameraSession(CaptureService& capture, ChangeBatch& changes, QObject* parent)
    : QObject(parent), m_capture(capture), m_changes(changes)
{
    connect(&m_changes, &ChangeBatch::changed, this, &CameraSession::changed);
}

QVariant CameraSession::pauseUntilValue() const
{
    return m_pauseUntil ? QVariant(*m_pauseUntil) : QVariant();
}

QString CameraSession::pauseReasonValue() const
{
    return m_pauseReason ? pauseReasonName(*m_pauseReason) : QString();
}

bool CameraSession::cameraAuthorized() const
{
    return !m_capture.accessDenied(m_selectedID);
}

bool CameraSession::selectedCameraConnected() const
{
    return selectedCameraName().has_value();
}

std::optional<QString> CameraSession::selectedCameraName() const
{
    const QList<CameraDevice> devices = m_capture.discoverDevices();
    const auto device =
        std::ranges::find_if(devices, [&](const CameraDevice& d) { return d.uniqueID == m_selectedID; });
    if (m_selectedID.isEmpty() || device == devices.end())
        return std::nullopt;
    return device->localizedName;
}

bool CameraSession::selectedAvailable() const
{
    return std::ranges::any_of(m_cameras, [&](const CameraChoice& c) {
        return c.id == m_selectedID && c.name != texts::text(texts::cameraUnavailableName);
    });
}

void CameraSession::refreshCameras()
{
    const QList<CameraDevice> devices = m_capture.discoverDevices();
    QList<CameraChoice> choices;
    for (const CameraDevice& device : devices)
        choices.append({device.uniqueID, device.localizedName});
    if (m_selectedID.isEmpty()) {
        for (const CameraDevice& device : devices) {
            if (device.localizedName.contains(QLatin1String("Studio Display"), Qt::CaseInsensitive)) {
                m_changes.publish(m_selectedID, device.uniqueID);
                break;
            }
        }
    }
    m_changes.publish(m_cameras, choices);
    if (!m_selectedID.isEmpty() && !selectedAvailable()) {
        choices.append({m_selectedID, texts::text(texts::cameraUnavailableName)});
        m_changes.publish(m_cameras, choices);
    }
}

void CameraSession::setSelectedID(const QString& id)
{
    m_changes.publish(m_selectedID, id);
}

void CameraSession::setActive(bool active)
{
    m_changes.publish(m_active, active);
}

void CameraSession::setLoading(bool loading)
{
    m_changes.publish(m_loading, loading);
}

void CameraSession::setPaused(bool paused, PauseReason reason)
{
    m_changes.publish(m_paused, paused);
    m_changes.publish(m_pauseReason, paused ? std::optional(reason) : std::nullopt);
}

void CameraSession::setPauseUntil(std::optional<double> until)
{
    m_changes.publish(m_pauseUntil, until);
}

} // namespace verticora
