#include "visuals/OverlayPlatform.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace verticora {

namespace {

struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};

bool x11CompositorRunning(xcb_connection_t* connection)
{
    static constexpr char selection[] = "_NET_WM_CM_S0";
    const xcb_intern_atom_cookie_t atomCookie =
        xcb_intern_atom(connection, 1, static_cast<uint16_t>(std::strlen(selection)), selection);
    const std::unique_ptr<xcb_intern_atom_reply_t, FreeReply> atom(xcb_intern_atom_reply(connection, atomCookie, nullptr));
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return false;
    const xcb_get_selection_owner_cookie_t ownerCookie = xcb_get_selection_owner(connection, atom->atom);
    const std::unique_ptr<xcb_get_selection_owner_reply_t, FreeReply> owner(
        xcb_get_selection_owner_reply(connection, ownerCookie, nullptr));
    return owner && owner->owner != XCB_NONE;
}

} // namespace

SessionEnvironment SessionEnvironment::current()
{
    return {qgetenv("QT_QPA_PLATFORM"), qgetenv("XDG_SESSION_TYPE"), qgetenv("WAYLAND_DISPLAY"), qgetenv("DISPLAY")};
}

std::optional<QByteArray> overlayPlatformOverride(const SessionEnvironment& environment, const QStringList& arguments)
{
    if (!environment.qpaPlatform.isEmpty())
        return std::nullopt;
    for (const QString& argument : arguments) {
        if (argument == QLatin1String("-platform") || argument.startsWith(QLatin1String("-platform=")))
            return std::nullopt;
    }
    const bool wayland = environment.sessionType == "wayland" || !environment.waylandDisplay.isEmpty();
    if (!wayland || environment.x11Display.isEmpty())
        return std::nullopt;
    return QByteArray("xcb");
}

void preferOverlayCapablePlatform(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (const auto platform = overlayPlatformOverride(SessionEnvironment::current(), arguments))
        qputenv("QT_QPA_PLATFORM", *platform);
}

bool desktopComposites()
{
    auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!application)
        return true;
    auto* x11 = application->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return true;
    return x11CompositorRunning(x11->connection());
}

} // namespace verticora
