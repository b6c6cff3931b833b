// The GStreamer capture pipeline, run for real with test sources standing in for
// `v4l2src`: no camera is needed.

#include "platform/GstCameraCapture.h"

#include "analysis/FaceLandmarkRequest.h"
#include "model/CameraRunToken.h"
#include "model/CaptureWorker.h"
#include "model/ModelClock.h"
#include "store/TrackingLease.h"

#include <QBuffer>
#include <QImage>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

using namespace verticora;
using namespace std::chrono_literals;

namespace {

const CameraDevice standInDevice{"stand-in", "Stand-in Camera", "external"};

GstCameraCapture::StandIn standIn(std::string source, std::chrono::milliseconds startTimeout = 3000ms)
{
    return {standInDevice, std::move(source), {}, startTimeout};
}

// An appsrc with fixed caps; the capsfilter answers the caps query the appsrc leaves open.
std::string appsrc(const std::string& options, const std::string& caps)
{
    return "appsrc " + options + " format=time caps=\"" + caps + "\" ! capsfilter caps=\"" + caps + "\"";
}

const std::string silentCamera =
    appsrc("name=silent is-live=true", "video/x-raw,format=YUY2,width=320,height=180,framerate=30/1");

// Frames as the receiver got them.
struct Received {
    std::uint32_t format = 0;
    int width = 0;
    int height = 0;
    double presentationTime = 0;
};

class Collector {
public:
    CaptureService::FrameReceiver receiver()
    {
        return [this](CapturedFrame frame) {
            std::lock_guard guard(m_lock);
            if (frame.image)
                m_frames.push_back({frame.image->format(), frame.image->width(), frame.image->height(),
                                    frame.presentationTime});
        };
    }

    std::vector<Received> frames()
    {
        std::lock_guard guard(m_lock);
        return m_frames;
    }

private:
    std::mutex m_lock;
    std::vector<Received> m_frames;
};

// The real capture thread's consumer, run on the test thread.
struct Worker {
    explicit Worker(GstCameraCapture& camera)
        : worker(camera, std::make_shared<CameraRunToken>(), std::make_shared<SystemClock>(),
                 std::make_shared<NoTrackingLease>(), nullptr,
                 CaptureWorker::Callbacks{[](FrameAnalysis) {},
                                          [this](std::int64_t, SessionOutcome o, bool r) {
                                              outcome = o;
                                              running = r;
                                          }})
    {
    }

    CaptureWorker worker;
    std::optional<SessionOutcome> outcome;
    bool running = false;
};

// A JPEG of a 320x180 gradient with a moving bar, as a camera's MJPEG frame. Drawn
// pixel by pixel: QPainter's gradients run on Qt's thread pool, out of the sanitizer's sight.
std::shared_ptr<const std::vector<std::uint8_t>> jpegFrame(int index)
{
    QImage image(320, 180, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const bool bar = x >= (index * 7) % 300 && x < (index * 7) % 300 + 20 && y >= 40 && y < 140;
            row[x] = bar ? qRgb(255, 255, 255) : qRgb(x * 255 / 320, y * 255 / 180, 128);
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 85);
    return std::make_shared<const std::vector<std::uint8_t>>(bytes.begin(), bytes.end());
}

bool waitFor(const std::function<bool()>& condition)
{
    return QTest::qWaitFor(condition, 5000);
}

} // namespace

TEST(GstCameraCapture, mjpegAtThirtyFramesASecondIsDecodedOnlyAsOftenAsTheCadenceAnalyses)
{
    std::vector<std::shared_ptr<const std::vector<std::uint8_t>>> frames;
    for (int i = 0; i < 3; ++i)
        frames.push_back(jpegFrame(i));
    constexpr int sent = 90; // three seconds of a 30 fps camera, handed over as fast as taken
    std::atomic<int> next{0};
    GstCameraCapture::StandIn source =
        standIn(appsrc("name=feed", "image/jpeg,width=320,height=180,framerate=30/1"));
    source.feed = [&]() -> std::optional<GstCameraCapture::FeedFrame> {
        const int i = next++;
        if (i >= sent)
            return std::nullopt;
        return GstCameraCapture::FeedFrame{frames[std::size_t(i) % frames.size()], i / 30.0};
    };
    GstCameraCapture camera(std::move(source));
    Collector collector;
    camera.setFrameReceiver(collector.receiver());

    ASSERT_EQ(camera.openSession(standInDevice.uniqueID), std::nullopt);
    EXPECT_EQ(camera.activeFormatSubtype(), pixelFormat::i420Full) << "decoded JPEG, full range";
    EXPECT_EQ(choosePixelFormat(camera.activeFormatSubtype(), camera.offeredPixelFormats()), pixelFormat::i420Full);
    ASSERT_TRUE(waitFor([&] { return camera.statistics().framesIn == sent; }));

    const GstCameraCapture::Statistics statistics = camera.statistics();
    EXPECT_GE(statistics.framesDecoded, 8u);
    EXPECT_LE(statistics.framesDecoded, 10u) << "surplus frames are dropped before the decoder";
    EXPECT_EQ(statistics.negotiatedRate, 3.0);
    const std::vector<Received> received = collector.frames();
    ASSERT_EQ(received.size(), statistics.framesDecoded);
    for (std::size_t i = 0; i < received.size(); ++i) {
        EXPECT_EQ(received[i].format, pixelFormat::i420Full);
        EXPECT_EQ(received[i].width, 320);
        EXPECT_EQ(received[i].height, 180);
        if (i > 0) {
            EXPECT_NEAR(received[i].presentationTime - received[i - 1].presentationTime, 1.0 / 3, 0.034);
        }
    }

    // The model's rate choice sees a camera it can slow to three frames a second, and
    // the height capture's nine.
    Worker worker(camera);
    worker.worker.configureCaptureRate(false);
    EXPECT_TRUE(worker.worker.trackingRateCapture());
    EXPECT_DOUBLE_EQ(camera.activeMinFrameDuration(), 1.0 / 3);
    worker.worker.configureCaptureRate(true);
    EXPECT_FALSE(worker.worker.trackingRateCapture());
    EXPECT_DOUBLE_EQ(camera.activeMaxFrameDuration(), 1.0 / 9);
}

TEST(GstCameraCapture, aCameraThatOffersALowRateIsSlowedByCapsAndReportsWhatItDelivers)
{
    GstCameraCapture camera(standIn("videotestsrc is-live=true ! capsfilter caps=\"video/x-raw,format=YUY2,width=320,"
                                    "height=180,framerate=[1/1,30/1]\""));
    Worker worker(camera);
    worker.worker.startSession(0, standInDevice.uniqueID);
    ASSERT_EQ(worker.outcome, SessionOutcome::configured);
    EXPECT_TRUE(worker.running);
    EXPECT_TRUE(worker.worker.trackingRateCapture());
    EXPECT_DOUBLE_EQ(camera.activeMinFrameDuration(), 1.0 / 3);
    EXPECT_DOUBLE_EQ(camera.activeMaxFrameDuration(), 1.0 / 3);

    Collector collector;
    camera.setFrameReceiver(collector.receiver());
    ASSERT_TRUE(waitFor([&] { return collector.frames().size() >= 3; }));
    const std::vector<Received> received = collector.frames();
    EXPECT_EQ(received[0].format, pixelFormat::yuyv);
    EXPECT_NEAR(received[2].presentationTime - received[1].presentationTime, 1.0 / 3, 0.01);
    const GstCameraCapture::Statistics statistics = camera.statistics();
    EXPECT_EQ(statistics.negotiatedRate, 3.0);
    EXPECT_EQ(statistics.framesIn, statistics.framesDelivered) << "the camera itself was slowed, nothing dropped";
    camera.stopRunning();
    EXPECT_FALSE(camera.isRunning());
}

TEST(GstCameraCapture, aCameraThatCannotBeOpenedOrReadGivesTheOpeningError)
{
    const char* const sources[] = {
        "v4l2src device=/dev/verticora-no-such-camera",
        "audiotestsrc",
        "videotestsrc is-live=true ! video/x-raw,format=YUY2,width=320,height=180 ! identity error-after=1",
        "videotestsrc num-buffers=0 ! capsfilter caps=\"video/x-raw,format=YUY2,width=320,height=180\"",
    };
    for (const char* source : sources) {
        SCOPED_TRACE(source);
        GstCameraCapture camera(standIn(source));
        const std::optional<QString> error = camera.openSession(standInDevice.uniqueID);
        ASSERT_TRUE(error);
        EXPECT_FALSE(error->isEmpty());

        Worker worker(camera);
        worker.worker.startSession(0, standInDevice.uniqueID);
        EXPECT_EQ(worker.outcome, SessionOutcome::openFailed);
    }
}

TEST(GstCameraCapture, aCameraThatSendsNoPictureIsNotRunning)
{
    GstCameraCapture camera(standIn(silentCamera, 300ms));
    Worker worker(camera);
    worker.worker.startSession(0, standInDevice.uniqueID);
    EXPECT_EQ(worker.outcome, SessionOutcome::configured);
    EXPECT_FALSE(worker.running);
    EXPECT_FALSE(camera.isRunning());
}

TEST(GstCameraCapture, anErrorOrTheEndOfTheStreamWhileRunningIsARuntimeError)
{
    // A second of frames first, so that a slow test machine still starts the camera in time.
    const char* const sources[] = {
        "videotestsrc is-live=true num-buffers=30 ! capsfilter caps=\"video/x-raw,format=YUY2,width=320,height=180,"
        "framerate=30/1\"",
        "videotestsrc is-live=true ! video/x-raw,format=YUY2,width=320,height=180,framerate=30/1 ! identity error-after=30",
    };
    for (const char* source : sources) {
        SCOPED_TRACE(source);
        GstCameraCapture camera(standIn(source));
        QSignalSpy runtimeErrors(&camera, &CaptureService::runtimeError);
        ASSERT_EQ(camera.openSession(standInDevice.uniqueID), std::nullopt);
        camera.startRunning();
        ASSERT_TRUE(camera.isRunning());
        EXPECT_TRUE(runtimeErrors.wait(5000));
        QTest::qWait(100);
        EXPECT_EQ(runtimeErrors.count(), 1);
    }
}

TEST(GstCameraCapture, shuttingDownEndsAWaitOnTheCaptureThreadAtOnce)
{
    GstCameraCapture camera(standIn(silentCamera, 60000ms));
    std::optional<QString> opened;
    std::atomic<bool> returned{false};
    std::thread capture([&] {
        opened = camera.openSession(standInDevice.uniqueID);
        camera.startRunning();
        returned = true;
    });
    QTest::qWait(200);
    camera.shutDown();
    ASSERT_TRUE(waitFor([&] { return returned.load(); }));
    capture.join();
    EXPECT_FALSE(camera.isRunning());
    EXPECT_TRUE(camera.openSession(standInDevice.uniqueID)) << "a shut-down camera stays shut";
}
