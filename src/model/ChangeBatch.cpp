#include "model/ChangeBatch.h"

namespace verticora {

void ChangeBatch::note()
{
    if (m_open)
        return;
    m_open = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_open = false;
            emit changed();
        },
        Qt::QueuedConnection);
}

} // namespace verticora
