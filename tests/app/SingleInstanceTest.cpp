// The channel between launches as another local user would attack it: a shared folder
// taken first, a socket answered by someone else, a forged process ID, idle connections.

#include "app/SingleInstance.h"
#include "app/UpdateHandoff.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace verticora;

namespace {

unsigned modeOf(const QString& path)
{
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : 0;
}

QString makeFolder(const QString& path, mode_t mode)
{
    EXPECT_TRUE(QDir().mkpath(path));
    EXPECT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
    return path;
}

// Runs the event loop until `done` or the deadline.
template <typename Condition>
bool processUntil(Condition done, int milliseconds = 5000)
{
    const QDeadlineTimer deadline(milliseconds);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// A running instance somewhere else that answers every request with `reply`: on a thread
// of its own, so that the blocking side of the channel can run in the test.
class FakeInstance {
public:
    FakeInstance(const QString& dataFolder, QByteArray reply)
    {
        m_thread.start();
        m_host.moveToThread(&m_thread);
        QMetaObject::invokeMethod(
            &m_host,
            [&] {
                m_instance = std::make_unique<SingleInstance>(dataFolder);
                m_role = m_instance->claim("show");
                m_instance->setRequestHandler([reply](const QByteArray&) { return reply; });
            },
            Qt::BlockingQueuedConnection);
    }
    ~FakeInstance()
    {
        QMetaObject::invokeMethod(&m_host, [&] { m_instance.reset(); }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    [[nodiscard]] SingleInstance::Role role() const { return m_role; }

private:
    QThread m_thread;
    QObject m_host;
    std::unique_ptr<SingleInstance> m_instance;
    SingleInstance::Role m_role = SingleInstance::Role::failed;
};

} // namespace

TEST(SingleInstance, theRuntimeFolderIsOneNobodyElseCanReachOrTakeFirst)
{
    QTemporaryDir root;
    const uid_t me = ::getuid();
    const QString shared = makeFolder(root.filePath("shared"), 0777);
    const QString session = makeFolder(root.filePath("session"), 0700);
    EXPECT_EQ(privateRuntimeFolder({shared, session}, {}, me).path, session);
    EXPECT_EQ(privateRuntimeFolder({session}, {}, me + 1).path, QString()) << "someone else's runtime folder";

    // The fallback is made owner-only, or taken over only when it is the user's own folder.
    const QString fallback = root.filePath("cache/verticora-runtime");
    EXPECT_EQ(privateRuntimeFolder({shared, QString()}, fallback, me).path, fallback);
    EXPECT_EQ(modeOf(fallback), 0700u);
    ::chmod(QFile::encodeName(fallback).constData(), 0777);
    EXPECT_EQ(privateRuntimeFolder({}, fallback, me).path, fallback);
    EXPECT_EQ(modeOf(fallback), 0700u);
    const RuntimeFolder foreign = privateRuntimeFolder({}, fallback, me + 1);
    EXPECT_EQ(foreign.path, QString());
    EXPECT_TRUE(foreign.failure.endsWith("it belongs to another user.")) << foreign.failure.toStdString();
    const QString link = root.filePath("cache/linked");
    ASSERT_TRUE(QFile::link(session, link));
    EXPECT_EQ(privateRuntimeFolder({}, link, me).path, QString()) << "a link planted in its place";
}

// Whatever the socket's file says, the kernel names the process at the other end: an
// instance answers no one but its own user, and a launch believes no one else.
TEST(SingleInstance, bothEndsTalkOnlyToTheirOwnUser)
{
    QTemporaryDir root;
    const RuntimeFolder runtime{makeFolder(root.filePath("run"), 0700), {}};
    const QString data = root.filePath("data");

    SingleInstance wary(data, {runtime, ::getuid() + 1, 3000});
    ASSERT_EQ(wary.claim("show"), SingleInstance::Role::primary) << wary.failure().toStdString();
    wary.setRequestHandler([](const QByteArray&) { return QByteArrayLiteral("answer"); });
    QLocalSocket socket;
    socket.connectToServer(wary.serverName());
    ASSERT_TRUE(processUntil([&] { return socket.state() == QLocalSocket::ConnectedState; }));
    socket.write("status\n");
    EXPECT_TRUE(processUntil([&] { return socket.state() == QLocalSocket::UnconnectedState; }));
    EXPECT_EQ(socket.bytesAvailable(), 0) << "answered a stranger";

    // A listener of this user, and a launch that expects another: refused before it asks.
    const QString otherData = root.filePath("other");
    SingleInstance launch(otherData, {runtime, ::getuid() + 1, 3000});
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(launch.serverName());
    ASSERT_LT(std::size_t(name.size()), sizeof address.sun_path);
    std::memcpy(address.sun_path, name.constData(), std::size_t(name.size()));
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    QByteArray answer;
    EXPECT_EQ(launch.ask("status", &answer), SingleInstance::Reach::failed);
    EXPECT_EQ(launch.failure(),
              QStringLiteral("A program of another user answers for this data folder; Verticora does not talk to it."));
    ::close(listener);
}

TEST(SingleInstance, idleConnectionsAreDroppedAndTheirNumberIsCapped)
{
    QTemporaryDir root;
    const RuntimeFolder runtime{makeFolder(root.filePath("run"), 0700), {}};
    SingleInstance instance(root.filePath("data"), {runtime, ::getuid(), 1000});
    ASSERT_EQ(instance.claim("show"), SingleInstance::Role::primary);

    std::vector<std::unique_ptr<QLocalSocket>> idle;
    for (int i = 0; i <= SingleInstance::maximumConnections; ++i) {
        idle.push_back(std::make_unique<QLocalSocket>());
        idle.back()->connectToServer(instance.serverName());
    }
    const auto dropped = [&] {
        return std::count_if(idle.begin(), idle.end(),
                             [](const auto& s) { return s->state() == QLocalSocket::UnconnectedState; });
    };
    EXPECT_TRUE(processUntil([&] { return dropped() >= 1; }, 900));
    EXPECT_EQ(dropped(), 1) << "one beyond the cap is dropped at once, the others wait for their request";
    EXPECT_TRUE(processUntil([&] { return dropped() == long(idle.size()); })) << "silent connections are dropped";

    QLocalSocket asking;
    asking.connectToServer(instance.serverName());
    asking.write("status\n");
    EXPECT_TRUE(processUntil([&] { return asking.canReadLine(); }));
    EXPECT_EQ(asking.readLine(), "unknown\n") << "served again once the idle ones are gone";
}

// The process ID in an instance's answer is signalled only when it is the process that
// answered: a forged answer cannot make the hand-over stop another program of the user.
TEST(SingleInstance, aHandOverSignalsOnlyTheProcessThatAnswered)
{
    QTemporaryDir root;
    const QByteArray previous = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(makeFolder(root.filePath("run"), 0700)));
    QProcess victim;
    victim.start("sleep", {"60"});
    ASSERT_TRUE(victim.waitForStarted());
    const QString data = makeFolder(root.filePath("data"), 0700);
    {
        const QByteArray forged = QStringLiteral("{\"pid\":%1,\"build\":\"old\"}").arg(victim.processId()).toUtf8();
        const FakeInstance forger(data, forged);
        ASSERT_EQ(forger.role(), SingleInstance::Role::primary);
        EXPECT_EQ(handOverTo(data, "new", 1000), 1);
    }
    EXPECT_FALSE(victim.waitForFinished(200)) << "the forged process was asked to quit";
    EXPECT_FALSE(QFile::exists(data + "/update-request.json"));
    victim.kill();
    victim.waitForFinished();
    qputenv("XDG_RUNTIME_DIR", previous);
}
