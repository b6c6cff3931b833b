#pragma once

#include <QByteArray>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

#include <sys/types.h>
#include <unistd.h>

class QDeadlineTimer;
class QLocalServer;
class QLocalSocket;

namespace verticora {

// The folder that holds this user's instance locks and sockets, or why there is none.
struct RuntimeFolder {
    QString path;
    QString failure; // one sentence, when `path` is empty
};

// The first of `candidates` that is a folder of `user`'s own that nobody else may enter
// (XDG_RUNTIME_DIR, then the session's /run/user/UID); else `fallback`, created owner-only
// or made so, and refused when it is a link or belongs to someone else. Never a shared
// name that another user could take first.
[[nodiscard]] RuntimeFolder privateRuntimeFolder(const QStringList& candidates, const QString& fallback, uid_t user);
// The same for this process: its XDG_RUNTIME_DIR, /run/user/UID, or a folder in the
// user's cache folder.
[[nodiscard]] RuntimeFolder privateRuntimeFolder();

// One running Verticora per data folder. The first launch holds a lock and listens on a
// local socket in the user's private runtime folder, both named after the data folder's
// path; a later launch for the same folder sends its request there and leaves. Requests
// are one line each ("show", "status", …); the answer is one line too. Both ends talk
// only to a process of the same user, checked by the kernel's peer credentials. This is
// the only channel between instances, and the command-line forms that control a running
// Verticora use it.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    // What a launch turned out to be.
    enum class Role { primary, secondary, failed };
    // What asking the running instance gave.
    enum class Reach { answered, notRunning, failed };

    // Answers one request line of another launch with one line.
    using RequestHandler = std::function<QByteArray(const QByteArray& request)>;

    // No more connections than this are served at once: idle connections never use up
    // the process's files.
    static constexpr int maximumConnections = 16;

    // Where the channel is and whom it talks to; the defaults are this process's.
    struct Channel {
        RuntimeFolder runtime = privateRuntimeFolder();
        uid_t user = ::getuid();
        // A request line must arrive this soon after connecting.
        int requestMilliseconds = 3000;
    };

    explicit SingleInstance(const QString& dataFolder, QObject* parent = nullptr);
    SingleInstance(const QString& dataFolder, Channel channel, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Becomes the instance for the folder, or, when one runs, delivers `request` to it
    // and returns its answer in `answer`. Waits at most a few seconds for an instance
    // that is still starting.
    Role claim(const QByteArray& request, QByteArray* answer = nullptr);
    // Delivers `request` to the instance for the folder without becoming one; waits like
    // claim() for an instance that is still starting.
    Reach ask(const QByteArray& request, QByteArray* answer = nullptr);

    // Primary only: how requests from later launches are answered.
    void setRequestHandler(RequestHandler handler) { m_handler = std::move(handler); }

    [[nodiscard]] const QString& serverName() const { return m_serverName; }
    // Why claim() or ask() failed, as one sentence.
    [[nodiscard]] const QString& failure() const { return m_failure; }
    // The process that gave the last answer, as the kernel names it.
    [[nodiscard]] pid_t answeringProcess() const { return m_answeringProcess; }

private:
    enum class Delivery { answered, noAnswer, foreign };

    Delivery deliver(const QByteArray& request, QByteArray* answer);
    // An instance holds the lock but does not listen yet: waits a little, or gives up at
    // `deadline` with the reason in m_failure. False when it gave up.
    bool waitForListener(const QDeadlineTimer& deadline);
    bool listen();
    void serve();
    void accept(QLocalSocket* socket);

    uid_t m_user;
    int m_requestMilliseconds;
    QString m_runtimeFailure;
    QString m_serverName;
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<QLocalServer> m_server;
    RequestHandler m_handler;
    QString m_failure;
    pid_t m_answeringProcess = 0;
    int m_connections = 0;
};

} // namespace verticora
