#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QRegion>
#include <QString>
#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

namespace verticora {

class OverlayPanelFactory;
class WarningEntranceView;

// Stacking levels among our own panels: halo below focus card below menu-bar glow.
namespace panelLevel {
inline constexpr int halo = 3;
inline constexpr int focusCard = 4;
inline constexpr int menuBarGlow = 26;
} // namespace panelLevel

struct OverlayPanelOptions {
    QRect rect;                  // global, top-left origin
    QRect contentRect;           // where the content goes in the panel; empty: all of it
    int level = panelLevel::halo;
    bool acceptsMouse = false;   // the focus card alone takes clicks
    bool castsShadow = false;
    QString identifier;
};

// One screen as the panels see it: its full frame and the part ordinary windows may use
// (without the top panel and docks), global coordinates with a top-left origin.
struct ScreenGeometry {
    QRect frame;
    QRect availableFrame;

    friend bool operator==(const ScreenGeometry&, const ScreenGeometry&) = default;
};

// A frameless, always-on-top window that never takes focus, is transparent where nothing
// is drawn and lets clicks through unless told otherwise. It carries one
// WarningEntranceView as its content. Created by an OverlayPanelFactory; main thread only.
class OverlayPanel : public QWidget {
    Q_OBJECT
public:
    OverlayPanel(const OverlayPanelOptions& options, OverlayPanelFactory* factory, bool shaped);
    ~OverlayPanel() override;

    [[nodiscard]] const OverlayPanelOptions& options() const { return m_options; }
    [[nodiscard]] int level() const { return m_options.level; }
    [[nodiscard]] bool isClosed() const { return m_closed; }
    // Shows only the part its content paints: a translucent full-screen window paints
    // opaque on X11 without a compositing manager.
    [[nodiscard]] bool isShaped() const { return m_shaped; }

    void setContentView(std::unique_ptr<WarningEntranceView> content);
    [[nodiscard]] WarningEntranceView* contentView() const { return m_content; }
    std::unique_ptr<WarningEntranceView> takeContentView();

    // Shows the panel above ordinary windows and above our panels of a lower level,
    // without activating the application.
    void orderFront();
    void hidePanel();
    void closePanel();

    // Called by a content view with the region it paints, in its own coordinates.
    static void reportCoverage(QWidget& view, const QRegion& region);
    void setCoverage(const QRegion& region);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    [[nodiscard]] QRect contentGeometry() const;

    OverlayPanelOptions m_options;
    QPointer<OverlayPanelFactory> m_factory;
    bool m_shaped = false;
    bool m_closed = false;
    WarningEntranceView* m_content = nullptr; // child, owned through the widget tree
};

// Where panels come from: the screens, the reduce-motion setting, and the panels
// themselves, kept in stacking order. The desktop implementation is DesktopPanelFactory;
// tests substitute screens. Emits screensChanged when screens come, go or change shape,
// compositingChanged when a compositing manager starts or stops, and aboutToTerminate when
// the application quits; panels are to be rebuilt on the first two.
class OverlayPanelFactory : public QObject {
    Q_OBJECT
public:
    explicit OverlayPanelFactory(QObject* parent = nullptr);
    ~OverlayPanelFactory() override;

    // In the platform's order; empty when there is no screen.
    [[nodiscard]] virtual std::vector<ScreenGeometry> screens() const = 0;
    // Index into screens() of the main screen; none without a screen.
    [[nodiscard]] virtual std::optional<std::size_t> mainScreenIndex() const = 0;
    [[nodiscard]] virtual bool reduceMotion() const = 0;
    // Whether translucent windows are composited. Without, new panels are shaped to what
    // they paint and the reminders draw only solid shapes (see SolidShapes.h).
    [[nodiscard]] virtual bool composites() const { return true; }

    std::unique_ptr<OverlayPanel> createPanel(const OverlayPanelOptions& options);
    // Panels that exist and are not closed, bottom to top.
    [[nodiscard]] std::vector<OverlayPanel*> livePanels() const;

signals:
    void screensChanged();
    void compositingChanged();
    void aboutToTerminate();

private:
    friend class OverlayPanel;
    void raise(OverlayPanel* panel);
    void forget(OverlayPanel* panel);

    std::vector<OverlayPanel*> m_panels; // bottom to top
};

} // namespace verticora
