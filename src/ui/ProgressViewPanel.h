#pragma once

#include "store/DayProgress.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QWidget>

#include <optional>

class QLabel;
class QPushButton;
class QTimer;
class QToolButton;

namespace verticora {

class DailyBalanceChart;
class ProgressStore;

// The progress page: the daily score of one day, how its tracked time splits into the
// three zones, and a Monday-to-Sunday strip of days with week navigation. Reads the
// daily progress store (never writes it) and follows its changes; while shown it also
// looks at the clock once a minute so that "today" moves on at midnight.
class ProgressViewPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int refreshInterval = 60'000; // milliseconds

    explicit ProgressViewPanel(ProgressStore& store, QWidget* parent = nullptr);
    ~ProgressViewPanel() override;

    // Week navigation: -1 the previous week, +1 the next one (never past this week).
    void moveWeek(int step);
    // Shows `id`'s day (as tapping its cell does).
    void selectDay(const QString& id);
    // Back to today and this week.
    void showToday();
    // Re-reads the store and the clock.
    void refresh();

    [[nodiscard]] const std::optional<QString>& selectedID() const { return m_selectedID; }
    [[nodiscard]] int weekOffset() const { return m_weekOffset; }
    // The days of the strip, Monday first.
    [[nodiscard]] const QList<QDate>& shownWeek() const { return m_week; }
    // The day whose score and balance are shown.
    [[nodiscard]] const DayProgress& shownDay() const { return m_shownDay; }

    // The controls, for whoever needs to reach them (tests, keyboard focus).
    [[nodiscard]] QToolButton* previousWeekButton() const { return m_previous; }
    [[nodiscard]] QToolButton* nextWeekButton() const { return m_next; }
    [[nodiscard]] QPushButton* todayButton() const { return m_today; }
    [[nodiscard]] QList<QWidget*> dayCells() const;
    [[nodiscard]] QString subtitle() const;
    [[nodiscard]] QString weekTitle() const;
    [[nodiscard]] QString scoreText() const;
    [[nodiscard]] DailyBalanceChart* balanceChart() const { return m_balance; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    class DayCell;

    [[nodiscard]] const DayProgress* storedDay(const QString& id) const;
    QWidget* buildHeader();
    QWidget* buildScoreCard();
    QWidget* buildWeekCard();

    ProgressStore& m_store;
    std::optional<QString> m_selectedID;
    int m_weekOffset = 0;
    QList<QDate> m_week;
    DayProgress m_shownDay;

    QTimer* m_minuteTimer = nullptr;
    QLabel* m_subtitle = nullptr;
    QWidget* m_errorRow = nullptr;
    QLabel* m_errorText = nullptr;
    QWidget* m_scoreCard = nullptr;
    QLabel* m_score = nullptr;
    DailyBalanceChart* m_balance = nullptr;
    QToolButton* m_previous = nullptr;
    QToolButton* m_next = nullptr;
    QPushButton* m_today = nullptr;
    QLabel* m_weekTitle = nullptr;
    QList<DayCell*> m_cells;
};

} // namespace verticora
