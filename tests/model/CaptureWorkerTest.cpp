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

// A camera's slowest and fastest rates, whether the height is being captured, and the
// rate the worker asks for.
struct RateCase {
    const char* name;
    double slowest, fastest;
    bool calibrating;
    double rate;
    bool trackingRate;
};

class CaptureRate : public ::testing::TestWithParam<RateCase> {};

TEST_P(CaptureRate, asksForThreeFramesASecondWhereTheCameraCanDoIt)
{
    const RateCase& c = GetParam();
    WorkerOnTestThread fixture;
    fixture.camera.slowestRate = c.slowest;
    fixture.camera.fastestRate = c.fastest;
    fixture.worker->configureCaptureRate(c.calibrating);
    EXPECT_EQ(fixture.camera.rate(), c.rate);
    EXPECT_EQ(fixture.worker->trackingRateCapture(), c.trackingRate);
}

INSTANTIATE_TEST_SUITE_P(CaptureWorker, CaptureRate,
                         ::testing::Values(RateCase{"wideRange", 1, 30, false, 3, true},
                                           RateCase{"exactlyThree", 3, 3, false, 3, true},
                                           // cannot go as slow as three: the height capture's rate
                                           RateCase{"tooFastForThree", 5, 30, false, 9, false},
                                           RateCase{"heightCapture", 1, 30, true, 9, false},
                                           RateCase{"nothingFits", 15, 30, false, 30, false}),
                         [](const ::testing::TestParamInfo<RateCase>& info) { return std::string(info.param.name); });

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
