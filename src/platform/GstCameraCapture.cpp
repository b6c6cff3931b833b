#include "platform/GstCameraCapture.h"

#include "model/TaskQueue.h"
#include "platform/CaptureModes.h"
#include "platform/DeviceNodeWatcher.h"
#include "platform/GstDeviceDiscovery.h"
#include "platform/GstHandles.h"
#include "platform/GstSession.h"
#include "platform/GstStream.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <mutex>
#include <optional>
#include <utility>
#include <unistd.h>

namespace verticora {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds systemStartTimeout{3000};

QString anotherAppText()
{
    return QStringLiteral("Another app is using the camera.");
}

QString shutDownText()
{
    return QStringLiteral("The camera was shut down.");
}

// Where a session's picture comes from.
struct Source {
    std::string description; // the source element(s) of the pipeline
    std::string node;        // the device node watched for other programs; none when empty
    GstCameraCapture::Feed feed;
};

// Capture thread, before a session starts: from now on another program's open halts it.
// False when another program holds the camera already (it is then lent, untouched).
// Whoever opens it between this look and the start is caught by the watcher, whose
// lend stops the start.
bool claim(CaptureSession& session, DeviceNodeWatcher* watcher)
{
    session.stream().reclaim();
    if (!watcher)
        return true;
    watcher->stream();
    return !watcher->lendIfHeld();
}

// Names the node a watcher follows: a by-id link follows its camera to whatever node a
// replug gives it.
std::function<std::string()> nodeLocator(const QString& deviceID, const std::string& node)
{
    const std::string link = deviceID.startsWith(QLatin1String("/dev/v4l/by-id/")) ? deviceID.toStdString() : "";
    return [link, node] {
        std::error_code error;
        const std::filesystem::path resolved =
            link.empty() ? std::filesystem::path(node) : std::filesystem::canonical(link, error);
        return error ? std::string() : resolved.string();
    };
}

} // namespace

struct GstCameraCapture::Impl {
    explicit Impl(GstCameraCapture& service)
        : owner(service), mainThread(new TaskQueue(&service)), unavailable(startGStreamer())
    {
    }

    // Watches the system's cameras; plugs and unplugs become devicesChanged on the main thread.
    void startDiscovery()
    {
        if (!unavailable)
            discovery = std::make_unique<CameraDiscovery>([this] { announce(&GstCameraCapture::devicesChanged); });
    }

    void announce(void (GstCameraCapture::*signal)())
    {
        mainThread->post([service = &owner, signal] { emit(service->*signal)(); });
    }

    // Any thread.
    [[nodiscard]] std::vector<FoundCamera> find() const
    {
        if (standIn)
            return {{standIn->device, standIn->node}};
        return discovery ? discovery->find() : std::vector<FoundCamera>();
    }

    [[nodiscard]] std::string nodeOf(const QString& deviceID) const
    {
        for (const FoundCamera& found : find()) {
            if (found.device.uniqueID == deviceID)
                return found.node;
        }
        return {};
    }

    [[nodiscard]] std::optional<Source> sourceFor(const QString& deviceID) const
    {
        if (standIn) {
            if (deviceID != standIn->device.uniqueID)
                return std::nullopt;
            return Source{standIn->source, standIn->node, standIn->feed};
        }
        const std::string node = nodeOf(deviceID);
        if (node.empty())
            return std::nullopt;
        return Source{"v4l2src device=\"" + node + "\"", node, {}};
    }

    // The state a new pipeline shares with GStreamer's threads. A failure once it runs is a
    // runtime error, or an unplug when its device node went away.
    std::shared_ptr<CaptureStream> makeStream(const std::string& node, std::uint64_t attempt)
    {
        auto stream = std::make_shared<CaptureStream>(delivery, node, [this](bool deviceGone) {
            announce(deviceGone ? &GstCameraCapture::devicesChanged : &GstCameraCapture::runtimeError);
        });
        stream->output = attempt;
        return stream;
    }

    [[nodiscard]] bool isShutDown() const
    {
        std::lock_guard guard(sessionLock);
        return shutDown;
    }

    [[nodiscard]] std::shared_ptr<CaptureSession> current() const
    {
        std::lock_guard guard(sessionLock);
        return session;
    }

    std::shared_ptr<CaptureSession> take()
    {
        std::lock_guard guard(sessionLock);
        return std::exchange(session, nullptr);
    }

    // Makes `opened` the current session; false once the service is shut down.
    bool keep(const std::shared_ptr<CaptureSession>& opened)
    {
        std::lock_guard guard(sessionLock);
        if (shutDown)
            return false;
        session = opened;
        return true;
    }

    [[nodiscard]] std::shared_ptr<DeviceNodeWatcher> currentWatcher() const
    {
        std::lock_guard guard(sessionLock);
        return watcher;
    }

    // Capture thread: watches the node of the camera this opening attempt is for. The
    // watcher it replaces is returned, to be let go outside the lock: its thread may be
    // waiting for the lock in a release.
    std::shared_ptr<DeviceNodeWatcher> watchFor(const QString& deviceID, const std::string& node,
                                                std::uint64_t attempt)
    {
        std::shared_ptr<DeviceNodeWatcher> fresh;
        if (!node.empty()) {
            std::vector<std::string> folders;
            if (deviceID.startsWith(QLatin1String("/dev/v4l/by-id/")))
                folders.push_back(std::filesystem::path(deviceID.toStdString()).parent_path().string());
            const double quiet = standIn ? standIn->quietSeconds : CameraCourtesy::defaultQuietSeconds;
            fresh = std::make_shared<DeviceNodeWatcher>(
                nodeLocator(deviceID, node), std::move(folders), quiet,
                DeviceNodeWatcher::Callbacks{[this, attempt] { lendCamera(attempt); },
                                             [this, attempt] { tell(CameraAvailability::free, attempt); }});
        }
        std::lock_guard guard(sessionLock);
        if (shutDown)
            return fresh; // no watch after the end
        return std::exchange(watcher, std::move(fresh));
    }

    // Capture thread: a session opened, started here so that a busy camera, or one that
    // refuses the format, fails as the opening does (both fail only once they stream). A
    // camera that stays silent is left to startRunning, which then finds it not running.
    std::optional<QString> startOpened(CaptureSession& opened, DeviceNodeWatcher* nodeWatcher)
    {
        std::string failure;
        const CaptureStream::Start started =
            claim(opened, nodeWatcher) ? opened.start(failure) : CaptureStream::Start::lent;
        if (started != CaptureStream::Start::failed && started != CaptureStream::Start::lent)
            return std::nullopt;
        take();
        opened.close();
        return yield(nodeWatcher, opened.stream(), started == CaptureStream::Start::lent)
            ? anotherAppText()
            : QString::fromStdString(failure);
    }

    // Capture thread, after a start that failed: true when another program has the camera
    // (its watcher then waits for it to be free); otherwise the watcher rests.
    bool yield(DeviceNodeWatcher* nodeWatcher, CaptureStream& stream, bool lent)
    {
        busy = lent || stream.busy();
        if (nodeWatcher && stream.busy())
            nodeWatcher->lend();
        else if (nodeWatcher && !busy)
            nodeWatcher->rest();
        return busy;
    }

    // Watcher thread: another program opened the camera's node. Halting here, rather
    // than on a thread with an event loop, gives the camera up before the other program
    // gets from opening it to setting its format.
    void lendCamera(std::uint64_t attempt)
    {
        if (const std::shared_ptr<CaptureSession> s = current(); s && s->stream().output == attempt) {
            s->lend();
            lastRelease.store(std::chrono::duration<double>(Clock::now().time_since_epoch()).count());
            ++releases;
        }
        tell(CameraAvailability::lent, attempt);
    }

    // Called under the lock, so that a receiver replaced or cleared is never called again.
    // A start that finds the camera held can race the watcher into a second release of the
    // same opening; the receiver hears of each change once.
    void tell(CameraAvailability availability, std::uint64_t attempt)
    {
        std::lock_guard guard(availabilityLock);
        const std::pair told{availability, attempt};
        if (!availabilityReceiver || lastTold == told)
            return;
        lastTold = told;
        availabilityReceiver(availability, attempt);
    }

    GstCameraCapture& owner;
    TaskQueue* mainThread; // a child of the service: announcements for the main thread
    std::optional<StandIn> standIn;
    Clock::duration startTimeout = systemStartTimeout;
    std::optional<std::string> unavailable; // why GStreamer cannot be used
    std::unique_ptr<CameraDiscovery> discovery;
    std::shared_ptr<Delivery> delivery = std::make_shared<Delivery>();
    std::atomic<std::uint64_t> output{0};

    std::atomic<bool> busy{false}; // the last opening or start found the camera held elsewhere
    std::atomic<std::uint64_t> releases{0};
    std::atomic<double> lastRelease{0};

    std::mutex availabilityLock; // guards the two below
    AvailabilityReceiver availabilityReceiver;
    std::optional<std::pair<CameraAvailability, std::uint64_t>> lastTold;

    mutable std::mutex sessionLock; // guards the three below
    std::shared_ptr<CaptureSession> session;
    std::shared_ptr<DeviceNodeWatcher> watcher;
    bool shutDown = false;
};

GstCameraCapture::GstCameraCapture(QObject* parent) : CaptureService(parent), m_impl(std::make_unique<Impl>(*this))
{
    m_impl->startDiscovery();
}

GstCameraCapture::GstCameraCapture(StandIn standIn, QObject* parent)
    : CaptureService(parent), m_impl(std::make_unique<Impl>(*this))
{
    m_impl->startTimeout = standIn.startTimeout;
    m_impl->standIn = std::move(standIn);
}

GstCameraCapture::~GstCameraCapture()
{
    shutDown();
}

QList<CameraDevice> GstCameraCapture::discoverDevices()
{
    QList<CameraDevice> devices;
    for (const FoundCamera& found : m_impl->find())
        devices.append(found.device);
    return devices;
}

bool GstCameraCapture::accessDenied(const QString& deviceID)
{
    // A by-id identifier is itself a path to the node.
    std::string node = m_impl->nodeOf(deviceID);
    if (node.empty() && deviceID.startsWith(QLatin1String("/dev/")))
        node = deviceID.toStdString();
    return !node.empty() && ::access(node.c_str(), R_OK | W_OK) != 0 && errno == EACCES;
}

std::optional<QString> GstCameraCapture::openSession(const QString& deviceID)
{
    Impl& d = *m_impl;
    if (d.unavailable)
        return QString::fromStdString(*d.unavailable);
    if (d.isShutDown())
        return shutDownText();
    if (const std::shared_ptr<CaptureSession> previous = d.take())
        previous->close();
    d.busy = false;
    const std::uint64_t attempt = ++d.output;
    const std::optional<Source> source = d.sourceFor(deviceID);
    if (!source)
        return QStringLiteral("The camera is not connected.");

    d.watchFor(deviceID, source->node, attempt); // the previous watcher ends here, outside the lock
    const std::shared_ptr<DeviceNodeWatcher> watcher = d.currentWatcher();
    // Never taken from a program that holds it: not even opened, so its format stays its own.
    if (watcher && watcher->lendIfHeld()) {
        d.busy = true;
        return anotherAppText();
    }
    SessionOrError built =
        CaptureSession::build(source->description, d.makeStream(source->node, attempt), source->feed, d.startTimeout);
    if (!built.session)
        return QString::fromStdString(built.error);
    const std::shared_ptr<CaptureSession> session = std::move(built.session);
    if (!d.keep(session)) {
        session->close();
        return shutDownText();
    }
    return d.startOpened(*session, watcher.get());
}

std::uint64_t GstCameraCapture::currentOutput() const
{
    return m_impl->output.load();
}

void GstCameraCapture::setFrameReceiver(FrameReceiver receiver)
{
    std::lock_guard guard(m_impl->delivery->lock);
    m_impl->delivery->receiver = std::move(receiver);
}

void GstCameraCapture::startRunning()
{
    Impl& d = *m_impl;
    const std::shared_ptr<CaptureSession> session = d.current();
    if (!session)
        return;
    d.busy = false;
    const std::shared_ptr<DeviceNodeWatcher> watcher = d.currentWatcher();
    if (!session->running() && !claim(*session, watcher.get())) {
        d.busy = true;
        return;
    }
    std::string failure;
    const CaptureStream::Start started = session->start(failure);
    if (started == CaptureStream::Start::firstFrame && session->markRunning())
        return;
    if (started == CaptureStream::Start::lent || session->stream().released()) {
        d.busy = true; // the watcher halted it and waits for the camera to be free
        return;
    }
    session->halt(); // no picture in time, or a failure: not running, and the camera off
    d.yield(watcher.get(), session->stream(), false);
}

void GstCameraCapture::stopRunning()
{
    if (const std::shared_ptr<CaptureSession> session = m_impl->current())
        session->halt();
    if (const std::shared_ptr<DeviceNodeWatcher> watcher = m_impl->currentWatcher())
        watcher->rest();
}

bool GstCameraCapture::isRunning() const
{
    const std::shared_ptr<CaptureSession> session = m_impl->current();
    return session && session->running();
}

std::optional<double> GstCameraCapture::requestRate(double framesPerSecond)
{
    const std::shared_ptr<CaptureSession> session = m_impl->current();
    if (!session || !std::isfinite(framesPerSecond))
        return std::nullopt;
    const std::optional<RateSpan> span = deliverableRates(session->mode().rates);
    if (!span || !(span->maximum.value() > 0) || !span->reaches(framesPerSecond))
        return std::nullopt;
    session->apply(planFrameRate(session->mode().rates, std::max(1.0, framesPerSecond)));
    return session->plan().deliveredRate();
}

bool GstCameraCapture::cameraBusy() const
{
    return m_impl->busy.load();
}

void GstCameraCapture::setAvailabilityReceiver(AvailabilityReceiver receiver)
{
    std::lock_guard guard(m_impl->availabilityLock);
    m_impl->availabilityReceiver = std::move(receiver);
    m_impl->lastTold.reset();
}

void GstCameraCapture::shutDown()
{
    setFrameReceiver({});
    setAvailabilityReceiver({});
    std::shared_ptr<CaptureSession> session;
    std::shared_ptr<DeviceNodeWatcher> watcher;
    {
        std::lock_guard guard(m_impl->sessionLock);
        m_impl->shutDown = true;
        session = std::exchange(m_impl->session, nullptr);
        watcher = std::exchange(m_impl->watcher, nullptr);
    }
    watcher.reset(); // its thread ends before the session it might halt
    // Stopping joins the streaming threads, so no frame reaches the old receiver afterwards.
    if (session)
        session->close();
}

GstCameraCapture::Statistics GstCameraCapture::statistics() const
{
    Statistics statistics;
    statistics.releases = m_impl->releases.load();
    statistics.lastRelease = m_impl->lastRelease.load();
    const std::shared_ptr<CaptureSession> session = m_impl->current();
    if (!session)
        return statistics;
    CaptureStream& stream = session->stream();
    statistics.framesIn = stream.framesIn.load();
    statistics.framesDecoded = stream.framesDecoded.load();
    statistics.framesDelivered = stream.framesDelivered.load();
    statistics.negotiatedRate = session->negotiatedRate();
    return statistics;
}

} // namespace verticora
