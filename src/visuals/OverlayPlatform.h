#pragma once

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QObject>
#include <QStringList>

#include <cstdint>
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

// Whether translucent windows are composited: false on X11 while nobody owns the
// _NET_WM_CM_S0 selection, true on every other platform. Followed while the application
// runs: the X server reports every change of the selection's owner (a compositing manager
// starting, being replaced or going away), so nothing is polled. Main thread only.
class CompositingWatch : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    explicit CompositingWatch(QObject* parent = nullptr);
    ~CompositingWatch() override;

    [[nodiscard]] bool composites() const { return m_composites; }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    void changed(bool composites);

private:
    bool m_composites = true;
    bool m_watching = false;
    std::uint32_t m_selection = 0;        // the _NET_WM_CM_S0 atom
    std::uint8_t m_selectionNotify = 0;  // the XFixes selection-notify event code
};

} // namespace verticora
