#pragma once

#include "model/ChangeBatch.h"
#include "model/SetupCheck.h"
#include "model/SetupStage.h"
#include "store/PosturePreferences.h"

#include <QObject>

#include <optional>
#include <utility>

namespace verticora {


// The height setup's own state: its stage, the capture's progress, the two zone levels
// and the reminder delay, the short check after a capture, and the calibration a new
// setup can be undone back to. The camera model owns it and runs the setup's steps
// (capture, confirm, restart, undo) against the engine and the camera; views read it.
class HeightSetup : public QObject {
    Q_OBJECT
    Q_PROPERTY(verticora::SetupStage stage READ stage NOTIFY changed FINAL)
    Q_PROPERTY(bool capturing READ capturing NOTIFY changed FINAL)
    Q_PROPERTY(double progress READ progress NOTIFY changed FINAL)
    Q_PROPERTY(double yellow READ yellow NOTIFY changed FINAL)
    Q_PROPERTY(double red READ red NOTIFY changed FINAL)
    Q_PROPERTY(double delay READ delay NOTIFY changed FINAL)
    Q_PROPERTY(bool canUndoHeightReset READ canUndoHeightReset NOTIFY changed FINAL)

public:
    explicit HeightSetup(ChangeBatch& changes, QObject* parent = nullptr);

    [[nodiscard]] SetupStage stage() const { return m_stage; }
    // In review or monitoring: there is a height to measure against.
    [[nodiscard]] bool heightCaptured() const
    {
        return m_stage == SetupStage::review || m_stage == SetupStage::monitoring;
    }
    [[nodiscard]] bool capturing() const { return m_capturing; }
    // Height capture progress, 0 to 0.99.
    [[nodiscard]] double progress() const { return m_progress; }
    [[nodiscard]] double yellow() const { return m_yellow; }
    [[nodiscard]] double red() const { return m_red; }
    [[nodiscard]] double delay() const { return m_delay; }
    [[nodiscard]] SetupCheck::Phase setupCheckPhase() const { return m_check.phase; }
    [[nodiscard]] bool canUndoHeightReset() const { return m_previousCalibration.has_value(); }
    [[nodiscard]] const std::optional<SavedCalibration>& previousCalibration() const { return m_previousCalibration; }
    // The "Posture forgiveness" slider: 0 strict, 0.5 default, 1 forgiving.
    [[nodiscard]] double forgiveness() const;

    // Written by the camera model.
    void setStage(SetupStage stage);
    void setCapturing(bool capturing);
    void setProgress(double progress);
    void setYellow(double yellow);
    void setRed(double red);
    void setDelay(double delay);
    // Moves one level on the meter, kept clear of the other and within the meter.
    void moveBoundary(double value, bool isRed);
    // Moves both levels together, keeping their ratio.
    void setForgiveness(double position);

    // A new setup keeps the calibration it replaces (the first one, if set up twice).
    void keepPreviousCalibration(const std::optional<SavedCalibration>& calibration);
    void forgetPreviousCalibration();

    // The check after a capture: from the start with the current levels, from the start
    // with no levels, or again when the levels moved during review.
    void beginCheck();
    void resetCheck();
    void followLevels();
    void forgetCheckLevels() { m_checkLevels.reset(); }
    // A score in review; an interruption (no face) makes the held red count again.
    void updateCheck(double score, double time);
    void interruptCheck();

Q_SIGNALS:
    void changed();

private:
    void restartCheck();

    ChangeBatch& m_changes;
    SetupStage m_stage = SetupStage::idle;
    bool m_capturing = false;
    double m_progress = 0;
    double m_yellow = 0.45;
    double m_red = 0.85;
    double m_delay = 2.0;
    SetupCheck m_check;
    std::optional<std::pair<double, double>> m_checkLevels; // the levels the check runs with
    std::optional<SavedCalibration> m_previousCalibration;
};

} // namespace verticora
