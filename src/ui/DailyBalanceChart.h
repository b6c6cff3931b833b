#pragma once

#include "store/DayProgress.h"

#include <QColor>
#include <QWidget>

#include <array>

class QLabel;

namespace verticora {

class DotLabel;

// How one day's tracked time splits into green, yellow and red: the total, a bar of the
// three shares and one legend row per band.
class DailyBalanceChart : public QWidget {
    Q_OBJECT
public:
    explicit DailyBalanceChart(QWidget* parent = nullptr);

    void setDay(const DayProgress& day);
    // Green, yellow and red, in that order.
    void setColors(const std::array<QColor, 3>& colors);

    [[nodiscard]] const DayProgress& day() const { return m_day; }
    // The texts of the legend row of band `id` (0 green, 1 yellow, 2 red): duration and
    // percentage.
    [[nodiscard]] QStringList legendTexts(int id) const;
    [[nodiscard]] QString totalText() const;

private:
    class Bar;
    struct Legend {
        QWidget* row = nullptr;
        DotLabel* title = nullptr;
        QLabel* duration = nullptr;
        QLabel* percent = nullptr;
    };

    void refresh();

    DayProgress m_day;
    std::array<QColor, 3> m_colors;
    QLabel* m_total = nullptr;
    Bar* m_bar = nullptr;
    std::array<Legend, 3> m_legend;
};

} // namespace verticora
