#include "FakeCaptureService.h"
#include "ScriptedFaces.h"

#include "model/CameraRunToken.h"
#include "model/CaptureWorker.h"
#include "model/ModelClock.h"
#include "model/TaskQueue.h"
#include "store/TrackingLease.h"

#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

using namespace verticora;
using namespace verticora::testing;

namespace {

struct WorkerOnTestThread {
    FakeCaptureService camera;
    std::unique_ptr<CaptureWorker> worker = std::make_unique<CaptureWorker>(
        camera, std::make_shared<CameraRunToken>(), std::make_shared<ManualClock>(),
        std::make_shared<NoTrackingLease>(), nullptr, CaptureWorker::Callbacks{});
};

} // namespace

TEST(CaptureWorker, keepsTheCamerasOwnFormatWhenTheAnalysisReadsIt)
{
    const QList<std::uint32_t> all{pixelFormat::yuyv, pixelFormat::yuv420Full, pixelFormat::bgra};
    EXPECT_EQ(choosePixelFormat(pixelFormat::yuyv, all), pixelFormat::yuyv);
    EXPECT_EQ(choosePixelFormat(pixelFormat::i420Full, {pixelFormat::i420Full}), pixelFormat::i420Full)
        << "decoded camera JPEGs";
    EXPECT_EQ(choosePixelFormat(pixelFormat::uyvy, all), pixelFormat::yuv420Full) << "not offered";
    EXPECT_EQ(choosePixelFormat(pixelFormat::bgra, all), pixelFormat::yuv420Full) << "BGRA only as the last resort";
    EXPECT_EQ(choosePixelFormat(fourCharCode("MJPG"), {pixelFormat::bgra}), pixelFormat::bgra);
}

TEST(CaptureWorker, asksForThreeFramesASecondWhereTheCameraCanDoIt)
{
    struct Case {
        QList<FrameRateRange> ranges;
        bool calibrating;
        double duration;
        bool trackingRate;
    };
    const Case cases[] = {
        {{{1, 30, 1.0 / 30}}, false, 1.0 / 3, true},
        {{{3, 3, 1.0 / 3}}, false, 1.0 / 3, true},
        {{{5, 30, 1.0 / 30}}, false, 67.0 / 600, false},
        {{{1, 30, 1.0 / 30}}, true, 67.0 / 600, false},
        {{{15, 30, 1.0 / 30}}, false, 1.0 / 30, false}, // nothing fits: unchanged
    };
    for (const Case& c : cases) {
        WorkerOnTestThread fixture;
        fixture.camera.rateRanges = c.ranges;
        fixture.worker->configureCaptureRate(c.calibrating);
        EXPECT_DOUBLE_EQ(fixture.camera.activeMinFrameDuration(), c.duration);
        EXPECT_EQ(fixture.worker->trackingRateCapture(), c.trackingRate);
    }
}

TEST(FrameMailbox, keepsOnlyTheNewestFrame)
{
    FrameMailbox mailbox;
    CapturedFrame first;
    first.presentationTime = 1;
    CapturedFrame second;
    second.presentationTime = 2;
    EXPECT_TRUE(mailbox.offer(first));
    EXPECT_FALSE(mailbox.offer(second)) << "a pickup is already scheduled";
    const auto taken = mailbox.take();
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->presentationTime, 2);
    EXPECT_FALSE(mailbox.take());
}

// A task that throws must not stop the queue: the tasks after it run, and so do later
// ones, which a wait from another thread sees.
TEST(TaskQueue, aThrowingTaskIsDroppedAndTheQueueKeepsRunning)
{
    QThread thread;
    TaskQueue queue;
    queue.moveToThread(&thread);
    thread.start();
    std::atomic<int> ran = 0;
    for (int round = 1; round <= 2; ++round) {
        queue.post([] { throw std::runtime_error("a failing task"); });
        queue.post([&] { ++ran; });
        queue.waitUntilIdle();
        EXPECT_EQ(ran, round);
    }
    thread.quit();
    thread.wait();
}
