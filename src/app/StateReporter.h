#pragma once

#include "store/TrackingLease.h"

#include <QObject>
#include <QString>

#include <optional>
#include <vector>

namespace verticora {

class CameraModel;
class ModelClock;

// Writes the model's published state to standard output as one JSON object per change,
// and a summary when asked: what `verticora --replay` prints for people and tools.
class StateReporter : public QObject {
    Q_OBJECT

public:
    StateReporter(CameraModel& model, const ModelClock& clock, QObject* parent = nullptr);

    // One {"summary": {...}} line: today's seconds per zone, process CPU and peak memory,
    // and the median time from capture to main-thread handling. `failure` names a clip
    // that stopped early.
    void printSummary(const QString& failure);

private:
    void report();

    CameraModel& m_model;
    const ModelClock& m_clock;
    QString m_lastLine;
    std::vector<double> m_pipelineMilliseconds;
    std::optional<FrameDiagnostics> m_lastFrame;
};

} // namespace verticora
