#include "app/AutoSetup.h"

#include "model/CameraModel.h"
#include "model/ModelClock.h"

namespace verticora {

namespace {
constexpr double steadySeconds = 1.0;
}

AutoSetup::AutoSetup(CameraModel& model, const ModelClock& clock, QObject* parent)
    : QObject(parent), m_model(model), m_clock(clock)
{
    connect(&m_model, &CameraModel::frameHandled, this, &AutoSetup::check);
}

void AutoSetup::check()
{
    const bool waiting = m_model.setup().stage() == SetupStage::heightSetup && !m_model.setup().capturing();
    if (m_pressed || !waiting || !m_model.hasPose()) {
        m_steadySince.reset();
        return;
    }
    const double now = m_clock.uptime();
    if (!m_steadySince)
        m_steadySince = now;
    if (now - *m_steadySince >= steadySeconds) {
        m_pressed = true;
        m_model.capture();
    }
}

} // namespace verticora
