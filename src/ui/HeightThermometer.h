#pragma once

#include <QPixmap>
#include <QString>
#include <QWidget>

#include <optional>

class QLabel;

namespace verticora {

class DotLabel;

// Deviations (0 at the chosen height, growing as the face sinks) against vertical
// positions in the meter, in pixels from its top ("height-meter" coordinates): 0 to 3
// over `travel` pixels below a 25-pixel margin.
struct HeightMeterScale {
    static constexpr double top = 25;
    static constexpr double range = 3;
    double travel = 144;

    // Values outside 0 to 3 sit at the nearest end of the scale.
    [[nodiscard]] double position(double value) const;
    // Not limited: whoever receives the value decides what it accepts.
    [[nodiscard]] double value(double y) const;
};

// The level of a boundary as assistive technology reads it: "Level N of 100".
[[nodiscard]] QString heightMeterLevelText(double value);

// The vertical meter beside the camera picture: the chosen height at the top, how far the
// face sits below it now, and the yellow and red boundaries as markers the user drags,
// nudges with the arrow keys or adjusts with assistive technology. It draws only what its
// owner supplies: a user's change leaves through `boundaryProposed` and comes back, if
// the owner accepts it, through `setLevels`. Drawn on its own rounded panel.
class HeightThermometer : public QWidget {
    Q_OBJECT
public:
    static constexpr double travel = 144;
    static constexpr double keyStep = 0.15;
    static constexpr int padding = 14;
    static constexpr int minimumMeterHeight = 175; // top + travel + 6

    explicit HeightThermometer(QWidget* parent = nullptr);
    ~HeightThermometer() override;

    // The current smoothed deviation; none when there is no live measurement.
    void setScore(std::optional<double> score);
    void setLevels(double yellow, double red);
    // Shown in the status line while there is no score.
    void setInactiveStatus(const QString& status);
    // True (the default): the meter grows with the height it is given.
    void setFillsAvailableHeight(bool fills);

    [[nodiscard]] std::optional<double> score() const { return m_score; }
    [[nodiscard]] double yellow() const { return m_yellow; }
    [[nodiscard]] double red() const { return m_red; }
    [[nodiscard]] const QString& inactiveStatus() const { return m_inactiveStatus; }
    [[nodiscard]] bool fillsAvailableHeight() const { return m_fillsAvailableHeight; }
    // Which boundary has keyboard focus: false yellow, true red, none neither.
    [[nodiscard]] std::optional<bool> focusedBoundary() const;

    // The meter's own coordinate space ("height-meter") within this widget.
    [[nodiscard]] QRect meterRect() const;
    [[nodiscard]] QWidget* marker(bool isRed) const;
    [[nodiscard]] QWidget* currentHeightDot() const;
    [[nodiscard]] QString statusText() const;

    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override;

signals:
    // The user moved a boundary to `value` (deviation units, not limited).
    void boundaryProposed(double value, bool isRed);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    class BoundaryMarker;
    class CurrentHeight;

    [[nodiscard]] HeightMeterScale scale() const { return HeightMeterScale{travel}; }
    [[nodiscard]] int statusAreaHeight(bool stacked) const;
    [[nodiscard]] bool statusStacked() const;
    void layoutChildren();
    void refreshStatus();
    void invalidateBar();
    void renderBackground();

    std::optional<double> m_score;
    double m_yellow = 0.45;
    double m_red = 0.85;
    QString m_inactiveStatus;
    bool m_fillsAvailableHeight = true;

    BoundaryMarker* m_yellowMarker = nullptr;
    BoundaryMarker* m_redMarker = nullptr;
    CurrentHeight* m_current = nullptr;
    DotLabel* m_status = nullptr;
    QLabel* m_hint = nullptr;

    // Panel, bar and chosen-height line: redrawn only when the size or a level changes.
    QPixmap m_background;
    QRect m_backgroundMeter;
    bool m_backgroundValid = false;
};

} // namespace verticora
