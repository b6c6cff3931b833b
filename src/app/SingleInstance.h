#pragma once

#include <QByteArray>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QDeadlineTimer;
class QLocalServer;

namespace verticora {

// One running Verticora per data folder. The first launch holds a lock and listens on a
// local socket in the runtime directory, both named after the data folder's path; a
// later launch for the same folder sends its request there and leaves. Requests are one
// line each ("show", "status", …); the answer is one line too. This is the only channel
// between instances, and the command-line forms that control a running Verticora use it.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    // What a launch turned out to be.
    enum class Role { primary, secondary, failed };
    // What asking the running instance gave.
    enum class Reach { answered, notRunning, failed };

    // Answers one request line of another launch with one line.
    using RequestHandler = std::function<QByteArray(const QByteArray& request)>;

    explicit SingleInstance(const QString& dataFolder, QObject* parent = nullptr);
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
    // Why claim() failed, as one sentence.
    [[nodiscard]] const QString& failure() const { return m_failure; }

private:
    // An instance holds the lock but does not listen yet: waits a little, or gives up at
    // `deadline` with the reason in m_failure. False when it gave up.
    bool waitForListener(const QDeadlineTimer& deadline);
    bool listen();
    void serve();

    QString m_serverName;
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<QLocalServer> m_server;
    RequestHandler m_handler;
    QString m_failure;
};

} // namespace verticora
