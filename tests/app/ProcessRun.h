#pragma once

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <csignal>
#include <functional>
#include <string>
#include <vector>

// What a program run to its end printed: its JSON lines (the state lines of Verticora,
// its summary) and its errors.
struct ProcessRun {
    std::vector<QJsonObject> states;
    QJsonObject summary;
    int exitCode = -1;
    QString errors;

    [[nodiscard]] bool sawState(const QString& state) const
    {
        return std::any_of(states.begin(), states.end(), [&](const QJsonObject& s) { return s["state"] == state; });
    }
};

// Runs a program to its end and collects the JSON lines it writes.
inline ProcessRun runToEnd(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    ProcessRun run;
    if (!process.waitForFinished(120'000)) {
        process.kill();
        process.waitForFinished();
        run.errors = QStringLiteral("timed out");
        return run;
    }
    run.exitCode = process.exitCode();
    run.errors = QString::fromUtf8(process.readAllStandardError()).trimmed();
    for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        if (object.contains("summary"))
            run.summary = object["summary"].toObject();
        else if (!object.isEmpty())
            run.states.push_back(object);
    }
    return run;
}

// The application running on its own, read line by line while it runs.
class RunningApplication {
public:
    static constexpr int waitMilliseconds = 90'000;

    // `window`: with its controls window, tray and reminders on the offscreen platform.
    explicit RunningApplication(const QStringList& arguments, bool window = false)
    {
        if (window) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
            m_process.setProcessEnvironment(environment);
        }
        m_process.start(VERTICORA_APPLICATION, arguments);
        m_process.waitForStarted(waitMilliseconds);
    }
    RunningApplication(const RunningApplication&) = delete;
    RunningApplication& operator=(const RunningApplication&) = delete;
    ~RunningApplication() { terminate(); }

    // Reads state lines until one satisfies `match`; false when none did in time.
    bool waitFor(const std::function<bool(const QJsonObject&)>& match)
    {
        const QDeadlineTimer deadline(waitMilliseconds);
        for (;;) {
            while (m_process.canReadLine()) {
                lines.push_back(QJsonDocument::fromJson(m_process.readLine()).object());
                if (match(lines.back()))
                    return true;
            }
            if (deadline.hasExpired() || m_process.state() != QProcess::Running
                || !m_process.waitForReadyRead(int(deadline.remainingTime())))
                return false;
        }
    }
    bool waitForState(const QString& state)
    {
        return waitFor([&](const QJsonObject& line) { return line["state"] == state; });
    }
    bool waitForMessage(const QString& message)
    {
        return waitFor([&](const QJsonObject& line) { return line["message"] == message; });
    }
    [[nodiscard]] bool sawStage(const QString& stage) const
    {
        return std::any_of(lines.begin(), lines.end(), [&](const QJsonObject& line) { return line["stage"] == stage; });
    }
    // True when the run is still going after `milliseconds`.
    bool runsFor(int milliseconds) { return !m_process.waitForFinished(milliseconds); }
    void signal(int number) { ::kill(static_cast<pid_t>(m_process.processId()), number); }
    // Ends the run as a session logout would; true when it quit by itself and cleanly.
    bool terminate()
    {
        if (m_process.state() == QProcess::NotRunning)
            return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
        signal(SIGTERM);
        return finished();
    }
    // Waits for the end, `milliseconds` at most; true when it ended cleanly in time. A run
    // still going then is killed.
    bool finished(int milliseconds = waitMilliseconds)
    {
        if (m_process.waitForFinished(milliseconds))
            return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
        m_process.kill();
        m_process.waitForFinished();
        return false;
    }
    [[nodiscard]] std::string errors() { return m_process.readAllStandardError().toStdString(); }

    std::vector<QJsonObject> lines;

private:
    QProcess m_process;
};
