#include "visuals/DesktopPanelFactory.h"

#include <QGuiApplication>
#include <QScreen>

namespace verticora {

DesktopPanelFactory::DesktopPanelFactory(QObject* parent) : OverlayPanelFactory(parent)
{
    // A display change arrives as a burst of signals; rebuild the panels once for it.
    m_screenChange.setSingleShot(true);
    m_screenChange.setInterval(0);
    connect(&m_screenChange, &QTimer::timeout, this, &OverlayPanelFactory::screensChanged);
    connect(&m_compositing, &CompositingWatch::changed, this, &OverlayPanelFactory::compositingChanged);

    auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!application)
        return;
    connect(application, &QGuiApplication::screenAdded, this, [this](QScreen* screen) {
        watchScreen(screen);
        m_screenChange.start();
    });
    connect(application, &QGuiApplication::screenRemoved, &m_screenChange, qOverload<>(&QTimer::start));
    connect(application, &QGuiApplication::primaryScreenChanged, &m_screenChange, qOverload<>(&QTimer::start));
    connect(application, &QCoreApplication::aboutToQuit, this, &OverlayPanelFactory::aboutToTerminate);
    for (QScreen* screen : QGuiApplication::screens())
        watchScreen(screen);
}

std::vector<ScreenGeometry> DesktopPanelFactory::screens() const
{
    std::vector<ScreenGeometry> result;
    for (const QScreen* screen : QGuiApplication::screens())
        result.push_back({screen->geometry(), screen->availableGeometry()});
    return result;
}

std::optional<std::size_t> DesktopPanelFactory::mainScreenIndex() const
{
    const QList<QScreen*> all = QGuiApplication::screens();
    if (all.isEmpty())
        return std::nullopt;
    const qsizetype index = all.indexOf(QGuiApplication::primaryScreen());
    return static_cast<std::size_t>(index < 0 ? 0 : index);
}

bool DesktopPanelFactory::reduceMotion() const
{
    return reduceMotionEnabled(m_reduceMotion);
}

void DesktopPanelFactory::watchScreen(QScreen* screen)
{
    connect(screen, &QScreen::geometryChanged, &m_screenChange, qOverload<>(&QTimer::start));
    connect(screen, &QScreen::availableGeometryChanged, &m_screenChange, qOverload<>(&QTimer::start));
}

} // namespace verticora
