#include "ui/LiveScoreChart.h"

#include "analysis/ThresholdRules.h"
#include "ui/AccessibleValue.h"
#include "ui/UiStyle.h"
#include "visuals/VisualPalette.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QVBoxLayout>

#include <array>
#include <cmath>

namespace verticora {

namespace {

constexpr double window = LiveScoreStore::window;
constexpr double insetLeft = 4;
constexpr double insetRight = 6;
constexpr double insetTop = 6;
constexpr double insetBottom = 6;
constexpr int refreshMilliseconds = 333;
constexpr int reducedRefreshMilliseconds = 1000;

const QString chartHelp = QStringLiteral(
    "Live score: 100 at your chosen height, 85 at yellow and 50 at red. Dotted links span untracked time between "
    "measured readings; they do not count toward your score. Your daily score separately measures time in each zone.");

// A dash pattern in pixels, for a pen of `width` (Qt counts dashes in pen widths).
QList<qreal> dashes(double on, double off, double width)
{
    return {on / width, off / width};
}

} // namespace

PostureBand liveScoreBand(double score)
{
    if (score >= 85)
        return PostureBand::green;
    if (score >= 50)
        return PostureBand::yellow;
    return PostureBand::red;
}

QPointF LiveScoreDrawing::position(WallTime date, double score, WallTime now, QSizeF size)
{
    const double plotWidth = size.width() - insetLeft - insetRight;
    const double plotHeight = size.height() - insetTop - insetBottom;
    return QPointF(plotWidth * (1 + (date - now) / window) + insetLeft, plotHeight * (1 - score / 100) + insetTop);
}

LiveScoreDrawing LiveScoreDrawing::of(const QList<LiveScorePoint>& points, std::optional<LiveScorePoint> endpoint,
                                      WallTime now, QSizeF size)
{
    LiveScoreDrawing drawing;
    std::optional<LiveScorePoint> previous;
    bool gapBefore = false;
    for (const LiveScorePoint& point : points) {
        if (point.date < now - window || point.date > now)
            continue;
        if (!point.value) {
            gapBefore = true;
            continue;
        }
        if (previous) {
            const bool link = gapBefore || point.date - previous->date > maximumTrackingGap;
            drawing.segments.append({position(previous->date, *previous->value, now, size),
                                     position(point.date, *point.value, now, size),
                                     link ? std::nullopt : std::optional(liveScoreBand(*point.value))});
        }
        previous = point;
        gapBefore = false;
    }
    if (endpoint && endpoint->value)
        drawing.marker = LiveScoreMarker{position(endpoint->date, *endpoint->value, now, size),
                                         liveScoreBand(*endpoint->value)};
    return drawing;
}

// The canvas of the line, and the one element assistive technology reads for it.
class LiveScoreChart::Plot : public QWidget, public AccessibleValueSource {
public:
    Plot(LiveScoreChart* chart, LiveScoreStore& store)
        : QWidget(chart)
        , m_chart(chart)
        , m_store(store)
        , m_timer(new QTimer(this))
    {
        setFixedHeight(plotHeight);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setAccessibleName(QStringLiteral("Live score chart, last five minutes"));
        m_timer->setInterval(refreshMilliseconds);
        connect(m_timer, &QTimer::timeout, this, [this] { update(); });
    }

    [[nodiscard]] QTimer* timer() const { return m_timer; }

    QAccessible::Role accessibleRole() const override { return QAccessible::Chart; }
    std::optional<QString> accessibleText(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Value || kind == QAccessible::Description)
            return m_store.historyDescription(m_chart->m_clock(), m_chart->m_inactiveStatus);
        return std::nullopt;
    }

protected:
    void showEvent(QShowEvent* event) override
    {
        QWidget::showEvent(event);
        m_timer->start();
    }

    void hideEvent(QHideEvent* event) override
    {
        QWidget::hideEvent(event);
        m_timer->stop();
    }

    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        m_guides = QPixmap();
    }

    void paintEvent(QPaintEvent*) override
    {
        const double ratio = devicePixelRatioF();
        if (m_guides.isNull() || m_guides.devicePixelRatio() != ratio)
            renderGuides(ratio);
        QPainter painter(this);
        painter.drawPixmap(0, 0, m_guides);
        painter.setRenderHint(QPainter::Antialiasing);

        const LiveScoreDrawing drawing =
            LiveScoreDrawing::of(m_store.points(), m_store.currentEndpoint(m_chart->m_clock()), m_chart->m_clock(),
                                 QSizeF(size()));
        QPainterPath link;
        std::array<QPainterPath, 3> bands;
        for (const LiveScoreSegment& segment : drawing.segments) {
            QPainterPath& path = segment.band ? bands[static_cast<std::size_t>(*segment.band)] : link;
            // Continue the line where it ended so that joins are round, not two caps.
            if (path.elementCount() == 0 || path.currentPosition() != segment.from)
                path.moveTo(segment.from);
            path.lineTo(segment.to);
        }

        QPen linkPen(withAlpha(VisualPalette::ink(), 0.34), 1.3, Qt::CustomDashLine, Qt::RoundCap, Qt::RoundJoin);
        linkPen.setDashPattern(dashes(3, 5, 1.3));
        painter.strokePath(link, linkPen);

        for (const PostureBand band : {PostureBand::green, PostureBand::yellow, PostureBand::red}) {
            const QPainterPath& path = bands[static_cast<std::size_t>(band)];
            if (path.isEmpty())
                continue;
            // Older parts of the line are fainter.
            QLinearGradient shade(0, 0, width(), 0);
            shade.setColorAt(0, withAlpha(VisualPalette::zone(band), 0.42));
            shade.setColorAt(1, VisualPalette::zone(band));
            painter.strokePath(path, QPen(QBrush(shade), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        }

        if (drawing.marker) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(Qt::white);
            painter.drawEllipse(drawing.marker->centre, 5, 5);
            painter.setBrush(VisualPalette::zone(drawing.marker->band));
            painter.drawEllipse(drawing.marker->centre, 3.3, 3.3);
        }
    }

private:
    void renderGuides(double ratio)
    {
        m_guides = QPixmap(size() * ratio);
        m_guides.setDevicePixelRatio(ratio);
        m_guides.fill(Qt::transparent);
        QPainter painter(&m_guides);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor gray = UiColors::guideGray();
        gray.setAlphaF(0.13f);
        QPen pen(gray, 0.5, Qt::CustomDashLine, Qt::FlatCap);
        pen.setDashPattern(dashes(3, 4, 0.5));
        painter.setPen(pen);
        for (const double score : {0.0, 50.0, 100.0}) {
            const double y = LiveScoreDrawing::position(0, score, 0, QSizeF(size())).y();
            painter.drawLine(QPointF(0, y), QPointF(width(), y));
        }
    }

    LiveScoreChart* m_chart;
    LiveScoreStore& m_store;
    QTimer* m_timer;
    QPixmap m_guides; // the three dashed guides, redrawn only on resize
};

LiveScoreChart::LiveScoreChart(LiveScoreStore& store, QWidget* parent)
    : QWidget(parent)
    , m_store(store)
    , m_score(new QLabel(this))
    , m_plot(new Plot(this, store))
{
    setHelp(this, chartHelp);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 10);
    layout->setSpacing(6);

    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(0);
    auto* title = new QLabel(QStringLiteral("Live score"), this);
    title->setFont(uiFont(15, QFont::DemiBold));
    titles->addWidget(title);
    titles->addWidget(secondaryLabel(QStringLiteral("Last 5 minutes"), uiFont(12), this));
    header->addLayout(titles);
    m_score->setFont(uiFont(32, QFont::DemiBold));
    // The desktop's sans fonts have figures of one width; reserving three of them keeps
    // "/ 100" still while the score changes.
    m_score->setAlignment(Qt::AlignRight | Qt::AlignBottom);
    m_score->setMinimumWidth(m_score->fontMetrics().horizontalAdvance(QStringLiteral("100")));
    header->addLayout(figureRow(m_score, secondaryLabel(QStringLiteral("/ 100"), uiFont(14), this), true), 1);
    layout->addLayout(header);
    layout->addWidget(m_plot);

    connect(&m_store, &LiveScoreStore::currentChanged, this, &LiveScoreChart::showCurrent);
    showCurrent();
}

LiveScoreChart::~LiveScoreChart() = default;

void LiveScoreChart::paintEvent(QPaintEvent*)
{
    paintCard(this);
}

void LiveScoreChart::setInactiveStatus(const QString& status)
{
    m_inactiveStatus = status;
}

void LiveScoreChart::setReduceMotion(bool reduce)
{
    m_reduceMotion = reduce;
    m_plot->timer()->setInterval(reduce ? reducedRefreshMilliseconds : refreshMilliseconds);
}

void LiveScoreChart::setClock(WallClock clock)
{
    m_clock = std::move(clock);
    m_plot->update();
}

int LiveScoreChart::refreshInterval() const
{
    return m_plot->timer()->interval();
}

bool LiveScoreChart::refreshing() const
{
    return m_plot->timer()->isActive();
}

QString LiveScoreChart::scoreText() const
{
    return m_score->text();
}

QWidget* LiveScoreChart::plot() const
{
    return m_plot;
}

void LiveScoreChart::showCurrent()
{
    const std::optional<double> current = m_store.current();
    m_score->setText(current ? QString::number(static_cast<long long>(std::lround(*current))) : QStringLiteral("—"));
}

} // namespace verticora
