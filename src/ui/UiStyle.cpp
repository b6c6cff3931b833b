#include "ui/UiStyle.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace verticora {

QFont uiFont(double pixelSize, QFont::Weight weight)
{
    QFont font;
    font.setPixelSize(static_cast<int>(std::lround(pixelSize)));
    font.setWeight(weight);
    return font;
}

void setHelp(QWidget* widget, const QString& text)
{
    widget->setToolTip(text);
    widget->setWhatsThis(text);
}

void paintCard(QWidget* widget, double radius)
{
    QPainter painter(widget);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(UiColors::cardBorder(), 1));
    painter.setBrush(UiColors::cardBackground());
    painter.drawRoundedRect(QRectF(widget->rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
}

CardFrame::CardFrame(QWidget* parent)
    : QWidget(parent)
{
}

void CardFrame::paintEvent(QPaintEvent*)
{
    paintCard(this);
}

QLabel* secondaryLabel(const QString& text, const QFont& font, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, UiColors::secondaryText());
    label->setPalette(palette);
    return label;
}

QHBoxLayout* figureRow(QLabel* figure, QLabel* unit, bool trailing)
{
    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    // Both sit on the bottom of the row; the smaller text is lifted by the difference in
    // descent so that the baselines meet.
    const int lift = std::max(0, figure->fontMetrics().descent() - unit->fontMetrics().descent());
    unit->setContentsMargins(0, 0, 0, lift);
    if (trailing)
        row->addStretch();
    row->addWidget(figure, 0, Qt::AlignBottom);
    row->addWidget(unit, 0, Qt::AlignBottom);
    if (!trailing)
        row->addStretch();
    return row;
}

DotLabel::DotLabel(QWidget* parent)
    : QLabel(parent)
    , m_dotColor(UiColors::secondaryText())
{
    setIndent(dotSize + dotGap);
}

void DotLabel::setDotColor(const QColor& color)
{
    if (m_dotColor == color)
        return;
    m_dotColor = color;
    update(QRect(0, 0, dotSize + 2, height()));
}

void DotLabel::paintEvent(QPaintEvent* event)
{
    QLabel::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_dotColor);
    // Beside the first line when the text wraps.
    const double centre = wordWrap() ? contentsRect().top() + QFontMetricsF(font()).height() / 2 : height() / 2.0;
    painter.drawEllipse(QPointF(dotSize / 2.0 + 0.5, centre), dotSize / 2.0, dotSize / 2.0);
}

} // namespace verticora
