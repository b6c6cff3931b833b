#include "visuals/OverlayPanel.h"

#include "visuals/OverlayView.h"
#include "visuals/WarningEntrance.h"

#include <algorithm>

namespace verticora {

namespace {

Qt::WindowFlags panelFlags(const OverlayPanelOptions& options)
{
    // Bypassing the window manager gives override-redirect windows on X11: placed exactly,
    // on every workspace, never in a task list, never focused.
    Qt::WindowFlags flags = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
        | Qt::WindowDoesNotAcceptFocus | Qt::X11BypassWindowManagerHint;
    if (!options.castsShadow)
        flags |= Qt::NoDropShadowWindowHint;
    if (!options.acceptsMouse)
        flags |= Qt::WindowTransparentForInput;
    return flags;
}

} // namespace

OverlayPanel::OverlayPanel(const OverlayPanelOptions& options, OverlayPanelFactory* factory, bool shaped)
    : QWidget(nullptr, panelFlags(options)), m_options(options), m_factory(factory), m_shaped(shaped)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_X11DoNotAcceptFocus);
    setAttribute(Qt::WA_QuitOnClose, false);
    setAttribute(Qt::WA_TransparentForMouseEvents, !options.acceptsMouse);
    setFocusPolicy(Qt::NoFocus);
    setObjectName(options.identifier);
    setWindowTitle(options.identifier);
    setGeometry(options.rect);
    if (m_shaped)
        setCoverage(QRegion());
}

OverlayPanel::~OverlayPanel()
{
    if (m_factory)
        m_factory->forget(this);
}

void OverlayPanel::setContentView(std::unique_ptr<WarningEntranceView> content)
{
    delete m_content;
    m_content = content.release();
    if (!m_content)
        return;
    m_content->setParent(this);
    applyGeometryNow(*m_content, contentGeometry());
    m_content->show();
    if (auto* view = qobject_cast<OverlayView*>(m_content->content()))
        reportCoverage(*view, view->coverage());
    else
        setCoverage(contentGeometry());
}

std::unique_ptr<WarningEntranceView> OverlayPanel::takeContentView()
{
    WarningEntranceView* content = m_content;
    m_content = nullptr;
    if (content) {
        content->hide();
        content->setParent(nullptr);
    }
    return std::unique_ptr<WarningEntranceView>(content);
}

void OverlayPanel::orderFront()
{
    if (m_closed)
        return;
    show();
    if (m_factory)
        m_factory->raise(this);
    else
        raise();
}

void OverlayPanel::hidePanel()
{
    hide();
}

void OverlayPanel::closePanel()
{
    m_closed = true;
    close();
}

void OverlayPanel::reportCoverage(QWidget& view, const QRegion& region)
{
    auto* panel = qobject_cast<OverlayPanel*>(view.window());
    if (!panel || !panel->m_shaped)
        return;
    panel->setCoverage(region.translated(view.mapTo(panel, QPoint())));
}

void OverlayPanel::setCoverage(const QRegion& region)
{
    if (!m_shaped)
        return;
    // An empty mask would mean "no mask", a whole opaque screen: keep one pixel instead.
    setMask(region.isEmpty() ? QRegion(0, 0, 1, 1) : region);
}

void OverlayPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_content)
        applyGeometryNow(*m_content, contentGeometry());
}

QRect OverlayPanel::contentGeometry() const
{
    return m_options.contentRect.isEmpty() ? rect() : m_options.contentRect;
}

OverlayPanelFactory::OverlayPanelFactory(QObject* parent) : QObject(parent) {}

OverlayPanelFactory::~OverlayPanelFactory() = default;

std::unique_ptr<OverlayPanel> OverlayPanelFactory::createPanel(const OverlayPanelOptions& options)
{
    auto panel = std::make_unique<OverlayPanel>(options, this, !composites());
    m_panels.push_back(panel.get());
    return panel;
}

std::vector<OverlayPanel*> OverlayPanelFactory::livePanels() const
{
    std::vector<OverlayPanel*> result;
    std::copy_if(m_panels.begin(), m_panels.end(), std::back_inserter(result),
                 [](const OverlayPanel* panel) { return !panel->isClosed(); });
    return result;
}

void OverlayPanelFactory::raise(OverlayPanel* panel)
{
    // Keep the list sorted by level with the newest front-most within its level, then
    // restack from this panel upward so that higher levels stay above it.
    std::erase(m_panels, panel);
    auto above = std::find_if(m_panels.begin(), m_panels.end(),
                              [&](const OverlayPanel* other) { return other->level() > panel->level(); });
    const auto position = m_panels.insert(above, panel);
    for (auto it = position; it != m_panels.end(); ++it) {
        if ((*it)->isVisible())
            (*it)->raise();
    }
}

void OverlayPanelFactory::forget(OverlayPanel* panel)
{
    std::erase(m_panels, panel);
}

} // namespace verticora
