#pragma once

#include <QObject>

namespace verticora {

// Gathers the published changes of one event-loop pass into one `changed` signal, sent
// once the pass is over: every view and reporter refreshes from it instead of keeping a
// coalescing timer of its own.
class ChangeBatch : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // A published value changed; `changed` follows after the current pass.
    void note();
    // Gives a published value its new value, noting the change when there is one.
    template <typename T>
    void publish(T& field, const T& value)
    {
        if (field == value)
            return;
        field = value;
        note();
    }

Q_SIGNALS:
    void changed();

private:
    bool m_open = false;
};

} // namespace verticora
