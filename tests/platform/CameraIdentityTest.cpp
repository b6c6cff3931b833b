#include "platform/CameraIdentity.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace verticora;

TEST(CameraIdentity, theByIdLinkNamesTheCameraWhereverItIsPluggedIn)
{
    const std::vector<ByIdLink> links = {
        {"/dev/v4l/by-id/usb-Maker_Desk_Cam_0001-video-index0", "/dev/video0"},
        {"/dev/v4l/by-id/usb-Maker_Desk_Cam_0001-video-index1", "/dev/video1"},
        {"/dev/v4l/by-id/usb-Other_Cam_7-video-index0", "/dev/video2"},
    };
    const VideoDeviceFacts desk{"/dev/video0", "usb-0000:00:14.0-1", "Desk Cam"};
    EXPECT_EQ(stableCameraID(desk, links), "/dev/v4l/by-id/usb-Maker_Desk_Cam_0001-video-index0")
        << "the link beats the bus info";

    // Replugged into another port after another camera took its node: new node, new bus
    // info, same link name.
    const std::vector<ByIdLink> replugged = {
        {"/dev/v4l/by-id/usb-Maker_Desk_Cam_0001-video-index0", "/dev/video4"},
        {"/dev/v4l/by-id/usb-Other_Cam_7-video-index0", "/dev/video0"},
    };
    const VideoDeviceFacts moved{"/dev/video4", "usb-0000:00:14.0-3", "Desk Cam"};
    EXPECT_EQ(stableCameraID(moved, replugged), stableCameraID(desk, links));
    EXPECT_EQ(stableCameraID({"/dev/video0", "usb-0000:00:14.0-2", "Other Cam"}, replugged),
              "/dev/v4l/by-id/usb-Other_Cam_7-video-index0");

    // Without a link (a camera on the machine's own bus): bus info and card, which tell
    // two such cameras apart; the node only when nothing else is known.
    const VideoDeviceFacts front{"/dev/video0", "platform:camss-0", "Front Camera"};
    const VideoDeviceFacts back{"/dev/video1", "platform:camss-1", "Front Camera"};
    EXPECT_EQ(stableCameraID(front, {}), "platform:camss-0|Front Camera");
    EXPECT_NE(stableCameraID(front, {}), stableCameraID(back, {}));
    EXPECT_EQ(stableCameraID({"/dev/video5", "", ""}, links), "/dev/video5");

    EXPECT_EQ(cameraKind(desk.busInfo), "external");
    EXPECT_EQ(cameraKind(front.busInfo), "built-in");
}

TEST(CameraIdentity, readsTheLinksOfAFolderResolved)
{
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "verticora-by-id-test";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder / "dev");
    std::ofstream(folder / "dev" / "video3").put('x');
    std::filesystem::create_directories(folder / "by-id");
    std::filesystem::create_symlink("../dev/video3", folder / "by-id" / "usb-B_Cam-video-index0");
    std::filesystem::create_symlink("../dev/video9", folder / "by-id" / "usb-A_Gone-video-index0");

    const std::vector<ByIdLink> links = readByIdLinks(folder / "by-id");
    ASSERT_EQ(links.size(), 1u) << "a link to a vanished node is skipped";
    EXPECT_EQ(links[0].path, (folder / "by-id" / "usb-B_Cam-video-index0").string());
    EXPECT_EQ(links[0].target, std::filesystem::canonical(folder / "dev" / "video3").string());
    EXPECT_TRUE(readByIdLinks(folder / "missing").empty());
    std::filesystem::remove_all(folder);
}
