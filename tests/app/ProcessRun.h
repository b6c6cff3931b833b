#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <algorithm>
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
