#include "platform/CameraCourtesy.h"

#include <gtest/gtest.h>

#include <vector>

using namespace verticora;

namespace {

constexpr int self = 100;

} // namespace

TEST(CameraCourtesy, theNodeIsHeldByOtherProcessesWhateverNameTheyOpenedItBy)
{
    const FileIdentity camera{5, 300, 0x5100, true};
    const FileIdentity sameCameraOtherNode{5, 301, 0x5100, true}; // the by-id link's target, another inode
    const FileIdentity standIn{8, 300, 0, false};
    const std::vector<OpenFile> snapshot{
        {self, 12, camera},               // this process never counts
        {200, 3, camera},
        {200, 7, sameCameraOtherNode},    // one process, two descriptors
        {300, 4, {5, 300, 0x5101, true}}, // another camera
        {400, 5, {5, 300, 0, false}},     // a plain file with the camera's inode number
        {500, 6, standIn},
    };
    EXPECT_EQ(otherHolders(snapshot, camera, self), (std::set<int>{200}));
    EXPECT_EQ(otherHolders(snapshot, standIn, self), (std::set<int>{500}));
    EXPECT_TRUE(otherHolders(snapshot, {9, 1, 0, false}, self).empty());
}

TEST(CameraCourtesy, lendsOnAnotherOpenAndTakesBackAfterThreeQuietSeconds)
{
    using Action = CameraCourtesy::Action;
    CameraCourtesy courtesy;
    EXPECT_EQ(courtesy.observe(10, true, 1), Action::none) << "resting: nothing to give";

    courtesy.stream();
    EXPECT_EQ(courtesy.observe(11, true, 0), Action::none) << "our own open, or one closed again already";
    EXPECT_EQ(courtesy.observe(12, true, 1), Action::release);
    EXPECT_EQ(courtesy.phase(), CameraCourtesy::Phase::lent);
    EXPECT_FALSE(courtesy.deadline()) << "no end while it is held";
    EXPECT_EQ(courtesy.observe(20, false, 1), Action::none);

    // Closed at 30; a page listing the cameras opens and closes it at 32.
    EXPECT_EQ(courtesy.observe(30, false, 0), Action::none);
    EXPECT_EQ(courtesy.deadline(), 33.0);
    EXPECT_EQ(courtesy.observe(32, true, 0), Action::none);
    EXPECT_EQ(courtesy.deadline(), 35.0) << "the quiet period starts again";
    EXPECT_EQ(courtesy.observe(34.999, false, 0), Action::none);
    EXPECT_EQ(courtesy.observe(35, false, 0), Action::takeBack);
    EXPECT_EQ(courtesy.phase(), CameraCourtesy::Phase::resting);
    EXPECT_EQ(courtesy.observe(36, true, 1), Action::none) << "until the camera streams again";
}

TEST(CameraCourtesy, aCameraBusyWithoutAVisibleHolderIsTriedAgainAfterTheQuietPeriod)
{
    // Another user's program holds it: /proc does not show it.
    CameraCourtesy courtesy(1.5);
    courtesy.lend(50, 0);
    EXPECT_EQ(courtesy.deadline(), 51.5);
    EXPECT_EQ(courtesy.observe(51.5, false, 0), CameraCourtesy::Action::takeBack);

    courtesy.lend(60, 2);
    EXPECT_FALSE(courtesy.deadline());
    courtesy.rest();
    EXPECT_FALSE(courtesy.deadline()) << "a user who stops the camera stops the wait";
}
