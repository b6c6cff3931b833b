#pragma once

#include "ui/UiStyle.h"
#include "visuals/VisualPalette.h"

#include <QLabel>
#include <QString>

// The looks of the Posture and Settings pages' buttons and texts.
namespace verticora::style {

inline const QString secondaryText = QStringLiteral("color: rgba(0, 0, 0, 0.55);");
inline const QString primaryButton =
    QStringLiteral("QPushButton { background: %1; color: white; border: none; border-radius: 8px; padding: 7px 12px;"
                   " font-weight: 600; }"
                   "QPushButton:disabled { background: %2; }"
                   "QPushButton:focus { border: 2px solid palette(highlight); }")
        .arg(styleSheetColor(VisualPalette::ink()), styleSheetColor(withAlpha(VisualPalette::ink(), 0.35)));
inline const QString secondaryButton =
    QStringLiteral("QPushButton { background: white; color: %1; border: 1px solid %2;"
                   " border-radius: 8px; padding: 6px 12px; }"
                   "QPushButton:focus { border: 2px solid palette(highlight); }")
        .arg(styleSheetColor(VisualPalette::ink()), styleSheetColor(withAlpha(VisualPalette::ink(), 0.3)));

// A label that wraps, in the system font at `pixelSize`.
[[nodiscard]] inline QLabel* wrappedLabel(double pixelSize, QWidget* parent, QFont::Weight weight = QFont::Normal)
{
    auto* label = new QLabel(parent);
    label->setWordWrap(true);
    label->setFont(uiFont(pixelSize, weight));
    return label;
}

// Sets a widget's text only when it differs, so that unchanged refreshes lay out nothing.
template <typename Widget>
void setTextIfChanged(Widget& widget, const QString& text)
{
    if (widget.text() != text)
        widget.setText(text);
}

} // namespace verticora::style
