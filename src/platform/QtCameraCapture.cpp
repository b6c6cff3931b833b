#include "platform/QtCameraCapture.h"

#include "model/TaskQueue.h"

#include <QCamera>
#include <QCameraDevice>
#include <QImage>
#include <QMediaDevices>
#include <QMediaCaptureSession>
#include <QThread>
#include <QVideoFrame>
#include <QVideoSink>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <future>
#include <limits>
#include <stdexcept>
#include <unistd.h>

namespace verticora {

namespace {

constexpr auto mainThreadTimeout = std::chrono::seconds(5);
constexpr QSize preferredResolution{1280, 720};

QString kindOf(const QCameraDevice& device)
{
    const QString name = device.description();
    const bool builtIn = device.position() != QCameraDevice::UnspecifiedPosition
        || name.contains(QLatin1String("integrated"), Qt::CaseInsensitive)
        || name.contains(QLatin1String("built-in"), Qt::CaseInsensitive);
    return builtIn ? QStringLiteral("built-in") : QStringLiteral("external");
}

// How far a format is from 1280x720, so the closest size wins when there is no exact one.
qint64 sizeDistance(const QCameraFormat& format)
{
    const QSize size = format.resolution();
    return std::llabs(qint64(size.width()) * size.height() - qint64(preferredResolution.width()) * preferredResolution.height());
}

} // namespace

struct QtCameraCapture::Camera {
    QMediaDevices devices;
    std::unique_ptr<QCamera> camera;
    std::unique_ptr<QVideoSink> sink;
    std::unique_ptr<QMediaCaptureSession> session;
    QList<QCameraFormat> formats; // guarded by the owner's lock
};

QtCameraCapture::QtCameraCapture(QObject* parent)
    : CaptureService(parent), m_qt(std::make_unique<Camera>()), m_mainThread(new TaskQueue(this))
{
    connect(&m_qt->devices, &QMediaDevices::videoInputsChanged, this, &CaptureService::devicesChanged);
}

QtCameraCapture::~QtCameraCapture()
{
    shutDown();
    m_qt->session.reset();
    m_qt->sink.reset();
    m_qt->camera.reset();
}

std::uint32_t QtCameraCapture::fourCharCodeOf(int qtPixelFormat)
{
    switch (static_cast<QVideoFrameFormat::PixelFormat>(qtPixelFormat)) {
    case QVideoFrameFormat::Format_NV12:
        return pixelFormat::yuv420Video;
    case QVideoFrameFormat::Format_UYVY:
        return pixelFormat::uyvy;
    case QVideoFrameFormat::Format_YUYV:
        return pixelFormat::yuyv;
    case QVideoFrameFormat::Format_BGRA8888:
    case QVideoFrameFormat::Format_BGRX8888:
        return pixelFormat::bgra;
    default:
        return 0;
    }
}

QList<CameraDevice> QtCameraCapture::discoverDevices()
{
    QList<CameraDevice> devices;
    for (const QCameraDevice& device : QMediaDevices::videoInputs())
        devices.append({QString::fromUtf8(device.id()), device.description(), kindOf(device)});
    return devices;
}

CameraAuthorization QtCameraCapture::authorizationStatus(const QString& deviceID)
{
    // Linux has no camera permission prompt: a device node the user may not open is
    // the one way access is denied.
    if (deviceID.startsWith(QLatin1String("/dev/"))) {
        const QByteArray path = deviceID.toLocal8Bit();
        if (::access(path.constData(), R_OK | W_OK) != 0 && errno == EACCES)
            return CameraAuthorization::denied;
    }
    return CameraAuthorization::authorized;
}

void QtCameraCapture::requestAccess(std::function<void(bool)> answer)
{
    QMetaObject::invokeMethod(this, [answer = std::move(answer)] { answer(true); }, Qt::QueuedConnection);
}

bool QtCameraCapture::runOnMainThread(const std::function<void()>& work) const
{
    if (m_shutDown.load())
        return false;
    if (QThread::currentThread() == thread()) {
        work();
        return true;
    }
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    m_mainThread->post([work, done] {
        work();
        done->set_value();
    });
    return finished.wait_for(mainThreadTimeout) == std::future_status::ready;
}

std::optional<QString> QtCameraCapture::openSession(const QString& deviceID)
{
    std::optional<QString> error = QStringLiteral("The camera did not answer.");
    runOnMainThread([&, this] {
        const QList<QCameraDevice> inputs = QMediaDevices::videoInputs();
        const auto device = std::find_if(inputs.begin(), inputs.end(), [&](const QCameraDevice& d) {
            return QString::fromUtf8(d.id()) == deviceID;
        });
        if (device == inputs.end()) {
            error = QStringLiteral("The camera is not connected.");
            return;
        }
        m_qt->session.reset();
        m_qt->sink.reset();
        m_qt->camera = std::make_unique<QCamera>(*device);
        if (!m_qt->camera->isAvailable()) {
            m_qt->camera.reset();
            error = QStringLiteral("The camera is not available.");
            return;
        }
        m_qt->sink = std::make_unique<QVideoSink>();
        m_qt->session = std::make_unique<QMediaCaptureSession>();
        m_qt->session->setCamera(m_qt->camera.get());
        m_qt->session->setVideoSink(m_qt->sink.get());
        connect(m_qt->sink.get(), &QVideoSink::videoFrameChanged, this, &QtCameraCapture::deliver,
                Qt::DirectConnection);
        connect(m_qt->camera.get(), &QCamera::activeChanged, this, [this](bool active) {
            {
                std::lock_guard lock(m_startLock);
                m_running = active;
            }
            m_started.notify_all();
        });
        connect(m_qt->camera.get(), &QCamera::errorOccurred, this, [this](QCamera::Error cameraError, const QString&) {
            if (cameraError == QCamera::NoError)
                return;
            m_started.notify_all();
            emit runtimeError();
        });
        {
            std::lock_guard lock(m_lock);
            m_qt->formats = device->videoFormats();
        }
        const QCameraFormat active = m_qt->camera->cameraFormat();
        m_activeSubtype = active.isNull() ? 0 : fourCharCodeOf(active.pixelFormat());
        ++m_output;
        error.reset();
    });
    return error;
}

QList<std::uint32_t> QtCameraCapture::offeredPixelFormats() const
{
    QList<std::uint32_t> offered;
    std::lock_guard lock(m_lock);
    for (const QCameraFormat& format : m_qt->formats) {
        const std::uint32_t code = fourCharCodeOf(format.pixelFormat());
        if (code != 0 && !offered.contains(code))
            offered.append(code);
    }
    // Every other format (MJPEG among them) is converted to BGRA before delivery.
    if (!offered.contains(pixelFormat::bgra))
        offered.append(pixelFormat::bgra);
    return offered;
}

void QtCameraCapture::applyCameraFormat(std::uint32_t preferredFormat, double frameRate)
{
    QList<QCameraFormat> formats;
    {
        std::lock_guard lock(m_lock);
        formats = m_qt->formats;
    }
    std::optional<QCameraFormat> best;
    auto rank = [&](const QCameraFormat& f) {
        const bool sameFormat = fourCharCodeOf(f.pixelFormat()) == preferredFormat;
        const bool holdsRate = frameRate <= 0 || (f.minFrameRate() <= frameRate + 0.01 && f.maxFrameRate() >= frameRate - 0.01);
        // Lower is better: exact size, wanted pixel format, a range holding the rate, the slowest such rate.
        return std::make_tuple(sizeDistance(f), !sameFormat, !holdsRate, f.maxFrameRate());
    };
    for (const QCameraFormat& format : formats) {
        if (!best || rank(format) < rank(*best))
            best = format;
    }
    if (!best)
        return;
    m_frameDuration = best->maxFrameRate() > 0 ? 1.0 / best->maxFrameRate() : 1.0 / 30;
    runOnMainThread([this, format = *best] {
        if (m_qt->camera)
            m_qt->camera->setCameraFormat(format);
    });
}

void QtCameraCapture::setPixelFormat(std::uint32_t format)
{
    m_pixelFormat = format;
    applyCameraFormat(format, 0);
}

void QtCameraCapture::setFrameReceiver(FrameReceiver receiver)
{
    std::lock_guard lock(m_lock);
    m_receiver = std::move(receiver);
}

void QtCameraCapture::startRunning()
{
    if (!runOnMainThread([this] {
            if (m_qt->camera)
                m_qt->camera->start();
        }))
        return;
    // Starting is asynchronous: wait until the camera reports it is active (or fails).
    std::unique_lock lock(m_startLock);
    m_started.wait_for(lock, mainThreadTimeout, [this] { return m_running.load() || m_shutDown.load(); });
}

void QtCameraCapture::stopRunning()
{
    runOnMainThread([this] {
        if (m_qt->camera)
            m_qt->camera->stop();
    });
    m_running = false;
}

QList<FrameRateRange> QtCameraCapture::frameRateRanges() const
{
    QList<FrameRateRange> ranges;
    std::lock_guard lock(m_lock);
    for (const QCameraFormat& format : m_qt->formats) {
        if (format.resolution() != preferredResolution || fourCharCodeOf(format.pixelFormat()) != m_pixelFormat.load())
            continue;
        const double maximum = format.maxFrameRate();
        ranges.append({format.minFrameRate(), maximum, maximum > 0 ? 1.0 / maximum : 0.0});
    }
    return ranges;
}

void QtCameraCapture::setFrameDuration(double seconds)
{
    if (!(seconds > 0))
        return;
    applyCameraFormat(m_pixelFormat.load(), 1.0 / seconds);
}

void QtCameraCapture::shutDown()
{
    if (m_shutDown.exchange(true))
        return;
    setFrameReceiver({});
    if (m_qt->camera && QThread::currentThread() == thread())
        m_qt->camera->stop();
    m_running = false;
    m_started.notify_all();
}

void QtCameraCapture::deliver(const QVideoFrame& source)
{
    FrameReceiver receiver;
    {
        std::lock_guard lock(m_lock);
        receiver = m_receiver;
    }
    if (!receiver || !source.isValid())
        return;

    CapturedFrame captured;
    captured.output = m_output.load();
    const qint64 start = source.startTime();
    captured.presentationTime = start >= 0 ? static_cast<double>(start) / 1e6 : std::numeric_limits<double>::quiet_NaN();

    std::uint32_t code = fourCharCodeOf(source.pixelFormat());
    if (code == pixelFormat::yuv420Video && source.surfaceFormat().colorRange() == QVideoFrameFormat::ColorRange_Full)
        code = pixelFormat::yuv420Full;
    try {
        if (code != 0) {
            auto frame = std::make_shared<QVideoFrame>(source);
            if (!frame->map(QVideoFrame::ReadOnly))
                return;
            std::shared_ptr<QVideoFrame> mapped(frame.get(), [frame](QVideoFrame* f) { f->unmap(); });
            std::array<PixelPlane, 2> planes{};
            const int planeCount = std::min(frame->planeCount(), 2);
            for (int i = 0; i < planeCount; ++i)
                planes[static_cast<std::size_t>(i)] = {frame->bits(i), static_cast<std::size_t>(frame->bytesPerLine(i))};
            captured.image.emplace(frame->width(), frame->height(), code,
                                   std::span(planes.data(), static_cast<std::size_t>(planeCount)));
            captured.storage = std::move(mapped);
        } else {
            // MJPEG and other formats: decoded and converted to BGRA (ARGB32 in memory order).
            auto image = std::make_shared<QImage>(source.toImage().convertToFormat(QImage::Format_ARGB32));
            if (image->isNull())
                return;
            const PixelPlane plane{image->constBits(), static_cast<std::size_t>(image->bytesPerLine())};
            captured.image.emplace(image->width(), image->height(), pixelFormat::bgra, std::span(&plane, 1));
            captured.storage = std::move(image);
        }
    } catch (const std::invalid_argument&) {
        return; // a frame of impossible geometry is dropped rather than read
    }
    receiver(std::move(captured));
}

} // namespace verticora
