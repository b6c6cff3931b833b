// One QApplication for the whole test binary on the offscreen platform, with one
// full-HD screen so that the 960 x 720 controls window fits on it as on a desktop.

#include <QApplication>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <memory>

namespace {

void quietMessages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.contains(QLatin1String("does not support")) || message.contains(QLatin1String("XDG_RUNTIME_DIR"))
        || message.contains(QLatin1String("systemTrayWindowChanged")))
        return;
    qt_message_output(type, context, message);
}

class ShellTestEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_TRUE(m_screens.open());
        m_screens.write(R"({"screens": [{"name": "desk", "x": 0, "y": 0, "width": 1920, "height": 1080,
                            "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
        m_screens.flush();
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + m_screens.fileName().toLocal8Bit());
        qInstallMessageHandler(quietMessages);
        m_application = std::make_unique<QApplication>(m_argc, m_argv);
    }

    void TearDown() override
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_application.reset();
    }

private:
    QTemporaryFile m_screens;
    int m_argc = 1;
    char m_name[16] = "shell_tests";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QApplication> m_application;
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new ShellTestEnvironment);

} // namespace
