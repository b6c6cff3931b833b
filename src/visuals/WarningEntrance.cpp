#include "visuals/WarningEntrance.h"

#include "visuals/OverlayView.h"

#include <QGraphicsOpacityEffect>
#include <QTimerEvent>

namespace verticora {

namespace {

constexpr int fadeTickMs = 16;

} // namespace

WarningEntranceView::WarningEntranceView(std::unique_ptr<QWidget> content, const QRect& frame, QWidget* parent)
    : QWidget(parent), m_content(content.release())
{
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TranslucentBackground);
    setAccessibleName(QString());
    setGeometry(frame);
    m_content->setParent(this);
    m_paintedContent = qobject_cast<OverlayView*>(m_content);
    applyGeometryNow(*m_content, QRect(QPoint(), frame.size()));
    applyOpacity(0);
}

WarningEntranceView::~WarningEntranceView() = default;

void WarningEntranceView::appear(bool reduceMotion)
{
    if (m_hasAppeared || m_isCancelled)
        return;
    m_hasAppeared = true;
    m_opacity.set(1);
    if (!reduceMotion) {
        const double now = mediaTime();
        m_opacity.set(0);
        m_opacity.animateTo(1, now, fadeDuration, TimingFunction::easeOut);
        m_fadeTicks.start(fadeTickMs, Qt::PreciseTimer, this);
    }
    applyOpacity(m_opacity.presentation(mediaTime()));
}

void WarningEntranceView::cancel()
{
    m_isCancelled = true;
    m_fadeTicks.stop();
    m_opacity.set(0);
    applyOpacity(0);
}

void WarningEntranceView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    applyGeometryNow(*m_content, rect());
}

void WarningEntranceView::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_fadeTicks.timerId()) {
        QWidget::timerEvent(event);
        return;
    }
    const double now = mediaTime();
    if (!m_opacity.animating(now)) {
        m_fadeTicks.stop();
        m_opacity.removeAnimation();
    }
    applyOpacity(m_opacity.presentation(now));
}

void WarningEntranceView::applyOpacity(double opacity)
{
    // Shown from the start of a fade-in, whose first instants the easing curve rounds to 0.
    const bool shown = opacity > 0 || m_opacity.animating(mediaTime());
    m_content->setVisible(shown);
    if (m_paintedContent) {
        m_paintedContent->setEntranceOpacity(opacity);
        return;
    }
    // Other content (the focus card with its button) fades as a group through an
    // effect, which is dropped once the fade is over.
    if (shown && opacity < 1) {
        if (!m_effect) {
            m_effect = new QGraphicsOpacityEffect(m_content);
            m_content->setGraphicsEffect(m_effect);
        }
        m_effect->setOpacity(opacity);
    } else if (m_effect) {
        m_content->setGraphicsEffect(nullptr);
    }
}

} // namespace verticora
