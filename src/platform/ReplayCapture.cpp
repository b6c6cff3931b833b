#include "platform/ReplayCapture.h"

#include "model/TaskQueue.h"
#include "platform/CaptureModes.h"
#include "platform/Y4mClip.h"

#include <chrono>
#include <cmath>

namespace verticora {

ReplayCapture::ReplayCapture(std::filesystem::path clip, Pacing pacing, QObject* parent)
    : CaptureService(parent), m_clip(std::move(clip)), m_pacing(pacing), m_mainThread(new TaskQueue(this))
{
}

ReplayCapture::~ReplayCapture()
{
    shutDown();
}

QString ReplayCapture::deviceID() const
{
    return QStringLiteral("replay:") + QString::fromStdString(m_clip.string());
}

QList<CameraDevice> ReplayCapture::discoverDevices()
{
    if (m_ended.load())
        return {};
    return {{deviceID(), QStringLiteral("Replay of ") + QString::fromStdString(m_clip.filename().string()),
             QStringLiteral("replay")}};
}

std::optional<QString> ReplayCapture::openSession(const QString& deviceID)
{
    if (deviceID != this->deviceID() || m_ended.load())
        return QStringLiteral("The clip is not available.");
    stopRunning();
    try {
        auto reader = std::make_unique<Y4mReader>(m_clip);
        m_clipRate = reader->frameRate().framesPerSecond();
        m_reader = std::move(reader);
    } catch (const ClipError& error) {
        return QString::fromStdString(error.what());
    }
    m_position = 0;
    m_frameStep = 1;
    ++m_output;
    return std::nullopt;
}

void ReplayCapture::setFrameReceiver(FrameReceiver receiver)
{
    std::lock_guard lock(m_lock);
    m_receiver = std::move(receiver);
}

std::optional<double> ReplayCapture::requestRate(double framesPerSecond)
{
    const double clipRate = m_clipRate.load();
    const RateSpan reachable{CameraRate::fromValue(std::min(1.0, clipRate)), CameraRate::fromValue(clipRate)};
    if (!(clipRate > 0) || !(framesPerSecond > 0) || !reachable.reaches(framesPerSecond))
        return std::nullopt;
    const int step = std::max(1, static_cast<int>(std::lround(clipRate / framesPerSecond)));
    m_frameStep = step;
    return clipRate / step;
}

void ReplayCapture::startRunning()
{
    std::lock_guard player(m_playerLock);
    if (m_running.load() || m_ended.load() || m_shutDown.load() || !m_reader)
        return;
    if (m_player.joinable())
        m_player.join();
    {
        std::lock_guard lock(m_lock);
        m_stopRequested = false;
    }
    m_running = true;
    if (m_pacing == Pacing::realTime)
        m_player = std::thread([this] { play(); });
}

void ReplayCapture::stopRunning()
{
    {
        std::lock_guard lock(m_lock);
        m_stopRequested = true;
    }
    m_stop.notify_all();
    std::lock_guard player(m_playerLock);
    if (m_player.joinable() && m_player.get_id() != std::this_thread::get_id())
        m_player.join();
    m_running = false;
}

void ReplayCapture::shutDown()
{
    m_shutDown = true;
    setFrameReceiver({});
    stopRunning();
}

std::optional<QString> ReplayCapture::failure() const
{
    std::lock_guard lock(m_lock);
    return m_failure;
}

bool ReplayCapture::deliverNextFrame()
{
    if (m_pacing != Pacing::byHand || !m_running.load())
        return false;
    Step result = Step::skipped;
    while (result == Step::skipped)
        result = step([](double) { return true; });
    return result == Step::delivered;
}

void ReplayCapture::play()
{
    using Clock = std::chrono::steady_clock;
    // Resuming after a pause continues where the clip stopped.
    const Clock::time_point start =
        Clock::now() - std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(m_position));
    auto due = [&](double presentationTime) {
        const auto at = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(presentationTime));
        std::unique_lock lock(m_lock);
        return !m_stop.wait_until(lock, at, [this] { return m_stopRequested; });
    };
    while (step(due) != Step::ended) {
        std::lock_guard lock(m_lock);
        if (m_stopRequested)
            return;
    }
}

ReplayCapture::Step ReplayCapture::step(const std::function<bool(double)>& due)
{
    std::optional<ClipFrame> frame;
    try {
        frame = m_reader->next();
    } catch (const ClipError& error) {
        finishPlaying(QString::fromStdString(error.what()));
        return Step::ended;
    }
    if (!frame) {
        finishPlaying(std::nullopt);
        return Step::ended;
    }
    m_position = frame->presentationTime;
    if (frame->index % m_frameStep.load() != 0)
        return Step::skipped;
    if (!due(frame->presentationTime))
        return Step::skipped;

    FrameReceiver receiver;
    {
        std::lock_guard lock(m_lock);
        receiver = m_receiver;
    }
    if (!receiver)
        return Step::skipped;
    auto buffer = std::make_shared<PixelBuffer>(std::move(frame->buffer));
    CapturedFrame captured;
    captured.image = buffer->view();
    captured.storage = std::move(buffer);
    captured.presentationTime = frame->presentationTime;
    captured.output = m_output.load();
    receiver(std::move(captured));
    return Step::delivered;
}

void ReplayCapture::finishPlaying(std::optional<QString> failure)
{
    {
        std::lock_guard lock(m_lock);
        m_failure = std::move(failure);
    }
    m_ended = true;
    m_running = false;
    // The camera goes away like an unplugged one.
    m_mainThread->post([this] {
        emit devicesChanged();
        emit clipEnded();
    });
}

} // namespace verticora
