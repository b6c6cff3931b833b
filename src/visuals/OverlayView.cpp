#include "visuals/OverlayView.h"

#include "visuals/OverlayPanel.h"

#include <QCoreApplication>
#include <QResizeEvent>
#include <QTimerEvent>

namespace verticora {

OverlayView::OverlayView(ReduceMotionSource reduceMotion, QWidget* parent)
    : QWidget(parent), m_reduceMotion(std::move(reduceMotion))
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::NoFocus);
    // The frame starts empty: the hosting wrapper sizes the view.
    resize(0, 0);
}

void OverlayView::setEntranceOpacity(double opacity)
{
    if (opacity == m_entranceOpacity)
        return;
    m_entranceOpacity = opacity;
    update();
}

void OverlayView::setSolidArea(std::optional<QRect> area)
{
    if (area == m_solidArea)
        return;
    m_solidArea = area;
    solidChanged();
    update();
    coverageChanged();
}

void OverlayView::coverageChanged()
{
    OverlayPanel::reportCoverage(*this, coverage());
}

void OverlayView::runTicks(int intervalMs)
{
    if (m_ticks.isActive() && m_tickInterval == intervalMs)
        return;
    m_tickInterval = intervalMs;
    m_ticks.start(intervalMs, Qt::CoarseTimer, this);
}

void OverlayView::stopTicks()
{
    m_ticks.stop();
}

void OverlayView::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_ticks.timerId()) {
        tick();
        return;
    }
    QWidget::timerEvent(event);
}

void OverlayView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    setAttached(true);
}

void OverlayView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    setAttached(false);
}

void OverlayView::setAttached(bool attached)
{
    if (attached == m_attached)
        return;
    m_attached = attached;
    attachedChanged();
}

void applyGeometryNow(QWidget& widget, const QRect& geometry)
{
    const QSize oldSize = widget.size();
    widget.setGeometry(geometry);
    if (widget.testAttribute(Qt::WA_PendingResizeEvent)) {
        widget.setAttribute(Qt::WA_PendingResizeEvent, false);
        QResizeEvent event(geometry.size(), oldSize);
        QCoreApplication::sendEvent(&widget, &event);
    }
}

} // namespace verticora
