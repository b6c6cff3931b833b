#include "platform/ReplayCapture.h"
#include "platform/Y4mClip.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace verticora;

namespace {

// A small clip of `frames` frames at 30 frames a second.
std::filesystem::path writeClip(const QTemporaryDir& folder, int frames)
{
    const std::filesystem::path path = folder.filePath("clip.y4m").toStdString();
    Y4mWriter writer(path, 64, 36, FrameRate{30, 1});
    PixelBuffer frame(64, 36, pixelFormat::yuv420Video);
    for (int i = 0; i < frames; ++i)
        writer.write(frame.view());
    writer.finish();
    return path;
}

struct Played {
    std::vector<double> times;
};

class ReplayCaptureTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_folder.isValid()); }

    std::unique_ptr<ReplayCapture> openCamera(int frames)
    {
        auto camera = std::make_unique<ReplayCapture>(writeClip(m_folder, frames), ReplayCapture::Pacing::byHand);
        EXPECT_FALSE(camera->openSession(camera->deviceID()));
        camera->setFrameReceiver([this](CapturedFrame frame) {
            EXPECT_TRUE(frame.image);
            played.times.push_back(frame.presentationTime);
        });
        return camera;
    }

    QTemporaryDir m_folder;
    Played played;
};

} // namespace

TEST_F(ReplayCaptureTest, playsTheClipAtALowerFrameRateThenGoesAwayLikeAnUnpluggedCamera)
{
    const auto camera = openCamera(40);
    ASSERT_EQ(camera->discoverDevices().size(), 1);
    EXPECT_EQ(camera->discoverDevices().front().kind, "replay");
    EXPECT_FALSE(camera->requestRate(31)) << "faster than the clip";
    EXPECT_EQ(camera->requestRate(3), 3.0);

    QSignalSpy gone(camera.get(), &CaptureService::devicesChanged);
    camera->startRunning();
    while (camera->deliverNextFrame()) {
    }
    ASSERT_EQ(played.times.size(), 4u);
    EXPECT_DOUBLE_EQ(played.times[1], 1.0 / 3.0);
    EXPECT_DOUBLE_EQ(played.times[3], 1.0);
    QCoreApplication::processEvents();
    EXPECT_EQ(gone.count(), 1);
    EXPECT_TRUE(camera->discoverDevices().isEmpty());
    EXPECT_FALSE(camera->failure());
    EXPECT_TRUE(camera->openSession(camera->deviceID())) << "an ended clip cannot be opened again";
}

TEST_F(ReplayCaptureTest, aPauseResumesWhereTheClipStopped)
{
    const auto camera = openCamera(40);
    camera->requestRate(3);
    camera->startRunning();
    ASSERT_TRUE(camera->deliverNextFrame());
    ASSERT_TRUE(camera->deliverNextFrame());
    camera->stopRunning();
    EXPECT_FALSE(camera->deliverNextFrame()) << "a stopped camera delivers nothing";
    camera->startRunning();
    ASSERT_TRUE(camera->deliverNextFrame());
    EXPECT_DOUBLE_EQ(played.times.back(), 2.0 / 3.0);
}

TEST_F(ReplayCaptureTest, aDamagedClipEndsAtTheDamageWithItsReason)
{
    const std::filesystem::path clip = writeClip(m_folder, 5);
    std::filesystem::resize_file(clip, std::filesystem::file_size(clip) - 10);
    ReplayCapture camera(clip, ReplayCapture::Pacing::byHand);
    ASSERT_FALSE(camera.openSession(camera.deviceID()));
    camera.setFrameReceiver([this](CapturedFrame frame) { played.times.push_back(frame.presentationTime); });
    camera.startRunning();
    while (camera.deliverNextFrame()) {
    }
    EXPECT_EQ(played.times.size(), 4u);
    ASSERT_TRUE(camera.failure());
    EXPECT_TRUE(camera.failure()->contains("frame 4")) << camera.failure()->toStdString();

    ReplayCapture missing(m_folder.filePath("nothing.y4m").toStdString());
    EXPECT_TRUE(missing.openSession(missing.deviceID()));
}
