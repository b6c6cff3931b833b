#pragma once

#include "ui/AccessibleValue.h"

#include <QAbstractButton>
#include <QSlider>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;

namespace verticora {

// A storage problem: a small exclamation mark in a circle and the sentence beside it,
// hidden while there is none.
class WarningLine : public QWidget {
    Q_OBJECT

public:
    explicit WarningLine(QWidget* parent = nullptr);

    void setMessage(const std::optional<QString>& message);

private:
    QLabel* m_text = nullptr;
};

// A switch-style on/off button with an optional title on its left.
class ToggleSwitch : public QAbstractButton {
    Q_OBJECT

public:
    explicit ToggleSwitch(QWidget* parent = nullptr);

    [[nodiscard]] QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    static constexpr int trackWidth = 36;
    static constexpr int trackHeight = 20;
};

// A horizontal slider over a real range, moved in `steps` even steps, whose value is
// spoken as `valueText` gives it ("2.5 seconds" rather than the raw position).
class ValueSlider : public QSlider, public AccessibleValueSource {
    Q_OBJECT

public:
    ValueSlider(double minimum, double maximum, QWidget* parent = nullptr);

    [[nodiscard]] double realValue() const;
    // Moves the knob without emitting realValueChanged (the model's value coming back).
    void setRealValue(double value);
    void setValueText(std::function<QString(double)> text) { m_valueText = std::move(text); }
    [[nodiscard]] QString valueText() const;

    [[nodiscard]] QAccessible::Role accessibleRole() const override { return QAccessible::Slider; }
    [[nodiscard]] std::optional<QString> accessibleText(QAccessible::Text kind) const override;
    bool stepAccessibly(int direction) override;
    [[nodiscard]] bool adjustable() const override { return true; }

Q_SIGNALS:
    // Only for the user's own moves.
    void realValueChanged(double value);

private:
    static constexpr int steps = 1000;

    double m_minimum;
    double m_maximum;
    bool m_settingValue = false;
    std::function<QString(double)> m_valueText;
};

} // namespace verticora
