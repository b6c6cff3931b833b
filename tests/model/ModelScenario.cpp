#include "ModelScenario.h"

#include "store/UpdateResumeStore.h"

#include <QFile>
#include <QJsonDocument>

namespace verticora::testing {

void ModelScenario::SetUp()
{
    ASSERT_TRUE(m_folder.isValid());
    clock = std::make_shared<ManualClock>();
    faces = std::make_shared<FaceScript>();
    m_frame = std::make_shared<PixelBuffer>(64, 36, pixelFormat::bgra);
    for (int y = 0; y < m_frame->height(); ++y)
        std::fill_n(m_frame->row(0, y), 64 * 4, std::uint8_t{128});
}

void ModelScenario::TearDown()
{
    model.reset();
}

void ModelScenario::makeModel(const QString& preferencesPath)
{
    auto capture = std::make_unique<FakeCaptureService>();
    auto recording = std::make_unique<RecordingAlertController>();
    camera = capture.get();
    alerts = recording.get();
    CameraModelServices services;
    services.capture = std::move(capture);
    services.alerts = std::move(recording);
    services.clock = clock;
    services.makeLandmarkRequest = [script = faces] { return std::make_unique<ScriptedLandmarkRequest>(script); };
    CameraModelOptions options;
    options.runsHousekeepingTimer = false; // the test ticks it
    const QString path = preferencesPath.isEmpty() ? dataFile("preferences.json") : preferencesPath;
    model = std::make_unique<CameraModel>(PreferencesStore(path), std::move(services), options);
}

bool ModelScenario::dataFileExists(const QString& name) const
{
    return QFile::exists(dataFile(name));
}

void ModelScenario::writeDataFile(const QString& name, const QByteArray& bytes)
{
    QFile file(dataFile(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

void ModelScenario::requestUpdate(qint32 pid)
{
    const double now = clock->wallTime();
    const UpdateResumeRequest request{1, QStringLiteral("7d444840-9dc0-11d1-b245-5ffdce74fad2"), QStringLiteral("41"),
                                      QStringLiteral("42"), pid, now, now + 300};
    writeDataFile("update-request.json", QJsonDocument(request.toJson()).toJson());
}

void ModelScenario::startCamera(bool resumeSaved)
{
    model->select("cam-1");
    model->startCamera(resumeSaved);
    model->drainCaptureQueue();
}

void ModelScenario::frame(double seconds)
{
    clock->advance(seconds);
    CapturedFrame captured;
    captured.storage = m_frame;
    captured.image = m_frame->view();
    captured.presentationTime = clock->uptime();
    camera->deliver(std::move(captured));
    model->drainCaptureQueue();
}

void ModelScenario::frames(double seconds, double step)
{
    const int count = static_cast<int>(seconds / step + 0.5);
    for (int i = 0; i < count; ++i)
        frame(step);
}

void ModelScenario::calibrate()
{
    showSteadyFace();
    ASSERT_TRUE(model->hasPose());
    model->capture();
    ASSERT_TRUE(model->setup().capturing());
    frames(3.5);
    ASSERT_EQ(model->setup().stage(), SetupStage::monitoring);
}

} // namespace verticora::testing
