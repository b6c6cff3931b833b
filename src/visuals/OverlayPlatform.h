#pragma once

#include <QByteArray>
#include <QStringList>

#include <optional>

namespace verticora {

struct SessionEnvironment {
    QByteArray qpaPlatform;   // QT_QPA_PLATFORM
    QByteArray sessionType;   // XDG_SESSION_TYPE
    QByteArray waylandDisplay; // WAYLAND_DISPLAY
    QByteArray x11Display;    // DISPLAY

    [[nodiscard]] static SessionEnvironment current();
};

// Plain Wayland clients cannot place always-on-top, click-through panels, so on a Wayland
// session with XWayland the overlays use Qt's X11 platform: "xcb" then, unless the user
// chose a platform (QT_QPA_PLATFORM or -platform). None when nothing is to change.
[[nodiscard]] std::optional<QByteArray> overlayPlatformOverride(const SessionEnvironment& environment,
                                                                const QStringList& arguments);

// Applies overlayPlatformOverride to this process; call before the application object
// is created.
void preferOverlayCapablePlatform(int argc, char** argv);

// Whether translucent windows are composited: false on X11 when nobody owns the
// _NET_WM_CM_S0 selection; true on every other platform.
[[nodiscard]] bool desktopComposites();

} // namespace verticora
