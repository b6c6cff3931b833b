#include "visuals/OverlayPlatform.h"

#include <QAbstractEventDispatcher>
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace verticora {

namespace {

struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};

xcb_connection_t* x11Connection()
{
    auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    auto* x11 = application ? application->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

// The compositing manager's selection; XCB_ATOM_NONE when the server has none yet.
xcb_atom_t compositingSelection(xcb_connection_t* connection, bool create)
{
    static constexpr char selection[] = "_NET_WM_CM_S0";
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, create ? 0 : 1, static_cast<uint16_t>(std::strlen(selection)), selection);
    const std::unique_ptr<xcb_intern_atom_reply_t, FreeReply> atom(xcb_intern_atom_reply(connection, cookie, nullptr));
    return atom ? atom->atom : xcb_atom_t(XCB_ATOM_NONE);
}

bool x11CompositorRunning(xcb_connection_t* connection)
{
    const xcb_atom_t selection = compositingSelection(connection, false);
    if (selection == XCB_ATOM_NONE)
        return false;
    const xcb_get_selection_owner_cookie_t ownerCookie = xcb_get_selection_owner(connection, selection);
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

CompositingWatch::CompositingWatch(QObject* parent) : QObject(parent)
{
    xcb_connection_t* connection = x11Connection();
    if (!connection)
        return;
    m_composites = x11CompositorRunning(connection);
    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(connection, &xcb_xfixes_id);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!xfixes || !xfixes->present || !screen || !QAbstractEventDispatcher::instance())
        return;
    // Qt has negotiated XFixes on this connection already; asking again is harmless and
    // makes this independent of that.
    const std::unique_ptr<xcb_xfixes_query_version_reply_t, FreeReply> version(xcb_xfixes_query_version_reply(
        connection, xcb_xfixes_query_version(connection, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION), nullptr));
    m_selection = compositingSelection(connection, true);
    if (!version || m_selection == XCB_ATOM_NONE)
        return;
    m_selectionNotify = static_cast<std::uint8_t>(xfixes->first_event + XCB_XFIXES_SELECTION_NOTIFY);
    xcb_xfixes_select_selection_input(connection, screen->root, m_selection,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER
                                          | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY
                                          | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    xcb_flush(connection);
    QAbstractEventDispatcher::instance()->installNativeEventFilter(this);
    m_watching = true;
    // A compositing manager that took over between the first look and the subscription.
    m_composites = x11CompositorRunning(connection);
}

CompositingWatch::~CompositingWatch()
{
    if (m_watching && QAbstractEventDispatcher::instance())
        QAbstractEventDispatcher::instance()->removeNativeEventFilter(this);
}

bool CompositingWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (!m_watching || eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != m_selectionNotify)
        return false;
    const auto* notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event);
    if (notify->selection != m_selection)
        return false;
    const bool composites = notify->owner != XCB_NONE;
    if (composites != m_composites) {
        m_composites = composites;
        emit changed(composites);
    }
    return false; // Qt's own handling of the event goes on
}

} // namespace verticora
