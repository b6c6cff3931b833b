#include "model/HeightSetup.h"

#include "analysis/ThresholdRules.h"
#include "model/ChangeBatch.h"

#include <algorithm>
#include <cmath>

namespace verticora {

namespace {

constexpr double meterMinimumGap = 0.4; // the meter keeps the levels wider apart than validity needs
constexpr double meterMaximumRed = 3.0;
constexpr double minimumYellow = 0.15;

} // namespace

HeightSetup::HeightSetup(ChangeBatch& changes, QObject* parent) : QObject(parent), m_changes(changes)
{
    connect(&m_changes, &ChangeBatch::changed, this, &HeightSetup::changed);
}

void HeightSetup::setStage(SetupStage stage)
{
    m_changes.publish(m_stage, stage);
}

void HeightSetup::setCapturing(bool capturing)
{
    m_changes.publish(m_capturing, capturing);
}

void HeightSetup::setProgress(double progress)
{
    m_changes.publish(m_progress, progress);
}

void HeightSetup::setYellow(double yellow)
{
    m_changes.publish(m_yellow, yellow);
}

void HeightSetup::setRed(double red)
{
    m_changes.publish(m_red, red);
}

void HeightSetup::setDelay(double delay)
{
    m_changes.publish(m_delay, delay);
}

void HeightSetup::moveBoundary(double value, bool isRed)
{
    if (isRed) {
        const double lowest = std::max(m_yellow * 1.25, m_yellow + meterMinimumGap);
        setRed(std::min(std::max(value, lowest), meterMaximumRed));
    } else {
        const double highest = std::min(m_red / 1.25, m_red - meterMinimumGap);
        setYellow(std::max(std::min(value, highest), minimumYellow));
    }
}

double HeightSetup::forgiveness() const
{
    return std::clamp(0.5 + 0.5 * std::log2(m_yellow / defaultYellowThreshold), 0.0, 1.0);
}

void HeightSetup::setForgiveness(double position)
{
    // Both levels move together and keep their ratio; the chosen height is untouched.
    const double factor = position < 0 ? 0.5 : std::exp2(2 * (std::min(position, 1.0) - 0.5));
    setYellow(defaultYellowThreshold * factor);
    setRed(defaultRedThreshold * factor);
}

void HeightSetup::keepPreviousCalibration(const std::optional<SavedCalibration>& calibration)
{
    const bool could = canUndoHeightReset();
    if (!m_previousCalibration)
        m_previousCalibration = calibration;
    if (canUndoHeightReset() != could)
        m_changes.note();
}

void HeightSetup::forgetPreviousCalibration()
{
    if (!m_previousCalibration)
        return;
    m_previousCalibration.reset();
    m_changes.note();
}

void HeightSetup::restartCheck()
{
    const SetupCheck::Phase phase = m_check.phase;
    m_check.restart();
    if (m_check.phase != phase)
        m_changes.note();
}

void HeightSetup::beginCheck()
{
    restartCheck();
    m_checkLevels = {m_yellow, m_red};
}

void HeightSetup::resetCheck()
{
    restartCheck();
    m_checkLevels.reset();
}

void HeightSetup::followLevels()
{
    if (m_stage != SetupStage::review)
        return;
    const std::pair<double, double> levels{m_yellow, m_red};
    if (m_checkLevels == levels)
        return;
    beginCheck();
}

void HeightSetup::updateCheck(double score, double time)
{
    const SetupCheck::Phase phase = m_check.phase;
    m_check.update(score, m_yellow, m_red, time);
    if (m_check.phase != phase)
        m_changes.note();
}

void HeightSetup::interruptCheck()
{
    m_check.lowerSince.reset();
    m_check.lastTime.reset();
}

} // namespace verticora
