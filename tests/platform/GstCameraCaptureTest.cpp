// The GStreamer capture pipeline, run for real with test sources standing in for
// `v4l2src`: no camera is needed.

#include "platform/GstCameraCapture.h"

#include "NodeHolder.h"

#include "analysis/FaceLandmarkRequest.h"
#include "model/CameraRunToken.h"
#include "model/CaptureWorker.h"
#include "model/ModelClock.h"
#include "platform/DeviceNodeWatcher.h"
#include "platform/GstSession.h"
#include "store/TrackingLease.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include <unistd.h>

using namespace verticora;
using namespace std::chrono_literals;

namespace {

const CameraDevice standInDevice{"stand-in", "Stand-in Camera", "external"};

GstCameraCapture::StandIn standIn(std::string source, std::chrono::milliseconds startTimeout = 3000ms)
{
    GstCameraCapture::StandIn result;
    result.device = standInDevice;
    result.source = std::move(source);
    result.startTimeout = startTimeout;
    return result;
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

// What other threads handed over, in order.
template <typename T>
class Recording {
public:
    void add(T value)
    {
        std::lock_guard guard(m_lock);
        m_values.push_back(std::move(value));
    }

    std::vector<T> values()
    {
        std::lock_guard guard(m_lock);
        return m_values;
    }

private:
    std::mutex m_lock;
    std::vector<T> m_values;
};

class Collector : public Recording<Received> {
public:
    CaptureService::FrameReceiver receiver()
    {
        return [this](CapturedFrame frame) {
            if (frame.image)
                add({frame.image->format(), frame.image->width(), frame.image->height(), frame.presentationTime});
        };
    }
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
                                          },
                                          [this](std::int64_t, CameraAvailability a) { availability.push_back(a); }})
    {
    }

    CaptureWorker worker;
    std::optional<SessionOutcome> outcome;
    bool running = false;
    std::vector<CameraAvailability> availability;
};

using FrameBytes = std::shared_ptr<const std::vector<std::uint8_t>>;

// A 1280x720 JPEG of a gradient with a moving bar, as a camera's MJPEG frame. Drawn
// pixel by pixel: QPainter's gradients run on Qt's thread pool, out of the sanitizer's sight.
FrameBytes jpegFrame(int index)
{
    QImage image(1280, 720, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const bool bar = x >= (index * 28) % 1200 && x < (index * 28) % 1200 + 80 && y >= 160 && y < 560;
            row[x] = bar ? qRgb(255, 255, 255) : qRgb(x * 255 / 1280, y * 255 / 720, 128);
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 85);
    return std::make_shared<const std::vector<std::uint8_t>>(bytes.begin(), bytes.end());
}

// The frame as a camera sends it when its transfer breaks off halfway.
FrameBytes cutShort(const FrameBytes& jpeg)
{
    return std::make_shared<const std::vector<std::uint8_t>>(jpeg->begin(), jpeg->begin() + static_cast<std::ptrdiff_t>(jpeg->size() / 2));
}

const std::string mjpegCamera = appsrc("name=feed", "image/jpeg,width=1280,height=720,framerate=30/1");
const std::string yuyvCamera = appsrc("name=feed", "video/x-raw,format=YUY2,width=320,height=180,framerate=30/1");

FrameBytes yuyvFrame()
{
    return std::make_shared<const std::vector<std::uint8_t>>(320 * 180 * 2, 128);
}

// A 30 fps camera sending `frame(i)` as its i-th frame, as fast as the pipeline takes
// them, with timestamps that wobble by a few milliseconds as a real camera's do.
GstCameraCapture::StandIn feedingStandIn(const std::string& camera, std::function<std::optional<FrameBytes>(int)> frame,
                                         std::chrono::milliseconds startTimeout = 3000ms)
{
    GstCameraCapture::StandIn source = standIn(camera, startTimeout);
    source.feed = [frame = std::move(frame), next = std::make_shared<std::atomic<int>>(0)]()
        -> std::optional<GstCameraCapture::FeedFrame> {
        const int i = (*next)++;
        const std::optional<FrameBytes> bytes = frame(i);
        if (!bytes)
            return std::nullopt;
        return GstCameraCapture::FeedFrame{*bytes, i / 30.0 + (i % 3) * 0.003};
    };
    return source;
}

bool waitFor(const std::function<bool()>& condition)
{
    return QTest::qWaitFor(condition, 5000);
}

// What the service said about the camera's availability, in order.
class AvailabilityLog : public Recording<CameraAvailability> {
public:
    CaptureService::AvailabilityReceiver receiver()
    {
        return [this](CameraAvailability availability, std::uint64_t) { add(availability); };
    }
};

double monotonicNow()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A live test camera whose device node is an empty file in a folder of the test's own.
struct CameraWithNode {
    CameraWithNode() { makeNode(); }

    void makeNode()
    {
        QFile file(node);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }

    GstCameraCapture::StandIn standIn(double quietSeconds) const
    {
        GstCameraCapture::StandIn camera = ::standIn("videotestsrc is-live=true ! capsfilter caps=\"video/x-raw,"
                                                     "format=YUY2,width=320,height=180,framerate=30/1\"");
        camera.node = node.toStdString();
        camera.quietSeconds = quietSeconds;
        return camera;
    }

    // Whether a process other than this one holds the node now.
    [[nodiscard]] bool heldElsewhere() const
    {
        const std::string path = QFileInfo(node).canonicalFilePath().toStdString(); // as /proc shows it
        const std::optional<FileIdentity> identity = identityOf(path);
        return identity && !otherHolders(openFilesOn(path, *identity), *identity, static_cast<int>(::getpid())).empty();
    }

    QTemporaryDir folder;
    QString node = folder.filePath("video0");
};

// That camera streaming, with a quiet period of two seconds, and what it said about lending.
class StreamingWithNode : public ::testing::Test {
protected:
    void SetUp() override
    {
        camera.setAvailabilityReceiver(log.receiver());
        ASSERT_EQ(camera.openSession(standInDevice.uniqueID), std::nullopt);
        camera.startRunning();
        ASSERT_TRUE(camera.isRunning());
    }

    CameraWithNode stand;
    GstCameraCapture camera{stand.standIn(2.0)};
    AvailabilityLog log;
};

} // namespace

// A YUYV camera that offers nothing slower than 30 fps: the surplus is dropped and the
// kept frames are handed over as they came, never decoded.
TEST(GstCameraCapture, surplusRawFramesAreDroppedAndHandedOverUndecoded)
{
    constexpr int sent = 30;
    const FrameBytes picture = yuyvFrame();
    GstCameraCapture camera(feedingStandIn(yuyvCamera, [&](int i) -> std::optional<FrameBytes> {
        if (i >= sent)
            return std::nullopt;
        return picture;
    }));
    Collector collector;
    camera.setFrameReceiver(collector.receiver());

    ASSERT_EQ(camera.openSession(standInDevice.uniqueID), std::nullopt);
    ASSERT_TRUE(waitFor([&] { return camera.statistics().framesIn == sent; }));
    const GstCameraCapture::Statistics statistics = camera.statistics();
    EXPECT_EQ(statistics.framesDelivered, 3u);
    EXPECT_EQ(statistics.framesDecoded, 0u);
    EXPECT_EQ(statistics.negotiatedRate, 3.0);
    const std::vector<Received> received = collector.values();
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received.front().format, pixelFormat::yuyv);
    EXPECT_EQ(received.front().width, 320);
    EXPECT_EQ(received.front().height, 180);

    // The model's rate choice: three frames a second while monitoring, nine for the height capture.
    Worker worker(camera);
    worker.worker.configureCaptureRate(false);
    EXPECT_TRUE(worker.worker.trackingRateCapture());
    worker.worker.configureCaptureRate(true);
    EXPECT_EQ(camera.statistics().negotiatedRate, 9.0);
    EXPECT_EQ(camera.requestRate(31), std::nullopt) << "faster than the camera";
}

TEST(GstCameraCapture, theCallbacksLetGoOfTheirDataWithThePipeline)
{
    // The bus, the sink, the camera's pad and the stand-in's feed each hold a reference
    // that GStreamer must free once the pipeline is gone.
    const FrameBytes picture = yuyvFrame();
    auto feedState = std::make_shared<int>(0);
    const std::weak_ptr<int> feedWatch = feedState;
    GstCameraCapture::Feed feed = [picture, feedState]() -> std::optional<GstCameraCapture::FeedFrame> {
        return GstCameraCapture::FeedFrame{picture, (*feedState)++ / 30.0};
    };
    feedState.reset();
    auto stream = std::make_shared<CaptureStream>(std::make_shared<Delivery>(), std::string(), nullptr);
    const std::weak_ptr<CaptureStream> streamWatch = stream;

    SessionOrError built = CaptureSession::build(yuyvCamera, stream, feed, 3000ms);
    ASSERT_TRUE(built.session) << built.error;
    feed = nullptr;
    stream.reset();
    std::string failure;
    ASSERT_EQ(built.session->start(failure), CaptureStream::Start::firstFrame) << failure;
    EXPECT_FALSE(feedWatch.expired()) << "held by the feed's callback while the pipeline lives";

    built.session.reset();
    EXPECT_TRUE(streamWatch.expired());
    EXPECT_TRUE(feedWatch.expired());
}

TEST(GstCameraCapture, aDamagedJpegIsDroppedAndTheStreamGoesOn)
{
    // Every tenth frame is kept: 0, 10, 20, ... The very first and a later one are damaged.
    const FrameBytes good = jpegFrame(0);
    const FrameBytes damaged = cutShort(good);
    constexpr int sent = 90;
    GstCameraCapture camera(feedingStandIn(mjpegCamera, [&](int i) -> std::optional<FrameBytes> {
        if (i >= sent)
            return std::nullopt;
        return i == 0 || i == 40 ? damaged : good;
    }));
    Collector collector;
    camera.setFrameReceiver(collector.receiver());
    ASSERT_EQ(camera.openSession(standInDevice.uniqueID), std::nullopt) << "the first good frame starts the camera";
    camera.startRunning();
    EXPECT_TRUE(camera.isRunning());
    ASSERT_TRUE(waitFor([&] { return camera.statistics().framesIn == sent; }));

    const GstCameraCapture::Statistics statistics = camera.statistics();
    EXPECT_EQ(statistics.framesDecoded, 9u);
    EXPECT_EQ(statistics.framesDelivered, 7u);
    const std::vector<Received> received = collector.values();
    ASSERT_EQ(received.size(), 7u);
    EXPECT_NEAR(received.front().presentationTime, 10 / 30.0, 0.01);
    for (const Received& frame : received) {
        EXPECT_GT(std::abs(frame.presentationTime - 40 / 30.0), 0.01);
        // Decoded at half size, still wider than the analysis frame.
        EXPECT_EQ(frame.format, pixelFormat::i420Full);
        EXPECT_EQ(frame.width, 640);
        EXPECT_EQ(frame.height, 360);
    }
}

// A camera that sends no picture, or only damaged JPEGs, is configured but never running.
TEST(GstCameraCapture, aCameraWithoutAGoodPictureDoesNotStart)
{
    const FrameBytes damaged = cutShort(jpegFrame(0));
    for (const GstCameraCapture::StandIn& source :
         {standIn(silentCamera, 300ms),
          feedingStandIn(mjpegCamera, [&](int) -> std::optional<FrameBytes> { return damaged; }, 300ms)}) {
        GstCameraCapture camera(source);
        Worker worker(camera);
        worker.worker.startSession(0, standInDevice.uniqueID);
        EXPECT_EQ(worker.outcome, SessionOutcome::configured);
        EXPECT_FALSE(worker.running);
        EXPECT_FALSE(camera.isRunning());
        EXPECT_EQ(camera.statistics().framesDecoded > 0, bool(source.feed)) << "the damaged frames were tried";
    }
}

namespace {

struct Source {
    const char* name;
    const char* pipeline;
};

std::string sourceName(const ::testing::TestParamInfo<Source>& info)
{
    return info.param.name;
}

class GstUnopenableCamera : public ::testing::TestWithParam<Source> {};
class GstCameraFailingWhileRunning : public ::testing::TestWithParam<Source> {};

} // namespace

TEST_P(GstUnopenableCamera, givesTheOpeningError)
{
    GstCameraCapture camera(standIn(GetParam().pipeline));
    const std::optional<QString> error = camera.openSession(standInDevice.uniqueID);
    ASSERT_TRUE(error);
    EXPECT_FALSE(error->isEmpty());

    Worker worker(camera);
    worker.worker.startSession(0, standInDevice.uniqueID);
    EXPECT_EQ(worker.outcome, SessionOutcome::openFailed);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, GstUnopenableCamera,
    ::testing::Values(Source{"noSuchDevice", "v4l2src device=/dev/verticora-no-such-camera"},
                      Source{"notVideo", "audiotestsrc"},
                      Source{"errorOnFirstFrame", "videotestsrc is-live=true ! video/x-raw,format=YUY2,width=320,height=180 "
                                                  "! identity error-after=1"},
                      Source{"noFrames", "videotestsrc num-buffers=0 ! capsfilter "
                                         "caps=\"video/x-raw,format=YUY2,width=320,height=180\""}),
    sourceName);

TEST_P(GstCameraFailingWhileRunning, reportsOneRuntimeError)
{
    GstCameraCapture camera(standIn(GetParam().pipeline));
    QSignalSpy runtimeErrors(&camera, &CaptureService::runtimeError);
    ASSERT_EQ(camera.openSession(standInDevice.uniqueID), std::nullopt);
    camera.startRunning();
    ASSERT_TRUE(camera.isRunning());
    EXPECT_TRUE(runtimeErrors.wait(5000));
    QTest::qWait(100);
    EXPECT_EQ(runtimeErrors.count(), 1);
}

// A second of frames first, so that a slow test machine still starts the camera in time.
INSTANTIATE_TEST_SUITE_P(
    Sources, GstCameraFailingWhileRunning,
    ::testing::Values(Source{"endOfStream", "videotestsrc is-live=true num-buffers=30 ! capsfilter "
                                            "caps=\"video/x-raw,format=YUY2,width=320,height=180,framerate=30/1\""},
                      Source{"error", "videotestsrc is-live=true ! video/x-raw,format=YUY2,width=320,height=180,"
                                      "framerate=30/1 ! identity error-after=30"}),
    sourceName);

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

TEST_F(StreamingWithNode, anotherProgramOpeningTheNodeBorrowsTheCameraUntilItHasBeenClosedAWhile)
{
    auto call = std::make_unique<NodeHolder>(stand.node, NodeHolder::Opening::whenTold);
    ASSERT_TRUE(call->started());
    // This process opening the node, as GStreamer's device probing does, lends nothing.
    QFile own(stand.node);
    ASSERT_TRUE(own.open(QIODevice::ReadOnly));
    const double beforeOthers = monotonicNow();

    call->open();
    ASSERT_TRUE(waitFor([&] { return !log.values().empty(); }));
    EXPECT_EQ(log.values(), std::vector{CameraAvailability::lent});
    EXPECT_FALSE(camera.isRunning()) << "the pipeline went to NULL";
    const GstCameraCapture::Statistics lent = camera.statistics();
    EXPECT_EQ(lent.releases, 1u);
    EXPECT_GT(lent.lastRelease, beforeOthers) << "released for the other program, not for this one";

    // Starting while it is held leaves the device alone.
    camera.startRunning();
    EXPECT_FALSE(camera.isRunning());
    EXPECT_TRUE(camera.cameraBusy());
    EXPECT_EQ(camera.statistics().framesIn, lent.framesIn);

    // The call ends; a page then lists the cameras, which opens the node for a moment.
    call.reset();
    NodeHolder listing(stand.node);
    ASSERT_TRUE(listing.started());
    ASSERT_TRUE(waitFor([&] { return stand.heldElsewhere(); }));
    listing.close();
    ASSERT_TRUE(waitFor([&] { return !stand.heldElsewhere(); }));
    EXPECT_EQ(log.values().size(), 1u) << "not free before a quiet period after the last close";
    ASSERT_TRUE(waitFor([&] { return log.values().size() == 2; }));
    EXPECT_EQ(log.values().back(), CameraAvailability::free);

    camera.startRunning();
    EXPECT_TRUE(camera.isRunning());
    EXPECT_FALSE(camera.cameraBusy());
    EXPECT_GT(camera.statistics().framesIn, lent.framesIn);
}

TEST(GstCameraCapture, aCameraHeldAtOpeningIsBusyAndOpenedOnceItIsFree)
{
    CameraWithNode stand;
    GstCameraCapture camera(stand.standIn(0.5));
    NodeHolder call(stand.node);
    ASSERT_TRUE(call.started());
    ASSERT_TRUE(waitFor([&] { return stand.heldElsewhere(); }));

    Worker worker(camera);
    worker.worker.startSession(0, standInDevice.uniqueID);
    EXPECT_EQ(worker.outcome, SessionOutcome::busy);
    EXPECT_FALSE(camera.isRunning());

    call.close();
    ASSERT_TRUE(waitFor([&] { return !worker.availability.empty(); }));
    EXPECT_EQ(worker.availability, std::vector{CameraAvailability::free});
    worker.worker.setCapturePaused(0, false); // the model resumes
    EXPECT_TRUE(camera.isRunning());
    EXPECT_EQ(worker.availability.size(), 1u);
}

TEST_F(StreamingWithNode, aNodeMadeAnewIsWatchedAgain)
{
    // Unplugged and plugged in again: a new node under the same name.
    ASSERT_TRUE(QFile::remove(stand.node));
    stand.makeNode();
    // Other programs open it until the watcher has found the new node.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            NodeHolder glance(stand.node);
            return glance.started() && QTest::qWaitFor([&] { return !log.values().empty(); }, 300);
        },
        5000));
    EXPECT_EQ(log.values().front(), CameraAvailability::lent);
    EXPECT_FALSE(camera.isRunning());
}
