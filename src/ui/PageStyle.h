#pragma once

#include "ui/UiStyle.h"

#include <QColor>
#include <QLabel>
#include <QString>

// The looks of the Posture and Settings pages' buttons and texts.
namespace verticora::style {

[[nodiscard]] inline QColor ink()
{
    return QColor::fromRgbF(0.13f, 0.25f, 0.19f);
}
[[nodiscard]] inline QColor coral()
{
    return QColor::fromRgbF(0.78f, 0.28f, 0.24f);
}

inline const QString secondaryText = QStringLiteral("color: rgba(0, 0, 0, 0.55);");
inline const QString primaryButton = QStringLiteral(
    "QPushButton { background: rgb(33, 64, 49); color: white; border: none; border-radius: 8px; padding: 7px 12px;"
    " font-weight: 600; }"
    "QPushButton:disabled { background: rgba(33, 64, 49, 0.35); }"
    "QPushButton:focus { border: 2px solid palette(highlight); }");
inline const QString secondaryButton = QStringLiteral(
    "QPushButton { background: white; color: rgb(33, 64, 49); border: 1px solid rgba(33, 64, 49, 0.3);"
    " border-radius: 8px; padding: 6px 12px; }"
    "QPushButton:focus { border: 2px solid palette(highlight); }");

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
