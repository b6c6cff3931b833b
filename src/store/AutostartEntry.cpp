#include "store/AutostartEntry.h"

#include "store/DataFolder.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

namespace verticora {

namespace {

const QString failurePrefix = QStringLiteral("Could not change whether Verticora starts when you log in. ");

// One argument of an Exec line: quoted when it holds a character the desktop entry
// format reserves, with the characters that quoting still treats specially escaped.
QString execArgument(const QString& argument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString escaped = argument;
    escaped.replace(u'%', QStringLiteral("%%"));
    if (!argument.isEmpty() && std::none_of(argument.begin(), argument.end(), [](QChar c) { return reserved.contains(c); }))
        return escaped;
    QString quoted;
    for (const QChar c : escaped) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    return u'"' + quoted + u'"';
}

// A value of the desktop entry format's string type: backslashes and line breaks escaped.
QString entryValue(const QString& value)
{
    QString escaped;
    for (const QChar c : value) {
        if (c == u'\\')
            escaped += QStringLiteral("\\\\");
        else if (c == u'\n')
            escaped += QStringLiteral("\\n");
        else
            escaped += c;
    }
    return escaped;
}

} // namespace

AutostartEntry::AutostartEntry(QString program, QStringList arguments, QString filePath)
    : m_program(std::move(program)), m_arguments(std::move(arguments)), m_filePath(std::move(filePath))
{
}

QString AutostartEntry::defaultFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart/")
        + QString::fromLatin1(applicationID) + QStringLiteral(".desktop");
}

bool AutostartEntry::enabled() const
{
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype equals = line.indexOf('=');
        if (equals < 0)
            continue;
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        if ((key == "Hidden" && value == "true") || (key == "X-GNOME-Autostart-enabled" && value == "false"))
            return false;
    }
    return true;
}

QByteArray AutostartEntry::contents() const
{
    QStringList exec{execArgument(m_program)};
    for (const QString& argument : m_arguments)
        exec << execArgument(argument);
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Verticora\n"
                                         "Comment=Posture reminders from your webcam\n"
                                         "Icon=%1\n"
                                         "Exec=%2\n"
                                         "TryExec=%3\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(QString::fromLatin1(applicationID), entryValue(exec.join(u' ')), entryValue(m_program));
    return entry.toUtf8();
}

std::optional<QString> AutostartEntry::setEnabled(bool on) const
{
    if (on) {
        if (std::optional<QString> failure = writeFileAtomically(m_filePath, contents()))
            return failurePrefix + *failure;
        return std::nullopt;
    }
    QFile file(m_filePath);
    if (!QFileInfo(m_filePath).exists() && !QFileInfo(m_filePath).isSymLink())
        return std::nullopt;
    if (!file.remove())
        return failurePrefix + asSentence(file.errorString());
    return std::nullopt;
}

} // namespace verticora
