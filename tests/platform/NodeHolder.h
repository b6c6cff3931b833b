#pragma once

#include <QProcess>
#include <QString>

#include <optional>

// Another program that opens a file standing in for a camera's device node: a shell that
// holds it as its descriptor 3 until told to close it, or for `seconds` when given.
class NodeHolder {
public:
    explicit NodeHolder(const QString& node, std::optional<double> seconds = std::nullopt)
    {
        const QString wait = seconds ? QStringLiteral("sleep %1").arg(*seconds) : QStringLiteral("read line");
        m_shell.start("sh", {"-c", "exec 3<\"$0\"; " + wait, node});
    }
    NodeHolder(const NodeHolder&) = delete;
    NodeHolder& operator=(const NodeHolder&) = delete;
    ~NodeHolder()
    {
        close();
        if (!m_shell.waitForFinished(5000))
            m_shell.kill();
        m_shell.waitForFinished();
    }

    [[nodiscard]] bool started() { return m_shell.waitForStarted(5000); }
    // The shell ends, and with it the node's descriptor.
    void close() { m_shell.closeWriteChannel(); }

private:
    QProcess m_shell;
};
