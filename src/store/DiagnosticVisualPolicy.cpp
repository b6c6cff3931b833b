#include "store/DiagnosticVisualPolicy.h"

#include "store/ControlFile.h"
#include "store/JsonReader.h"

#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace verticora {

std::optional<DiagnosticVisualRequest> DiagnosticVisualRequest::accepted(const std::optional<QByteArray>& data,
                                                                         double now)
{
    if (!data || !std::isfinite(now))
        return std::nullopt;
    const std::optional<QJsonObject> object = parseJsonObject(*data);
    if (!object)
        return std::nullopt;
    JsonReader reader(*object);
    DiagnosticVisualRequest request;
    request.expires = reader.number(QLatin1StringView("expires"));
    request.visualMode = reader.optionalString(QLatin1StringView("visual_mode"));
    request.trackerMode = reader.optionalString(QLatin1StringView("tracker_mode"));
    if (const std::optional<double> radius = reader.optionalNumber(QLatin1StringView("tracker_radius"))) {
        request.trackerRadius = exactInteger(*radius);
        if (!request.trackerRadius)
            reader.fail();
    }
    if (!reader.ok() || !std::isfinite(request.expires) || request.expires <= now
        || request.expires - now > maximumLease)
        return std::nullopt;
    return request;
}

void DiagnosticVisualLease::replace(const std::optional<QByteArray>& data, double wallTime, double uptime)
{
    if (observed && data == lastData)
        return;
    observed = true;
    lastData = data;
    request = DiagnosticVisualRequest::accepted(data, wallTime);
    if (request && lastExpiry != request->expires) {
        lastExpiry = request->expires;
        deadline = uptime + std::min(request->expires - wallTime, DiagnosticVisualRequest::maximumLease);
    }
}

bool DiagnosticVisualLease::active(double wallTime, double uptime) const
{
    return request && std::isfinite(wallTime) && std::isfinite(uptime) && wallTime < request->expires
        && uptime < deadline;
}

double DiagnosticVisualLease::remaining(double wallTime, double uptime) const
{
    if (!active(wallTime, uptime))
        return 0;
    return std::max(0.0, std::min(request->expires - wallTime, deadline - uptime));
}

DiagnosticVisualMode DiagnosticVisualLease::mode(double wallTime, double uptime) const
{
    if (!active(wallTime, uptime) || !request->visualMode)
        return DiagnosticVisualMode::full;
    return fromRawName<DiagnosticVisualMode>(request->visualMode->toStdString()).value_or(DiagnosticVisualMode::full);
}

bool DiagnosticVisualLease::forcesFullTracker(double wallTime, double uptime) const
{
    return active(wallTime, uptime) && request->trackerMode == QLatin1StringView("full");
}

int DiagnosticVisualLease::trackerRadius(double wallTime, double uptime) const
{
    if (!active(wallTime, uptime) || !request->trackerRadius)
        return defaultTrackerRadius;
    return honouredTrackerRadius(*request->trackerRadius);
}

DiagnosticVisualPolicy::DiagnosticVisualPolicy(Clock wallTime, Clock uptime, QObject* parent)
    : QObject(parent), m_wallTime(std::move(wallTime)), m_uptime(std::move(uptime))
{
}

DiagnosticVisualPolicy::~DiagnosticVisualPolicy() = default;

void DiagnosticVisualPolicy::configure(const QString& directory)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, directory] { configure(directory); }, Qt::QueuedConnection);
        return;
    }
    const QString path = directory + u'/' + QLatin1StringView(performanceRequestFileName);
    if (m_requestPath != path) {
        m_requestPath = path;
        refresh();
    }
    if (!m_reloadTimer) {
        m_reloadTimer = new QTimer(this);
        m_reloadTimer->setInterval(reloadMilliseconds);
        connect(m_reloadTimer, &QTimer::timeout, this, &DiagnosticVisualPolicy::refresh);
        m_reloadTimer->start();
    }
}

void DiagnosticVisualPolicy::refresh()
{
    if (!m_requestPath)
        return;
    const std::optional<QByteArray> data = readControlFile(*m_requestPath);
    const double wallTime = m_wallTime();
    const double uptime = m_uptime();
    double remaining = 0;
    {
        std::lock_guard lock(m_lock);
        m_lease.replace(data, wallTime, uptime);
        if (!m_lease.active(wallTime, uptime))
            m_lease.deadline = 0; // an ended lease stays ended until a new `expires` arrives
        remaining = m_lease.remaining(wallTime, uptime);
    }

    if (m_expiryTimer)
        m_expiryTimer->stop();
    if (remaining > 0) {
        if (!m_expiryTimer) {
            m_expiryTimer = new QTimer(this);
            m_expiryTimer->setSingleShot(true);
            m_expiryTimer->setTimerType(Qt::PreciseTimer);
            connect(m_expiryTimer, &QTimer::timeout, this, &DiagnosticVisualPolicy::refresh);
        }
        // Rounded up, so the refresh never comes before the lease has ended.
        m_expiryTimer->start(static_cast<int>(std::ceil(remaining * 1000)));
    }
    publishMode();
}

void DiagnosticVisualPolicy::publishMode()
{
    const DiagnosticVisualMode mode = currentMode();
    if (mode == m_publishedMode)
        return;
    m_publishedMode = mode;
    emit modeChanged();
}

bool DiagnosticVisualPolicy::isEnabled() const
{
    const double wallTime = m_wallTime();
    const double uptime = m_uptime();
    std::lock_guard lock(m_lock);
    return m_lease.active(wallTime, uptime);
}

DiagnosticVisualMode DiagnosticVisualPolicy::mode(double wallTime, double uptime) const
{
    std::lock_guard lock(m_lock);
    return m_lease.mode(wallTime, uptime);
}

bool DiagnosticVisualPolicy::forcesFullTracker(double wallTime, double uptime) const
{
    std::lock_guard lock(m_lock);
    return m_lease.forcesFullTracker(wallTime, uptime);
}

int DiagnosticVisualPolicy::trackerRadius(double wallTime, double uptime) const
{
    std::lock_guard lock(m_lock);
    return m_lease.trackerRadius(wallTime, uptime);
}

DiagnosticVisualMode DiagnosticVisualPolicy::currentMode() const
{
    return mode(m_wallTime(), m_uptime());
}

bool DiagnosticVisualPolicy::reloading() const
{
    return m_reloadTimer && m_reloadTimer->isActive();
}

std::optional<int> DiagnosticVisualPolicy::expiryDelay() const
{
    if (!m_expiryTimer || !m_expiryTimer->isActive())
        return std::nullopt;
    return m_expiryTimer->interval();
}

} // namespace verticora
