#include "visuals/OverlayPlatform.h"

#include <gtest/gtest.h>

using namespace verticora;

TEST(OverlayPlatform, waylandSessionsUseXWaylandUnlessThePlatformWasChosen)
{
    const SessionEnvironment wayland{"", "wayland", "wayland-0", ":0"};
    EXPECT_EQ(overlayPlatformOverride(wayland, {}), QByteArray("xcb"));

    SessionEnvironment chosen = wayland;
    chosen.qpaPlatform = "wayland";
    EXPECT_FALSE(overlayPlatformOverride(chosen, {}).has_value());
    EXPECT_FALSE(overlayPlatformOverride(wayland, {QStringLiteral("-platform"), QStringLiteral("wayland")}).has_value());
    EXPECT_FALSE(overlayPlatformOverride(wayland, {QStringLiteral("-platform=offscreen")}).has_value());

    const SessionEnvironment withoutXWayland{"", "wayland", "wayland-0", ""};
    EXPECT_FALSE(overlayPlatformOverride(withoutXWayland, {}).has_value());

    const SessionEnvironment x11{"", "x11", "", ":0"};
    EXPECT_FALSE(overlayPlatformOverride(x11, {}).has_value());

    const SessionEnvironment unknownSessionType{"", "", "wayland-1", ":1"};
    EXPECT_EQ(overlayPlatformOverride(unknownSessionType, {}), QByteArray("xcb"));
}

TEST(OverlayPlatform, offscreenPanelsNeedNoShaping)
{
    EXPECT_TRUE(CompositingWatch().composites());
}
