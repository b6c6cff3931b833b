#pragma once

#include <QAccessible>
#include <QString>

#include <optional>

namespace verticora {

// A custom-painted widget that tells assistive technology more than Qt's default widget
// interface can: a value computed when asked, its own role, and optionally the
// increment and decrement actions. Derive the widget from this as well as from QWidget.
class AccessibleValueSource {
public:
    virtual ~AccessibleValueSource() = default;

    [[nodiscard]] virtual QAccessible::Role accessibleRole() const = 0;
    // The text of `kind` (Name, Value, Description, ...); none for Qt's default.
    [[nodiscard]] virtual std::optional<QString> accessibleText(QAccessible::Text kind) const = 0;
    // Assistive adjustment by one step up (+1) or down (-1); false when not adjustable.
    virtual bool stepAccessibly(int direction)
    {
        (void)direction;
        return false;
    }
    [[nodiscard]] virtual bool adjustable() const { return false; }

protected:
    AccessibleValueSource();
};

// Tells assistive technology that the value of `widget` (an AccessibleValueSource) changed.
void announceAccessibleValue(QObject* widget, const QString& value);

} // namespace verticora
