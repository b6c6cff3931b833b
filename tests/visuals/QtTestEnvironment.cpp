// One QApplication for the whole test binary, on the offscreen platform so that no
// display is needed.

#include <QApplication>

#include <gtest/gtest.h>

#include <memory>

namespace {

// The offscreen platform cannot restack windows and says so on every panel.
void quietMessages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.contains(QLatin1String("does not support raise()")) || message.contains(QLatin1String("XDG_RUNTIME_DIR")))
        return;
    qt_message_output(type, context, message);
}

class QtTestEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qInstallMessageHandler(quietMessages);
        m_application = std::make_unique<QApplication>(m_argc, m_argv);
    }

    void TearDown() override
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_application.reset();
    }

private:
    int m_argc = 1;
    char m_name[16] = "visuals_tests";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QApplication> m_application;
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new QtTestEnvironment);

} // namespace
