#pragma once

// Stand-ins for the meter, the live chart, the height guide and the progress panel
// until their real widgets land.

#include <QList>
#include <QPointF>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QLayout;

namespace verticora {

class LiveScoreStore;
class ProgressStore;

std::unique_ptr<QWidget> makeLiveScoreChart(LiveScoreStore& store, QWidget* parent);
void setChartInactiveStatus(QWidget* chart, const QString& status);
void setChartReduceMotion(QWidget* chart, bool on);

std::unique_ptr<QWidget> makeHeightMeter(std::function<void(double, bool)> onChange, QWidget* parent);
void setMeterValues(QWidget* meter, std::optional<double> score, double yellow, double red, const QString& inactive);

std::unique_ptr<QWidget> makeFaceHeightGuide(QWidget* parent);
void setGuideValues(QWidget* guide, const QList<QPointF>& points, double aspect, std::optional<double> baseline);

std::unique_ptr<QWidget> makeProgressPanel(ProgressStore& store, QWidget* parent);

QLayout* makeBalancedColumns(QWidget* left, QWidget* right, int rightWidth, int spacing);

} // namespace verticora
