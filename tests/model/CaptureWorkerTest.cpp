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

TEST(CaptureWorker, asksForThreeFramesASecondWhereTheCameraCanDoIt)
{
    struct Case {
        double slowest, fastest;
        bool calibrating;
        double rate;
        bool trackingRate;
    };
    const Case cases[] = {
        {1, 30, false, 3, true},
        {3, 3, false, 3, true},
        {5, 30, false, 9, false}, // cannot go as slow as three: the height capture's rate
        {1, 30, true, 9, false},
        {15, 30, false, 30, false}, // nothing fits: unchanged
    };
    for (const Case& c : cases) {
        WorkerOnTestThread fixture;
        fixture.camera.slowestRate = c.slowest;
        fixture.camera.fastestRate = c.fastest;
        fixture.worker->configureCaptureRate(c.calibrating);
        EXPECT_EQ(fixture.camera.rate(), c.rate);
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
