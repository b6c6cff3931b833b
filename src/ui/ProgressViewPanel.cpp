#include "ui/ProgressViewPanel.h"

#include "store/ProgressStore.h"
#include "ui/DailyBalanceChart.h"
#include "ui/ProgressTimeline.h"
#include "ui/Symbols.h"
#include "ui/UiStyle.h"
#include "visuals/VisualPalette.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyleOptionFocusRect>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace verticora {

namespace {

const QString noValue = QStringLiteral("—");

QString scoreOrDash(const std::optional<int>& score)
{
    return score ? QString::number(*score) : noValue;
}

} // namespace

// One day of the week strip: its weekday and score. Tapping it shows that day.
class ProgressViewPanel::DayCell : public QAbstractButton {
public:
    explicit DayCell(QWidget* parent)
        : QAbstractButton(parent)
    {
        setCheckable(true);
        setFocusPolicy(Qt::StrongFocus);
        setCursor(Qt::PointingHandCursor);
        setMinimumSize(64, 62);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

    void present(const QDate& date, const DayProgress* day, bool selected, bool future)
    {
        const std::optional<int> score = day ? dailyScore(*day) : std::nullopt;
        const double tracked = day ? trackedSeconds(*day) : 0;
        const QString weekday = ProgressTimeline::title(date, QStringLiteral("ddd"));
        const QString scoreText = scoreOrDash(score);
        if (weekday != m_weekday || scoreText != m_score) {
            m_weekday = weekday;
            m_score = scoreText;
            update();
        }
        // Checked is "selected" to assistive technology; repaints by itself when it changes.
        setChecked(selected);
        m_id = ProgressTimeline::dateID(date);
        setEnabled(!future);
        setAccessibleName(ProgressTimeline::title(date, QStringLiteral("dddd, MMMM d")) + QStringLiteral(", ")
                          + (score ? QStringLiteral("score ") + scoreText : QStringLiteral("no tracked time")));
        setHelp(this, tracked > 0 ? ProgressTimeline::duration(tracked) + QStringLiteral(" tracked")
                                  : QStringLiteral("No tracked time"));
    }

    [[nodiscard]] const QString& id() const { return m_id; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (!isEnabled())
            painter.setOpacity(0.4);
        const QRectF box = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
        if (isChecked()) {
            painter.setPen(QPen(VisualPalette::ink(), 1.5));
            painter.setBrush(VisualPalette::mint());
        } else {
            painter.setPen(QPen(QColor(0, 0, 0, 24), 1));
            painter.setBrush(QColor(255, 255, 255, underMouse() && isEnabled() ? 230 : 150));
        }
        painter.drawRoundedRect(box, 10, 10);
        if (hasFocus()) {
            painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(box.adjusted(-0.5, -0.5, 0.5, 0.5), 10, 10);
        }
        painter.setFont(uiFont(12, QFont::Medium));
        painter.setPen(UiColors::secondaryText());
        painter.drawText(box.adjusted(0, 8, 0, 0), Qt::AlignHCenter | Qt::AlignTop, m_weekday);
        painter.setFont(uiFont(19, QFont::DemiBold));
        painter.setPen(isChecked() ? VisualPalette::ink() : UiColors::primaryText());
        painter.drawText(box.adjusted(0, 0, 0, -8), Qt::AlignHCenter | Qt::AlignBottom, m_score);
    }

    void enterEvent(QEnterEvent* event) override
    {
        QAbstractButton::enterEvent(event);
        update();
    }

    void leaveEvent(QEvent* event) override
    {
        QAbstractButton::leaveEvent(event);
        update();
    }

private:
    QString m_id;
    QString m_weekday;
    QString m_score;
};

ProgressViewPanel::ProgressViewPanel(ProgressStore& store, QWidget* parent)
    : QWidget(parent)
    , m_store(store)
    , m_minuteTimer(new QTimer(this))
{
    m_minuteTimer->setInterval(refreshInterval);
    connect(m_minuteTimer, &QTimer::timeout, this, &ProgressViewPanel::refresh);
    // The store publishes about once a second while tracking; a page that is not shown
    // catches up when it is shown again.
    const auto refreshShown = [this] {
        if (isVisible())
            refresh();
    };
    connect(&m_store, &ProgressStore::daysChanged, this, refreshShown);
    connect(&m_store, &ProgressStore::errorMessageChanged, this, refreshShown);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(16);
    layout->addWidget(buildHeader());

    auto* cards = new QHBoxLayout;
    cards->setSpacing(16);
    cards->addWidget(buildScoreCard(), 2);
    auto* balanceCard = new CardFrame(this);
    auto* balanceLayout = new QVBoxLayout(balanceCard);
    balanceLayout->setContentsMargins(20, 18, 20, 18);
    m_balance = new DailyBalanceChart(balanceCard);
    balanceLayout->addWidget(m_balance);
    balanceLayout->addStretch();
    cards->addWidget(balanceCard, 3);
    layout->addLayout(cards);
    layout->addWidget(buildWeekCard());
    layout->addStretch();

    refresh();
}

ProgressViewPanel::~ProgressViewPanel() = default;

QWidget* ProgressViewPanel::buildHeader()
{
    auto* header = new QWidget(this);
    auto* layout = new QVBoxLayout(header);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    QFont titleFont = uiFont(30);
    titleFont.setFamily(QStringLiteral("serif"));
    titleFont.setStyleHint(QFont::Serif);
    auto* title = new QLabel(QStringLiteral("Progress"), header);
    title->setFont(titleFont);
    title->setAccessibleName(title->text());
    layout->addWidget(title);
    m_subtitle = secondaryLabel(QString(), uiFont(14), header);
    layout->addWidget(m_subtitle);

    m_errorRow = new QWidget(header);
    auto* error = new QHBoxLayout(m_errorRow);
    error->setContentsMargins(0, 6, 0, 0);
    error->setSpacing(6);
    auto* symbol = new QLabel(m_errorRow);
    symbol->setPixmap(symbolPixmap(Symbol::exclamationCircle, 14, VisualPalette::redZone(), devicePixelRatioF()));
    error->addWidget(symbol, 0, Qt::AlignTop);
    m_errorText = new QLabel(m_errorRow);
    m_errorText->setFont(uiFont(12));
    m_errorText->setWordWrap(true);
    error->addWidget(m_errorText, 1);
    layout->addWidget(m_errorRow);
    return header;
}

QWidget* ProgressViewPanel::buildScoreCard()
{
    m_scoreCard = new CardFrame(this);
    setHelp(m_scoreCard, QStringLiteral("Green earns full credit, yellow half credit. Only valid tracked time counts."));
    auto* layout = new QVBoxLayout(m_scoreCard);
    layout->setContentsMargins(20, 18, 20, 18);
    layout->setSpacing(6);
    layout->addWidget(secondaryLabel(QStringLiteral("Daily score"), uiFont(13, QFont::Medium), m_scoreCard));

    m_score = new QLabel(m_scoreCard);
    m_score->setFont(uiFont(54, QFont::DemiBold));
    layout->addLayout(figureRow(m_score, secondaryLabel(QStringLiteral("/ 100"), uiFont(18), m_scoreCard)));

    auto* note = secondaryLabel(QStringLiteral("Score uses tracked time only. Pauses and time away are excluded."),
                                uiFont(12), m_scoreCard);
    note->setWordWrap(true);
    layout->addWidget(note);
    layout->addStretch();
    return m_scoreCard;
}

QWidget* ProgressViewPanel::buildWeekCard()
{
    auto* card = new CardFrame(this);
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(16, 12, 16, 16);
    layout->setSpacing(12);

    auto* navigation = new QHBoxLayout;
    navigation->setSpacing(6);
    const auto arrowButton = [card](Symbol symbol, const QString& name) {
        auto* button = new QToolButton(card);
        button->setIcon(symbolIcon(symbol, 16, UiColors::primaryText()));
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::StrongFocus);
        button->setAccessibleName(name);
        setHelp(button, name);
        return button;
    };
    m_previous = arrowButton(Symbol::chevronLeft, QStringLiteral("Previous week"));
    m_next = arrowButton(Symbol::chevronRight, QStringLiteral("Next week"));
    m_weekTitle = new QLabel(card);
    m_weekTitle->setFont(uiFont(14, QFont::DemiBold));
    m_today = new QPushButton(QStringLiteral("Today"), card);
    connect(m_previous, &QToolButton::clicked, this, [this] { moveWeek(-1); });
    connect(m_next, &QToolButton::clicked, this, [this] { moveWeek(+1); });
    connect(m_today, &QPushButton::clicked, this, &ProgressViewPanel::showToday);
    navigation->addWidget(m_previous);
    navigation->addWidget(m_weekTitle);
    navigation->addWidget(m_next);
    navigation->addStretch();
    navigation->addWidget(m_today);
    layout->addLayout(navigation);

    auto* strip = new QHBoxLayout;
    strip->setSpacing(8);
    for (int i = 0; i < 7; ++i) {
        auto* cell = new DayCell(card);
        connect(cell, &QAbstractButton::clicked, this, [this, cell] { selectDay(cell->id()); });
        strip->addWidget(cell);
        m_cells.append(cell);
    }
    layout->addLayout(strip);
    return card;
}

QList<QWidget*> ProgressViewPanel::dayCells() const
{
    return {m_cells.cbegin(), m_cells.cend()};
}

QString ProgressViewPanel::subtitle() const
{
    return m_subtitle->text();
}

QString ProgressViewPanel::weekTitle() const
{
    return m_weekTitle->text();
}

QString ProgressViewPanel::scoreText() const
{
    return m_score->text();
}

const DayProgress* ProgressViewPanel::storedDay(const QString& id) const
{
    const QList<DayProgress>& days = m_store.days();
    const auto found = std::lower_bound(days.cbegin(), days.cend(), id,
                                        [](const DayProgress& day, const QString& key) { return day.dateID < key; });
    return found != days.cend() && found->dateID == id ? &*found : nullptr;
}

void ProgressViewPanel::moveWeek(int step)
{
    m_weekOffset = std::min(m_weekOffset + step, 0);
    const QList<QDate> week = ProgressTimeline::week(ProgressTimeline::date(m_store.now()), m_weekOffset);
    m_selectedID.reset();
    // The latest day of that week with tracked time, else its Monday.
    for (auto day = week.crbegin(); day != week.crend(); ++day) {
        const DayProgress* stored = storedDay(ProgressTimeline::dateID(*day));
        if (stored && trackedSeconds(*stored) > 0) {
            m_selectedID = stored->dateID;
            break;
        }
    }
    if (!m_selectedID && !week.isEmpty())
        m_selectedID = ProgressTimeline::dateID(week.first());
    refresh();
}

void ProgressViewPanel::selectDay(const QString& id)
{
    m_selectedID = id;
    refresh();
}

void ProgressViewPanel::showToday()
{
    m_selectedID.reset();
    m_weekOffset = 0;
    refresh();
}

void ProgressViewPanel::refresh()
{
    const QDate today = ProgressTimeline::date(m_store.now());
    const QString todayID = ProgressTimeline::dateID(today);

    std::optional<QDate> shownDate;
    if (m_selectedID)
        shownDate = ProgressTimeline::dateFromID(*m_selectedID);
    if (!shownDate)
        shownDate = today;

    const QString shownID = m_selectedID.value_or(todayID);
    const DayProgress* stored = storedDay(shownID);
    m_shownDay = stored ? *stored : DayProgress{shownID};

    m_subtitle->setText(*shownDate == today ? QStringLiteral("Today")
                                            : ProgressTimeline::title(*shownDate, QStringLiteral("dddd, MMM d")));
    const std::optional<QString>& error = m_store.errorMessage();
    m_errorText->setText(error.value_or(QString()));
    m_errorRow->setVisible(error.has_value());

    const std::optional<int> score = dailyScore(m_shownDay);
    m_score->setText(scoreOrDash(score));
    m_scoreCard->setAccessibleName(score ? QStringLiteral("Daily score %1 out of 100").arg(*score)
                                         : QStringLiteral("No tracked daily score yet"));
    m_balance->setDay(m_shownDay);

    m_week = ProgressTimeline::week(today, m_weekOffset);
    m_weekTitle->setText(m_week.isEmpty() ? QStringLiteral("This week")
                                          : ProgressTimeline::title(m_week.first(), QStringLiteral("MMM d")) + QStringLiteral(" – ")
                                                + ProgressTimeline::title(m_week.last(), QStringLiteral("MMM d, yyyy")));
    m_next->setEnabled(m_weekOffset < 0);
    m_today->setVisible(m_selectedID.has_value() || m_weekOffset != 0);
    for (qsizetype i = 0; i < m_cells.size(); ++i) {
        DayCell* cell = m_cells[i];
        cell->setVisible(i < m_week.size());
        if (i >= m_week.size())
            continue;
        const QDate& date = m_week[i];
        cell->present(date, storedDay(ProgressTimeline::dateID(date)), ProgressTimeline::dateID(date) == shownID,
                   date > today);
    }
}

void ProgressViewPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    refresh();
    m_minuteTimer->start();
}

void ProgressViewPanel::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_minuteTimer->stop();
}

} // namespace verticora
