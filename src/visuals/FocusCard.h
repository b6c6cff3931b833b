#pragma once

#include <QColor>
#include <QRegion>
#include <QString>
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;

namespace verticora {

// The red-zone card in the middle of the main screen: tells the user, calmly, that they
// have left their zone and offers one button that pauses the reminders. Fills whatever
// size its panel gives it.
class DesktopFocusCard : public QWidget {
    Q_OBJECT
public:
    static QString header() { return QStringLiteral("RED ZONE · A LITTLE REMINDER TO RESET"); }
    static QString title() { return QStringLiteral("Out of your zone."); }
    static QString message() { return QStringLiteral("Ease back toward the comfortable position you chose."); }
    static QString buttonText() { return QStringLiteral("Pause reminder"); }
    static QString footnote() { return QStringLiteral("Clears as soon as you return below your red boundary."); }
    static QColor accent() { return QColor::fromRgbF(0.76f, 0.24f, 0.22f); }
    static QColor cardTint() { return QColor::fromRgbF(0.98f, 0.78f, 0.72f); }

    static constexpr double titleSize = 58;
    static constexpr double titleMinimumScale = 0.8;

    // `close` runs when "Pause reminder" is pressed; it may tear the card down.
    explicit DesktopFocusCard(std::function<void()> close, QWidget* parent = nullptr);

    [[nodiscard]] QPushButton* pauseButton() const { return m_button; }
    // Drawn opaque, without the soft shadow, and cut to its rounded shape: for a desktop
    // without a compositing manager.
    [[nodiscard]] bool solid() const { return m_solid; }
    void setSolid(bool solid);
    // The part of the card that paints, in its own coordinates.
    [[nodiscard]] QRegion shape() const;
    // The title's font size after fitting it to the card's width on one line.
    [[nodiscard]] double titleFontSize() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    [[nodiscard]] QRectF cardRect() const;
    void reportShape();

    std::function<void()> m_close;
    bool m_solid = false;
    QWidget* m_title = nullptr;
    QPushButton* m_button = nullptr;
};

} // namespace verticora
