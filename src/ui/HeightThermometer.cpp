#include "ui/HeightThermometer.h"

#include "analysis/PostureBand.h"
#include "ui/AccessibleValue.h"
#include "ui/Symbols.h"
#include "ui/UiStyle.h"
#include "visuals/VisualPalette.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>

namespace verticora {

namespace {

const QString yellowLabel = QStringLiteral("Yellow starts here");
const QString redLabel = QStringLiteral("Red starts here");
const QString markerHint = QStringLiteral("Move up for a closer boundary or down to allow more sinking.");
const QString markerHelp = QStringLiteral(
    "Drag this boundary up to be stricter or down to allow more sinking. When focused, use the arrow keys. "
    "Your chosen height stays fixed.");

// Horizontal layout of the meter, in its own coordinates.
constexpr double barLeft = 15;
constexpr double barWidth = 18;
constexpr double barCentre = barLeft + barWidth / 2;
constexpr double chosenLineLeft = 8;
constexpr double chosenLineRight = 40;
constexpr double tickLeft = 38;
constexpr double tickWidth = 12;
constexpr double labelLeft = 56;
constexpr double handleWidth = 30;
constexpr double handleHeight = 16;
constexpr int statusGap = 10;
constexpr int statusSpacing = 12;

constexpr double dotDiameter = 18;
constexpr double dotOutline = 3;
constexpr int dotMargin = 4; // room for the shadow

} // namespace

double HeightMeterScale::position(double value) const
{
    const double clamped = std::isnan(value) ? 0 : std::clamp(value, 0.0, range);
    return top + clamped / range * travel;
}

double HeightMeterScale::value(double y) const
{
    return (y - top) / travel * range;
}

QString heightMeterLevelText(double value)
{
    // Truncated, but not below what the value means: 0.6 is level 20, though in binary
    // 0.6 / 3 * 100 comes out a hair under 20.
    const double level = value / HeightMeterScale::range * 100;
    const double truncated = std::isfinite(level) ? std::trunc(level + (level >= 0 ? 1e-9 : -1e-9)) : 0;
    return QStringLiteral("Level %1 of 100").arg(static_cast<long long>(truncated));
}

// One boundary: a tick, its label and a grip, as wide as the meter. Dragging it, its
// arrow keys and assistive adjustment all propose a new value to the owner.
class HeightThermometer::BoundaryMarker : public QWidget, public AccessibleValueSource {
public:
    BoundaryMarker(HeightThermometer* meter, bool isRed)
        : QWidget(meter)
        , m_meter(meter)
        , m_isRed(isRed)
    {
        setFocusPolicy(Qt::StrongFocus);
        setCursor(Qt::SizeVerCursor);
        setAccessibleName(label());
        setHelp(this, markerHelp);
        setFont(uiFont(10, QFont::Medium));
    }

    [[nodiscard]] QString label() const { return m_isRed ? redLabel : yellowLabel; }
    [[nodiscard]] double value() const { return m_isRed ? m_meter->red() : m_meter->yellow(); }
    [[nodiscard]] QColor colour() const { return m_isRed ? VisualPalette::redZone() : VisualPalette::yellowZone(); }

    QAccessible::Role accessibleRole() const override { return QAccessible::Slider; }
    std::optional<QString> accessibleText(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Value)
            return heightMeterLevelText(value());
        if (kind == QAccessible::Description)
            return markerHint;
        return std::nullopt;
    }
    bool adjustable() const override { return true; }
    bool stepAccessibly(int direction) override
    {
        propose(value() + direction * keyStep);
        return true;
    }

    // The marker's vertical centre, in widget coordinates.
    [[nodiscard]] int centreOffset() const { return height() / 2; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const double centre = height() / 2.0;
        const QColor colour = this->colour();

        if (hasFocus()) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(withAlpha(colour, 0.10));
            painter.drawRoundedRect(QRectF(tickLeft - 4, centre - 10, width() - tickLeft + 3, 20), 6, 6);
        }

        painter.setPen(Qt::NoPen);
        painter.setBrush(withAlpha(colour, 0.6));
        painter.drawRect(QRectF(tickLeft, centre - 0.5, tickWidth, 1));

        const QRectF handle(width() - handleWidth - 1, centre - handleHeight / 2, handleWidth, handleHeight);
        painter.setPen(QPen(hasFocus() ? colour : withAlpha(colour, 0.45), hasFocus() ? 1.6 : 1));
        painter.setBrush(Qt::white);
        painter.drawRoundedRect(handle, 5, 5);
        drawSymbol(painter, Symbol::grip, handle.adjusted(0, 1, 0, -1), colour);

        painter.setPen(m_isRed ? VisualPalette::redZone() : VisualPalette::ochreText());
        painter.setFont(font());
        const QRectF text(labelLeft, 0, handle.left() - labelLeft - 4, height());
        painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter,
                         fontMetrics().elidedText(label(), Qt::ElideRight, static_cast<int>(text.width())));
    }

    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() != Qt::LeftButton) {
            event->ignore();
            return;
        }
        m_dragging = true;
        setFocus(Qt::MouseFocusReason);
        event->accept();
    }

    void mouseMoveEvent(QMouseEvent* event) override
    {
        if (!m_dragging || !(event->buttons() & Qt::LeftButton))
            return;
        setFocus(Qt::MouseFocusReason);
        // The pointer in the meter's coordinates; this marker moves under it as the owner
        // accepts values, so map through the current geometry.
        const double meterY = mapTo(m_meter, event->position()).y() - m_meter->meterRect().top();
        propose(m_meter->scale().value(meterY));
    }

    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton)
            m_dragging = false;
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        switch (event->key()) {
        case Qt::Key_Up:
        case Qt::Key_Left:
            propose(value() - keyStep);
            break;
        case Qt::Key_Down:
        case Qt::Key_Right:
            propose(value() + keyStep);
            break;
        default:
            QWidget::keyPressEvent(event);
            return;
        }
        event->accept();
    }

    void focusInEvent(QFocusEvent* event) override
    {
        QWidget::focusInEvent(event);
        update();
    }

    void focusOutEvent(QFocusEvent* event) override
    {
        QWidget::focusOutEvent(event);
        m_dragging = false;
        update();
    }

private:
    void propose(double proposed) { emit m_meter->boundaryProposed(proposed, m_isRed); }

    HeightThermometer* m_meter;
    bool m_isRed;
    bool m_dragging = false;
};

// The face's current height: a white-rimmed disc in the colour of its band.
class HeightThermometer::CurrentHeight : public QWidget, public AccessibleValueSource {
public:
    explicit CurrentHeight(QWidget* parent)
        : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAccessibleName(QStringLiteral("Current height"));
        const int side = static_cast<int>(dotDiameter) + 2 * dotMargin;
        setFixedSize(side, side);
    }

    void setBand(PostureBand band)
    {
        if (band == m_band)
            return;
        m_band = band;
        m_sprite = QPixmap();
        update();
        announceAccessibleValue(this, bandName());
    }

    [[nodiscard]] QString bandName() const
    {
        switch (m_band) {
        case PostureBand::green:
            return QStringLiteral("Green");
        case PostureBand::yellow:
            return QStringLiteral("Yellow");
        case PostureBand::red:
            break;
        }
        return QStringLiteral("Red");
    }

    QAccessible::Role accessibleRole() const override { return QAccessible::Indicator; }
    std::optional<QString> accessibleText(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Value)
            return bandName();
        return std::nullopt;
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        const double ratio = devicePixelRatioF();
        if (m_sprite.isNull() || m_sprite.devicePixelRatio() != ratio)
            m_sprite = render(ratio);
        QPainter(this).drawPixmap(0, 0, m_sprite);
    }

private:
    [[nodiscard]] QPixmap render(double ratio) const
    {
        QPixmap sprite(size() * ratio);
        sprite.setDevicePixelRatio(ratio);
        sprite.fill(Qt::transparent);
        QPainter painter(&sprite);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPointF centre(width() / 2.0, height() / 2.0);
        const double radius = dotDiameter / 2;
        // A soft shadow: black at 0.2 fading out just beyond the rim, a little below it.
        QRadialGradient shadow(centre + QPointF(0, 1), radius + dotMargin);
        shadow.setColorAt(0, QColor(0, 0, 0, 51));
        shadow.setColorAt(radius / (radius + dotMargin), QColor(0, 0, 0, 40));
        shadow.setColorAt(1, QColor(0, 0, 0, 0));
        painter.setPen(Qt::NoPen);
        painter.setBrush(shadow);
        painter.drawEllipse(centre + QPointF(0, 1), radius + dotMargin, radius + dotMargin);
        painter.setBrush(Qt::white);
        painter.drawEllipse(centre, radius, radius);
        painter.setBrush(VisualPalette::zone(m_band));
        painter.drawEllipse(centre, radius - dotOutline, radius - dotOutline);
        return sprite;
    }

    PostureBand m_band = PostureBand::green;
    QPixmap m_sprite;
};

HeightThermometer::HeightThermometer(QWidget* parent)
    : QWidget(parent)
    , m_yellowMarker(new BoundaryMarker(this, false))
    , m_redMarker(new BoundaryMarker(this, true))
    , m_current(new CurrentHeight(this))
    , m_status(new DotLabel(this))
    , m_hint(secondaryLabel(QStringLiteral("Drag the levels ↕"), uiFont(10), this))
{
    m_current->hide();
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    refreshStatus();
    layoutChildren();
}

HeightThermometer::~HeightThermometer() = default;

void HeightThermometer::setScore(std::optional<double> score)
{
    if (score && !std::isfinite(*score))
        score.reset();
    if (score == m_score)
        return;
    m_score = score;
    refreshStatus();
    layoutChildren();
}

void HeightThermometer::setLevels(double yellow, double red)
{
    if (yellow == m_yellow && red == m_red)
        return;
    const bool yellowMoved = yellow != m_yellow;
    const bool redMoved = red != m_red;
    m_yellow = yellow;
    m_red = red;
    invalidateBar();
    refreshStatus();
    layoutChildren();
    if (yellowMoved)
        announceAccessibleValue(m_yellowMarker, heightMeterLevelText(yellow));
    if (redMoved)
        announceAccessibleValue(m_redMarker, heightMeterLevelText(red));
}

void HeightThermometer::setInactiveStatus(const QString& status)
{
    if (status == m_inactiveStatus)
        return;
    m_inactiveStatus = status;
    refreshStatus();
    layoutChildren();
}

void HeightThermometer::setFillsAvailableHeight(bool fills)
{
    if (fills == m_fillsAvailableHeight)
        return;
    m_fillsAvailableHeight = fills;
    setSizePolicy(QSizePolicy::Preferred, fills ? QSizePolicy::Expanding : QSizePolicy::Fixed);
    updateGeometry();
}

std::optional<bool> HeightThermometer::focusedBoundary() const
{
    if (m_yellowMarker->hasFocus())
        return false;
    if (m_redMarker->hasFocus())
        return true;
    return std::nullopt;
}

QWidget* HeightThermometer::marker(bool isRed) const
{
    return isRed ? static_cast<QWidget*>(m_redMarker) : m_yellowMarker;
}

QWidget* HeightThermometer::currentHeightDot() const
{
    return m_current;
}

QString HeightThermometer::statusText() const
{
    return m_status->text();
}

int HeightThermometer::statusAreaHeight(bool stacked) const
{
    const int status = m_status->sizeHint().height();
    const int hint = m_hint->sizeHint().height();
    return stacked ? status + 2 + hint : std::max(status, hint);
}

bool HeightThermometer::statusStacked() const
{
    const int room = width() - 2 * padding;
    return m_status->sizeHint().width() + statusSpacing + m_hint->sizeHint().width() > room;
}

QRect HeightThermometer::meterRect() const
{
    const int status = statusAreaHeight(statusStacked());
    const int height = std::max(minimumMeterHeight, this->height() - 2 * padding - statusGap - status);
    return QRect(padding, padding, std::max(0, width() - 2 * padding), height);
}

QSize HeightThermometer::minimumSizeHint() const
{
    const int width = 2 * padding + static_cast<int>(labelLeft + handleWidth) + 110;
    return QSize(width, 2 * padding + minimumMeterHeight + statusGap + statusAreaHeight(true));
}

QSize HeightThermometer::sizeHint() const
{
    return QSize(std::max(260, minimumSizeHint().width()), minimumSizeHint().height());
}

void HeightThermometer::refreshStatus()
{
    if (!m_score) {
        m_status->setDotColor(UiColors::secondaryText());
        m_status->setText(m_inactiveStatus);
        QPalette palette = m_status->palette();
        palette.setColor(QPalette::WindowText, UiColors::secondaryText());
        m_status->setPalette(palette);
        m_status->setFont(uiFont(11));
        return;
    }
    const PostureBand band = bandOf(*m_score, m_yellow, m_red);
    static constexpr const char* texts[] = {"You’re in green", "You’re in yellow", "You’re in red"};
    m_status->setText(QString::fromUtf8(texts[static_cast<int>(band)]));
    m_status->setDotColor(VisualPalette::zone(band));
    QPalette palette = m_status->palette();
    palette.setColor(QPalette::WindowText,
                     band == PostureBand::yellow ? VisualPalette::ochreText() : VisualPalette::zone(band));
    m_status->setPalette(palette);
    m_status->setFont(uiFont(11, QFont::DemiBold));
    m_current->setBand(band);
}

void HeightThermometer::layoutChildren()
{
    const QRect meter = meterRect();
    // A status line that starts or stops wrapping changes the meter's height.
    if (meter != m_backgroundMeter) {
        m_backgroundValid = false;
        update();
    }
    const HeightMeterScale scale = this->scale();
    const double yellowY = scale.position(m_yellow);
    const double redY = scale.position(m_red);
    const int grab = static_cast<int>(std::clamp(std::abs(yellowY - redY) - 1, 18.0, 32.0));
    const auto place = [&](QWidget* marker, double y) {
        marker->setGeometry(meter.left(), meter.top() + static_cast<int>(std::lround(y)) - grab / 2, meter.width(),
                            grab);
    };
    place(m_yellowMarker, yellowY);
    place(m_redMarker, redY);

    if (m_score) {
        const double y = meter.top() + scale.position(*m_score);
        m_current->move(static_cast<int>(std::lround(meter.left() + barCentre - m_current->width() / 2.0)),
                        static_cast<int>(std::lround(y - m_current->height() / 2.0)));
        m_current->raise();
        m_current->show();
    } else {
        m_current->hide();
    }

    const bool stacked = statusStacked();
    const int statusTop = meter.bottom() + 1 + statusGap;
    const QSize status = m_status->sizeHint();
    const QSize hint = m_hint->sizeHint();
    const int room = meter.width();
    if (stacked) {
        m_status->setGeometry(padding, statusTop, std::min(status.width(), room), status.height());
        m_hint->setGeometry(padding, statusTop + status.height() + 2, std::min(hint.width(), room), hint.height());
    } else {
        const int row = std::max(status.height(), hint.height());
        m_status->setGeometry(padding, statusTop + (row - status.height()) / 2, status.width(), status.height());
        m_hint->setGeometry(padding + room - hint.width(), statusTop + (row - hint.height()) / 2, hint.width(),
                            hint.height());
    }
}

void HeightThermometer::invalidateBar()
{
    m_backgroundValid = false;
    const QRect meter = meterRect();
    update(QRect(meter.left() + static_cast<int>(barLeft) - 1, meter.top(), static_cast<int>(barWidth) + 2,
                 meter.height()));
}

void HeightThermometer::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_backgroundValid = false; // the panel is as large as the widget
    layoutChildren();
}

void HeightThermometer::renderBackground()
{
    const double ratio = devicePixelRatioF();
    m_background = QPixmap(size() * ratio);
    m_background.setDevicePixelRatio(ratio);
    m_background.fill(Qt::transparent);
    QPainter painter(&m_background);
    painter.setRenderHint(QPainter::Antialiasing);

    painter.setPen(QPen(UiColors::cardBorder(), 1));
    painter.setBrush(UiColors::cardBackground());
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 14, 14);

    const QRect meter = meterRect();
    m_backgroundMeter = meter;
    painter.translate(meter.topLeft());
    const HeightMeterScale scale = this->scale();

    // The bar: green down to yellow, amber down to red, coral for the rest.
    const QRectF bar(barLeft, HeightMeterScale::top, barWidth, meter.height() - HeightMeterScale::top);
    QPainterPath capsule;
    capsule.addRoundedRect(bar, barWidth / 2, barWidth / 2);
    painter.save();
    painter.setClipPath(capsule);
    painter.setPen(Qt::NoPen);
    const double yellowEnd = HeightMeterScale::top + m_yellow * travel / HeightMeterScale::range;
    const double redEnd = yellowEnd + (m_red - m_yellow) * travel / HeightMeterScale::range;
    painter.fillRect(QRectF(bar.left(), bar.top(), barWidth, std::max(0.0, yellowEnd - bar.top())),
                     withAlpha(VisualPalette::greenZone(), 0.38));
    painter.fillRect(QRectF(bar.left(), yellowEnd, barWidth, std::max(0.0, redEnd - yellowEnd)),
                     withAlpha(VisualPalette::yellowZone(), 0.38));
    painter.fillRect(QRectF(bar.left(), redEnd, barWidth, std::max(0.0, bar.bottom() - redEnd)),
                     withAlpha(VisualPalette::redZone(), 0.38));
    painter.restore();

    // The chosen height: a dashed line across the top of the bar, captioned above it.
    QPen dashed(VisualPalette::greenZone(), 1, Qt::CustomDashLine, Qt::FlatCap);
    dashed.setDashPattern({3, 3});
    painter.setPen(dashed);
    const double top = scale.position(0) + 0.5;
    painter.drawLine(QPointF(chosenLineLeft, top), QPointF(chosenLineRight, top));
    QFont caption = uiFont(8, QFont::Bold);
    caption.setLetterSpacing(QFont::AbsoluteSpacing, 0.8);
    painter.setFont(caption);
    painter.setPen(VisualPalette::greenZone());
    // Clear of the current-height circle (9 points and its outline) that sits on the line at the chosen height.
    painter.drawText(QRectF(chosenLineLeft, 0, meter.width() - chosenLineLeft, top - 12),
                     Qt::AlignLeft | Qt::AlignBottom, QStringLiteral("CHOSEN HEIGHT"));
    m_backgroundValid = true;
}

void HeightThermometer::paintEvent(QPaintEvent* event)
{
    if (!m_backgroundValid || m_background.devicePixelRatio() != devicePixelRatioF())
        renderBackground();
    QPainter painter(this);
    const QRect dirty = event->rect();
    const double ratio = m_background.devicePixelRatio();
    painter.drawPixmap(dirty, m_background,
                       QRectF(dirty.x() * ratio, dirty.y() * ratio, dirty.width() * ratio, dirty.height() * ratio));
}

} // namespace verticora
