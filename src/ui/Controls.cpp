#include "ui/Controls.h"

#include "ui/PageStyle.h"
#include "ui/Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QStyleOptionButton>

#include <algorithm>
#include <cmath>

namespace verticora {

WarningLine::WarningLine(QWidget* parent) : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    auto* symbol = new QLabel(this);
    symbol->setPixmap(symbolPixmap(Symbol::exclamationCircle, 14, VisualPalette::redZone(), devicePixelRatioF()));
    row->addWidget(symbol, 0, Qt::AlignTop);
    m_text = new QLabel(this);
    m_text->setWordWrap(true);
    m_text->setFont(uiFont(12));
    row->addWidget(m_text, 1);
    hide();
}

void WarningLine::setMessage(const std::optional<QString>& message)
{
    if (message)
        style::setTextIfChanged(*m_text, *message);
    setVisible(message.has_value());
}

ToggleSwitch::ToggleSwitch(QWidget* parent) : QAbstractButton(parent)
{
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
}

QSize ToggleSwitch::sizeHint() const
{
    const int textWidth = text().isEmpty() ? 0 : fontMetrics().horizontalAdvance(text()) + 10;
    return {textWidth + trackWidth + 4, std::max(trackHeight, fontMetrics().height()) + 4};
}

void ToggleSwitch::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track(width() - trackWidth - 2, (height() - trackHeight) / 2.0, trackWidth, trackHeight);
    if (!text().isEmpty()) {
        painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
        painter.drawText(QRectF(0, 0, track.left() - 8, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
    }
    painter.setPen(Qt::NoPen);
    QColor trackColor = isChecked() ? VisualPalette::greenZone() : QColor(0, 0, 0, 60);
    if (!isEnabled())
        trackColor.setAlphaF(trackColor.alphaF() * 0.5f);
    painter.setBrush(trackColor);
    painter.drawRoundedRect(track, trackHeight / 2.0, trackHeight / 2.0);
    const double knob = trackHeight - 4;
    const double x = isChecked() ? track.right() - knob - 2 : track.left() + 2;
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(track.adjusted(-2, -2, 2, 2), trackHeight / 2.0 + 2, trackHeight / 2.0 + 2);
    }
}

ValueSlider::ValueSlider(double minimum, double maximum, QWidget* parent)
    : QSlider(Qt::Horizontal, parent), m_minimum(minimum), m_maximum(maximum)
{
    setRange(0, steps);
    setSingleStep(steps / 100);
    setPageStep(steps / 10);
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QSlider::valueChanged, this, [this] {
        if (!m_settingValue)
            emit realValueChanged(realValue());
    });
}

double ValueSlider::realValue() const
{
    return m_minimum + (m_maximum - m_minimum) * value() / steps;
}

void ValueSlider::setRealValue(double value)
{
    // The user's drag wins over values coming back while it lasts.
    if (!std::isfinite(value) || isSliderDown())
        return;
    const double share = (std::clamp(value, m_minimum, m_maximum) - m_minimum) / (m_maximum - m_minimum);
    m_settingValue = true;
    setValue(int(std::lround(share * steps)));
    m_settingValue = false;
}

QString ValueSlider::valueText() const
{
    return m_valueText ? m_valueText(realValue()) : QString::number(realValue(), 'f', 2);
}

std::optional<QString> ValueSlider::accessibleText(QAccessible::Text kind) const
{
    if (kind == QAccessible::Value)
        return valueText();
    return std::nullopt;
}

bool ValueSlider::stepAccessibly(int direction)
{
    triggerAction(direction > 0 ? SliderSingleStepAdd : SliderSingleStepSub);
    return true;
}

} // namespace verticora
