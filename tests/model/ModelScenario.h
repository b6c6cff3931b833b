#pragma once

#include "FakeCaptureService.h"
#include "RecordingAlertController.h"
#include "ScriptedFaces.h"

#include "model/CameraModel.h"
#include "model/ModelClock.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

// Readable QStrings in failure messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace verticora {

// States and stages by the names the JSON lines use.
inline void PrintTo(ZoneState state, std::ostream* out)
{
    *out << zoneStateName(state);
}

inline void PrintTo(SetupStage stage, std::ostream* out)
{
    *out << setupStageName(stage);
}

} // namespace verticora

namespace verticora::testing {

// A camera model on a scripted camera, scripted faces and a clock that moves only when
// the test moves it. Frames are flat grey, so the patch tracker never seeds and every
// analysed frame is a full pass over the scripted faces.
class ModelScenario : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Builds the model on `preferencesPath` (the temporary folder's preferences.json by default).
    void makeModel(const QString& preferencesPath = {});
    [[nodiscard]] QString dataFile(const QString& name) const { return m_folder.filePath(name); }
    [[nodiscard]] bool dataFileExists(const QString& name) const;
    void writeDataFile(const QString& name, const QByteArray& bytes);
    // The updater's part of a handoff: a request from build 41 to build 42, addressed to
    // process `pid`, made now and valid for five minutes.
    void requestUpdate(qint32 pid);
    // The next update handoff runs as build `build` in process `pid`.
    void playBuild(const QString& build, qint32 pid)
    {
        playedBuild = build;
        playedProcess = pid;
    }

    // Selects the scripted camera and starts it as the user would.
    void startCamera(bool resumeSaved = true);
    // Moves time on by `seconds` and delivers one camera frame.
    void frame(double seconds = 0.1);
    // Delivers frames every `step` seconds for `seconds`.
    void frames(double seconds, double step = 0.1);
    // Sits at nose height 0.5, captures the height and confirms it.
    void calibrate();
    // A new model on the scripted camera, with the height set and monitoring.
    void startMonitoring()
    {
        makeModel();
        startCamera();
        calibrate();
    }
    void showFaceAt(double noseY) { faces->show({faceWithNoseAt(noseY)}); }
    // Shows a face at nose height 0.5 for half a second, long enough to be tracked.
    void showSteadyFace()
    {
        showFaceAt(0.5);
        frames(0.5);
    }

    QString playedBuild;
    std::optional<qint32> playedProcess;
    std::shared_ptr<ManualClock> clock;
    std::shared_ptr<FaceScript> faces;
    FakeCaptureService* camera = nullptr;
    RecordingAlertController* alerts = nullptr;
    std::unique_ptr<CameraModel> model;

private:
    QTemporaryDir m_folder;
    std::shared_ptr<PixelBuffer> m_frame;
};

} // namespace verticora::testing
