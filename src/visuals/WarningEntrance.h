#pragma once

#include "visuals/Animation.h"

#include <QBasicTimer>
#include <QPointer>
#include <QWidget>

#include <memory>

class QGraphicsOpacityEffect;

namespace verticora {

class OverlayView;

// The wrapper every alert panel puts around its content: the content fades in once
// (0.4 s, ease-out) and, once cancelled, stays invisible for good, so a panel being torn
// down can never flash back. Invisible until `appear`.
class WarningEntranceView : public QWidget {
    Q_OBJECT
public:
    static constexpr double fadeDuration = 0.4;

    WarningEntranceView(std::unique_ptr<QWidget> content, const QRect& frame, QWidget* parent = nullptr);
    ~WarningEntranceView() override;

    [[nodiscard]] bool hasAppeared() const { return m_hasAppeared; }
    [[nodiscard]] bool isCancelled() const { return m_isCancelled; }
    [[nodiscard]] QWidget* content() const { return m_content; }

    // The opacity the content ends at (0 or 1) and, while fading, the one on screen.
    [[nodiscard]] double opacity() const { return m_opacity.value(); }
    [[nodiscard]] double presentationOpacity() const { return m_opacity.presentation(mediaTime()); }
    // The fade ("zone-warning-entrance"), while it runs.
    [[nodiscard]] const std::optional<TimedChange>& entranceAnimation() const { return m_opacity.animation(); }

    void appear(bool reduceMotion);
    void cancel();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void applyOpacity(double opacity);

    bool m_hasAppeared = false;
    bool m_isCancelled = false;
    QWidget* m_content = nullptr; // child, owned through the widget tree
    OverlayView* m_paintedContent = nullptr;
    QPointer<QGraphicsOpacityEffect> m_effect;
    AnimatedValue<double> m_opacity{0.0};
    QBasicTimer m_fadeTicks;
};

} // namespace verticora
