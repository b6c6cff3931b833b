// One QApplication for the whole test binary, on the offscreen platform so that no
// display is needed. A binary built with VERTICORA_OFFSCREEN_WIDTH and _HEIGHT gets one
// screen of that size instead of the platform's small default.

#include <QApplication>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <memory>

namespace {

// The offscreen platform cannot restack windows (or show a tray) and says so every time.
void quietMessages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.contains(QLatin1String("does not support")) || message.contains(QLatin1String("XDG_RUNTIME_DIR"))
        || message.contains(QLatin1String("systemTrayWindowChanged")))
        return;
    qt_message_output(type, context, message);
}

class QtTestEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        QByteArray platform = "offscreen";
#ifdef VERTICORA_OFFSCREEN_WIDTH
        ASSERT_TRUE(m_screens.open());
        m_screens.write(QStringLiteral(R"({"screens": [{"name": "desk", "x": 0, "y": 0, "width": %1, "height": %2,
                                          "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})")
                            .arg(VERTICORA_OFFSCREEN_WIDTH)
                            .arg(VERTICORA_OFFSCREEN_HEIGHT)
                            .toUtf8());
        m_screens.flush();
        platform += ":configfile=" + m_screens.fileName().toLocal8Bit();
#endif
        qputenv("QT_QPA_PLATFORM", platform);
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
    char m_name[16] = "visuals_tests";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QApplication> m_application;
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new QtTestEnvironment);

} // namespace
