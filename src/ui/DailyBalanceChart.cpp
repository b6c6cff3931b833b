#include "ui/DailyBalanceChart.h"

#include "ui/ProgressTimeline.h"
#include "ui/UiStyle.h"
#include "visuals/VisualPalette.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <cmath>

namespace verticora {

namespace {

const QString noValue = QStringLiteral("—");

QString percentText(const DailyBalanceSegment& segment)
{
    if (!segment.fraction)
        return noValue;
    return QStringLiteral("%1%").arg(std::lround(*segment.fraction * 100));
}

} // namespace

// The bar of the three shares, a capsule; an empty day shows only its track.
class DailyBalanceChart::Bar : public QWidget {
public:
    explicit Bar(QWidget* parent)
        : QWidget(parent)
    {
        setFixedHeight(14);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

    void setShares(const std::array<DailyBalanceSegment, 3>& segments, const std::array<QColor, 3>& colors)
    {
        m_segments = segments;
        m_colors = colors;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF track = QRectF(rect());
        QPainterPath capsule;
        capsule.addRoundedRect(track, track.height() / 2, track.height() / 2);
        painter.fillPath(capsule, QColor(0, 0, 0, 18));
        painter.setClipPath(capsule);
        for (const DailyBalanceSegment& segment : m_segments) {
            if (segment.end <= segment.start)
                continue;
            const double left = track.left() + segment.start * track.width();
            const double right = track.left() + segment.end * track.width();
            painter.fillRect(QRectF(left, track.top(), right - left, track.height()),
                             m_colors[static_cast<std::size_t>(segment.id)]);
        }
    }

private:
    std::array<DailyBalanceSegment, 3> m_segments{};
    std::array<QColor, 3> m_colors;
};

DailyBalanceChart::DailyBalanceChart(QWidget* parent)
    : QWidget(parent)
    , m_colors{VisualPalette::greenZone(), VisualPalette::yellowZone(), VisualPalette::redZone()}
    , m_total(new QLabel(this))
    , m_bar(new Bar(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);

    QFont captionFont = uiFont(11, QFont::DemiBold);
    captionFont.setLetterSpacing(QFont::AbsoluteSpacing, 0.8);
    layout->addWidget(secondaryLabel(QStringLiteral("TIME IN ZONE"), captionFont, this));

    auto* totalRow = new QVBoxLayout;
    totalRow->setSpacing(0);
    m_total->setFont(uiFont(28, QFont::DemiBold));
    totalRow->addWidget(m_total);
    totalRow->addWidget(secondaryLabel(QStringLiteral("tracked"), uiFont(12), this));
    layout->addLayout(totalRow);
    layout->addWidget(m_bar);

    auto* legend = new QVBoxLayout;
    legend->setSpacing(4);
    for (Legend& entry : m_legend) {
        entry.row = new QWidget(this);
        auto* row = new QHBoxLayout(entry.row);
        row->setContentsMargins(0, 0, 0, 0);
        entry.title = new DotLabel(entry.row);
        entry.title->setFont(uiFont(13, QFont::Medium));
        entry.duration = new QLabel(entry.row);
        entry.duration->setFont(uiFont(13));
        entry.duration->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        entry.percent = secondaryLabel(QString(), uiFont(13), entry.row);
        entry.percent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        entry.percent->setMinimumWidth(entry.percent->fontMetrics().horizontalAdvance(QStringLiteral("100%")) + 4);
        row->addWidget(entry.title, 1);
        row->addWidget(entry.duration);
        row->addSpacing(12);
        row->addWidget(entry.percent);
        legend->addWidget(entry.row);
    }
    layout->addLayout(legend);
    refresh();
}

void DailyBalanceChart::setDay(const DayProgress& day)
{
    if (day == m_day)
        return;
    m_day = day;
    refresh();
}

void DailyBalanceChart::setColors(const std::array<QColor, 3>& colors)
{
    if (colors == m_colors)
        return;
    m_colors = colors;
    refresh();
}

QStringList DailyBalanceChart::legendTexts(int id) const
{
    const Legend& entry = m_legend.at(static_cast<std::size_t>(id));
    return {entry.duration->text(), entry.percent->text()};
}

QString DailyBalanceChart::totalText() const
{
    return m_total->text();
}

void DailyBalanceChart::refresh()
{
    const double total = trackedSeconds(m_day);
    m_total->setText(total > 0 ? ProgressTimeline::duration(total) : noValue);
    setAccessibleName(total > 0 ? DailyBalanceSummary::duration(total) + QStringLiteral(" total tracked time")
                                : QStringLiteral("No tracked time yet"));

    const auto segments = balanceSegments(m_day);
    m_bar->setShares(segments, m_colors);
    for (const DailyBalanceSegment& segment : segments) {
        Legend& entry = m_legend[static_cast<std::size_t>(segment.id)];
        const QString duration = DailyBalanceSummary::duration(segment.seconds);
        const QString percent = percentText(segment);
        entry.title->setText(segment.title);
        entry.title->setDotColor(m_colors[static_cast<std::size_t>(segment.id)]);
        entry.duration->setText(duration);
        entry.percent->setText(percent);
        entry.row->setAccessibleName(segment.fraction
                                         ? segment.title + QStringLiteral(", ") + duration + QStringLiteral(", ") + percent
                                         : segment.title + QStringLiteral(", no tracked time"));
    }
}

} // namespace verticora
