#include "ui/AccessibleValue.h"

#include <QAccessibleWidget>
#include <QWidget>

#include <mutex>

namespace verticora {

namespace {

class AccessibleValueWidget : public QAccessibleWidget {
public:
    AccessibleValueWidget(QWidget* widget, AccessibleValueSource* source)
        : QAccessibleWidget(widget, source->accessibleRole())
        , m_source(source)
    {
    }

    QString text(QAccessible::Text kind) const override
    {
        if (const auto text = m_source->accessibleText(kind))
            return *text;
        return QAccessibleWidget::text(kind);
    }

    QStringList actionNames() const override
    {
        QStringList names = QAccessibleWidget::actionNames();
        if (m_source->adjustable())
            names << increaseAction() << decreaseAction();
        return names;
    }

    void doAction(const QString& name) override
    {
        if (m_source->adjustable() && name == increaseAction())
            m_source->stepAccessibly(+1);
        else if (m_source->adjustable() && name == decreaseAction())
            m_source->stepAccessibly(-1);
        else
            QAccessibleWidget::doAction(name);
    }

private:
    AccessibleValueSource* m_source;
};

QAccessibleInterface* accessibleValueFactory(const QString& className, QObject* object)
{
    (void)className;
    auto* widget = qobject_cast<QWidget*>(object);
    auto* source = dynamic_cast<AccessibleValueSource*>(object);
    if (!widget || !source)
        return nullptr;
    return new AccessibleValueWidget(widget, source); // owned by Qt's accessibility cache
}

} // namespace

AccessibleValueSource::AccessibleValueSource()
{
    // Qt keeps a list of factories for the whole process; ours is added once.
    static std::once_flag installed;
    std::call_once(installed, [] { QAccessible::installFactory(accessibleValueFactory); });
}

void announceAccessibleValue(QObject* widget, const QString& value)
{
    if (!QAccessible::isActive())
        return;
    QAccessibleValueChangeEvent event(widget, value);
    QAccessible::updateAccessibility(&event);
}

} // namespace verticora
