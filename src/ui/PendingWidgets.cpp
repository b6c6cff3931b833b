#include "ui/PendingWidgets.h"

#include <QHBoxLayout>
#include <QLabel>

namespace verticora {

namespace {

std::unique_ptr<QWidget> box(const QString& text, QWidget* parent, int height)
{
    auto label = std::make_unique<QLabel>(text, parent);
    label->setAlignment(Qt::AlignCenter);
    label->setMinimumHeight(height);
    label->setStyleSheet(QStringLiteral("background: rgba(255,255,255,0.6); border-radius: 12px;"));
    return label;
}

} // namespace

std::unique_ptr<QWidget> makeLiveScoreChart(LiveScoreStore&, QWidget* parent)
{
    return box(QStringLiteral("Live score"), parent, 270);
}

void setChartInactiveStatus(QWidget*, const QString&) {}
void setChartReduceMotion(QWidget*, bool) {}

std::unique_ptr<QWidget> makeHeightMeter(std::function<void(double, bool)>, QWidget* parent)
{
    return box(QStringLiteral("Height meter"), parent, 175);
}

void setMeterValues(QWidget* meter, std::optional<double> score, double yellow, double red, const QString& inactive)
{
    static_cast<QLabel*>(meter)->setText(
        QStringLiteral("score %1\nyellow %2 red %3\n%4")
            .arg(score ? QString::number(*score, 'f', 2) : QStringLiteral("—"))
            .arg(yellow)
            .arg(red)
            .arg(inactive));
}

std::unique_ptr<QWidget> makeFaceHeightGuide(QWidget* parent)
{
    auto guide = std::make_unique<QWidget>(parent);
    guide->setAttribute(Qt::WA_TransparentForMouseEvents);
    return guide;
}

void setGuideValues(QWidget*, const QList<QPointF>&, double, std::optional<double>) {}

std::unique_ptr<QWidget> makeProgressPanel(ProgressStore&, QWidget* parent)
{
    return box(QStringLiteral("Progress"), parent, 400);
}

QLayout* makeBalancedColumns(QWidget* left, QWidget* right, int rightWidth, int spacing)
{
    auto* layout = new QHBoxLayout;
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    right->setFixedWidth(rightWidth);
    layout->addWidget(left, 1);
    layout->addWidget(right);
    return layout;
}

} // namespace verticora
