#include "visuals/FocusCard.h"

#include "visuals/OverlayPanel.h"
#include "visuals/SolidShapes.h"
#include "visuals/VisualPalette.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace verticora {

namespace {

constexpr int outerMargin = 7;
constexpr int inset = 28;
constexpr double cornerRadius = 26;
constexpr int spacing = 16;
constexpr int messageWidth = 370;

QFont systemFont(double pixelSize, QFont::Weight weight = QFont::Normal)
{
    QFont font;
    font.setPixelSize(static_cast<int>(std::lround(pixelSize)));
    font.setWeight(weight);
    return font;
}

// The "arrow.up" symbol: a thin upward arrow in the accent colour.
class ArrowSymbol : public QWidget {
public:
    explicit ArrowSymbol(double size, QWidget* parent = nullptr) : QWidget(parent), m_size(size)
    {
        setFixedSize(static_cast<int>(std::ceil(size * 0.8)), static_cast<int>(std::ceil(size)));
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(DesktopFocusCard::accent(), std::max(1.2, m_size / 26), Qt::SolidLine, Qt::RoundCap,
                            Qt::RoundJoin));
        const double cx = width() / 2.0;
        const double top = m_size * 0.12;
        const double bottom = m_size * 0.92;
        const double arm = m_size * 0.32;
        QPainterPath path;
        path.moveTo(cx, bottom);
        path.lineTo(cx, top);
        path.moveTo(cx - arm, top + arm);
        path.lineTo(cx, top);
        path.lineTo(cx + arm, top + arm);
        painter.drawPath(path);
    }

private:
    double m_size;
};

// A one-line title that shrinks to fit, down to 80 % of its size, then elides.
class FittingTitle : public QWidget {
public:
    FittingTitle(QString text, QWidget* parent = nullptr) : QWidget(parent), m_text(std::move(text))
    {
        m_font.setFamily(QStringLiteral("serif"));
        m_font.setStyleHint(QFont::Serif);
        m_font.setPixelSize(static_cast<int>(DesktopFocusCard::titleSize));
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        setFixedHeight(QFontMetrics(m_font).height());
    }

    [[nodiscard]] double fittedSize() const
    {
        const double natural = QFontMetricsF(m_font).horizontalAdvance(m_text);
        if (natural <= 0 || natural <= width())
            return DesktopFocusCard::titleSize;
        const double scale = std::max(width() / natural, DesktopFocusCard::titleMinimumScale);
        return DesktopFocusCard::titleSize * scale;
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QFont font = m_font;
        font.setPixelSize(static_cast<int>(std::floor(fittedSize())));
        QPainter painter(this);
        painter.setFont(font);
        painter.setPen(palette().color(QPalette::WindowText));
        const QString shown = QFontMetrics(font).elidedText(m_text, Qt::ElideRight, width());
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, shown);
    }

private:
    QString m_text;
    QFont m_font;
};

// Word-wrapped lines with extra spacing between them, at most `maximumWidth` wide: one
// line where there is room, more where there is not.
class SpacedParagraph : public QWidget {
public:
    SpacedParagraph(QString text, const QFont& font, double lineGap, int maximumWidth, Qt::Alignment alignment,
                    QWidget* parent = nullptr)
        : QWidget(parent), m_text(std::move(text)), m_lineGap(lineGap), m_alignment(alignment)
    {
        setFont(font);
        setMaximumWidth(maximumWidth);
        QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
    }

    [[nodiscard]] bool hasHeightForWidth() const override { return true; }
    [[nodiscard]] int heightForWidth(int width) const override
    {
        return static_cast<int>(std::ceil(lines(width).size() * lineHeight() - m_lineGap));
    }
    [[nodiscard]] QSize sizeHint() const override
    {
        const int width = std::min(maximumWidth(), QFontMetrics(font()).horizontalAdvance(m_text) + 1);
        return {width, heightForWidth(width)};
    }
    [[nodiscard]] QSize minimumSizeHint() const override { return {0, heightForWidth(maximumWidth())}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setFont(font());
        painter.setPen(palette().color(QPalette::WindowText));
        double y = 0;
        for (const QString& line : lines(width())) {
            painter.drawText(QRectF(0, y, width(), lineHeight()), m_alignment | Qt::AlignTop, line);
            y += lineHeight();
        }
    }

private:
    [[nodiscard]] double lineHeight() const { return QFontMetricsF(font()).lineSpacing() + m_lineGap; }

    [[nodiscard]] QStringList lines(int width) const
    {
        const QFontMetrics metrics(font());
        QStringList result;
        QString current;
        for (const QString& word : m_text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QString candidate = current.isEmpty() ? word : current + QLatin1Char(' ') + word;
            if (!current.isEmpty() && metrics.horizontalAdvance(candidate) > width) {
                result << current;
                current = word;
            } else {
                current = candidate;
            }
        }
        if (!current.isEmpty())
            result << current;
        return result;
    }

    QString m_text;
    double m_lineGap;
    Qt::Alignment m_alignment;
};

} // namespace

DesktopFocusCard::DesktopFocusCard(std::function<void()> close, QWidget* parent)
    : QWidget(parent), m_close(std::move(close))
{
    setAttribute(Qt::WA_TranslucentBackground);
    QPalette colors = palette();
    colors.setColor(QPalette::WindowText, VisualPalette::ink());
    colors.setColor(QPalette::Text, VisualPalette::ink());
    setPalette(colors);

    auto* content = new QVBoxLayout(this);
    content->setContentsMargins(outerMargin + inset, outerMargin + inset, outerMargin + inset, outerMargin + inset);
    content->setSpacing(spacing);
    content->addStretch(1);

    auto* headerRow = new QHBoxLayout;
    auto* headerLabel = new QLabel(header());
    QFont headerFont = systemFont(9, QFont::Bold);
    headerFont.setLetterSpacing(QFont::AbsoluteSpacing, 1.8);
    headerLabel->setFont(headerFont);
    headerRow->addWidget(headerLabel);
    headerRow->addStretch(1);
    content->addLayout(headerRow);

    content->addWidget(new ArrowSymbol(33), 0, Qt::AlignHCenter);

    m_title = new FittingTitle(title());
    content->addWidget(m_title);

    content->addWidget(new SpacedParagraph(message(), systemFont(13), 4, messageWidth, Qt::AlignHCenter), 0,
                       Qt::AlignHCenter);

    auto* actionRow = new QHBoxLayout;
    actionRow->setSpacing(12);
    actionRow->addStretch(1);
    m_button = new QPushButton(buttonText());
    m_button->setFont(systemFont(13, QFont::DemiBold));
    m_button->setCursor(Qt::PointingHandCursor);
    m_button->setFocusPolicy(Qt::NoFocus);
    m_button->setFlat(true);
    m_button->setStyleSheet(QStringLiteral("QPushButton { color: white; background: %1; border: none; border-radius: 10px;"
                                           " padding: 13px 26px; }"
                                           "QPushButton:pressed { background: %2; }")
                                .arg(styleSheetColor(VisualPalette::ink()),
                                     styleSheetColor(VisualPalette::ink().darker(130))));
    connect(m_button, &QPushButton::clicked, this, [this] {
        if (m_close)
            m_close();
    });
    actionRow->addWidget(m_button);
    auto* footnoteLabel = new SpacedParagraph(footnote(), systemFont(10), 0, QWIDGETSIZE_MAX, Qt::AlignLeft);
    footnoteLabel->setObjectName(QStringLiteral("footnote"));
    QPalette faded = footnoteLabel->palette();
    QColor footnoteColor = VisualPalette::ink();
    footnoteColor.setAlphaF(0.75f);
    faded.setColor(QPalette::WindowText, footnoteColor);
    footnoteLabel->setPalette(faded);
    actionRow->addWidget(footnoteLabel, 0, Qt::AlignVCenter);
    actionRow->addStretch(1);
    content->addLayout(actionRow);
    content->addStretch(1);
}

double DesktopFocusCard::titleFontSize() const
{
    return static_cast<const FittingTitle*>(m_title)->fittedSize();
}

QRectF DesktopFocusCard::cardRect() const
{
    return QRectF(rect()).adjusted(outerMargin, outerMargin, -outerMargin, -outerMargin);
}

void DesktopFocusCard::setSolid(bool solid)
{
    if (solid == m_solid)
        return;
    m_solid = solid;
    update();
    reportShape();
}

void DesktopFocusCard::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRectF card = cardRect();
    QPainterPath shape;
    shape.addRoundedRect(card, cornerRadius, cornerRadius);
    QColor tint = cardTint();
    tint.setAlphaF(0.72f);
    if (m_solid) {
        // The window is cut to the card; everything inside it is opaque, even the edge
        // pixels an antialiased fill would leave half transparent (they would show dark).
        painter.fillRect(rect(), QColor(246, 244, 242));
        painter.fillRect(rect(), tint);
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing);

    // A soft shadow inside the outer margin: the panel is the card's size.
    painter.setPen(Qt::NoPen);
    for (int step = outerMargin; step >= 1; --step) {
        painter.setBrush(QColor(0, 0, 0, 6));
        painter.drawRoundedRect(card.adjusted(-step, -step + 2, step, step + 2), cornerRadius + step, cornerRadius + step);
    }

    // The platform's translucent material, then the card tint above it.
    painter.fillPath(shape, QColor(246, 244, 242, 230));
    painter.fillPath(shape, tint);
    painter.setPen(QPen(QColor(255, 255, 255, 153), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(shape);
}

void DesktopFocusCard::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    reportShape();
}

void DesktopFocusCard::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    reportShape();
}

QRegion DesktopFocusCard::shape() const
{
    if (m_solid)
        return solid::roundedShape(cardRect(), cornerRadius);
    return solid::roundedShape(cardRect().adjusted(-outerMargin, -outerMargin, outerMargin, outerMargin),
                               cornerRadius + outerMargin);
}

void DesktopFocusCard::reportShape()
{
    OverlayPanel::reportCoverage(*this, shape());
}

} // namespace verticora
