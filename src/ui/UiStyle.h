#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QString>

class QHBoxLayout;
class QWidget;

namespace verticora {

// Shared look of the controls window: sizes are logical pixels, as the window is laid out
// in them.
[[nodiscard]] QFont uiFont(double pixelSize, QFont::Weight weight = QFont::Normal);

// The help text of a control: its tooltip, its "What's This" text and, through them, its
// accessible description and help.
void setHelp(QWidget* widget, const QString& text);

struct UiColors {
    static QColor secondaryText() { return QColor(0x6e, 0x6e, 0x73); }
    static QColor primaryText() { return QColor(0x1d, 0x1d, 0x1f); }
    static QColor guideGray() { return QColor(0x8e, 0x8e, 0x93); }
    static QColor cardBackground() { return QColor(255, 255, 255, 153); } // white at 0.6
    static QColor cardBorder() { return QColor(0, 0, 0, 20); }
};

// Paints the rounded card the window's blocks sit on.
void paintCard(QWidget* widget, double radius = 12);

// A plain container drawn as such a card.
class CardFrame : public QWidget {
public:
    explicit CardFrame(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A label in the secondary text colour.
[[nodiscard]] QLabel* secondaryLabel(const QString& text, const QFont& font, QWidget* parent = nullptr);

// A large figure followed by a smaller unit ("75 / 100") on one baseline, left-aligned
// or, with `trailing`, right-aligned.
[[nodiscard]] QHBoxLayout* figureRow(QLabel* figure, QLabel* unit, bool trailing = false);

// A text with a small coloured dot before it (status lines, legend rows).
class DotLabel : public QLabel {
public:
    explicit DotLabel(QWidget* parent = nullptr);

    void setDotColor(const QColor& color);
    [[nodiscard]] QColor dotColor() const { return m_dotColor; }

    static constexpr int dotSize = 6;
    static constexpr int dotGap = 6;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_dotColor;
};

} // namespace verticora
