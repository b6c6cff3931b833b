#pragma once

#include <QByteArray>
#include <QString>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

// Another program that opens a file standing in for a camera's device node: a shell that
// holds it as its descriptor 3 until told to close it.
// Spawned rather than forked, which ThreadSanitizer allows in a process with threads.
// Until it has run, a spawned child holds copies of all of this process's descriptors,
// so a test that holds the node itself spawns the holder first and opens it later.
class NodeHolder {
public:
    enum class Opening { atOnce, whenTold };

    explicit NodeHolder(const QString& node, Opening opening = Opening::atOnce)
    {
        int input[2];
        if (::pipe2(input, O_CLOEXEC) != 0)
            return;
        m_input = input[1];
        const QByteArray script = opening == Opening::whenTold ? "read go; exec 3<\"$0\"; read line"
                                                               : "exec 3<\"$0\"; read line";
        const QByteArray path = node.toLocal8Bit();
        char shell[] = "sh";
        char option[] = "-c";
        char* arguments[] = {shell, option, const_cast<char*>(script.constData()), const_cast<char*>(path.constData()),
                             nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], 0);
        if (posix_spawnp(&m_pid, "sh", &actions, nullptr, arguments, environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(input[0]);
    }
    NodeHolder(const NodeHolder&) = delete;
    NodeHolder& operator=(const NodeHolder&) = delete;
    ~NodeHolder()
    {
        close();
        if (m_pid > 0)
            ::waitpid(m_pid, nullptr, 0);
    }

    [[nodiscard]] bool started() const { return m_pid > 0; }
    // A holder made to open when told opens the node now.
    void open()
    {
        if (m_input >= 0)
            [[maybe_unused]] const ssize_t written = ::write(m_input, "\n", 1);
    }
    // The shell ends, and with it the node's descriptor.
    void close()
    {
        if (m_input >= 0)
            ::close(m_input);
        m_input = -1;
    }

private:
    pid_t m_pid = -1;
    int m_input = -1;
};
