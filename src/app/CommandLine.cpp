#include "app/CommandLine.h"

#include <QCommandLineParser>

#include <array>

namespace verticora {

namespace {

constexpr char usage[] =
    "usage: verticora [--data-dir DIR] [--camera ID] [--auto-setup] [--headless]\n"
    "       verticora --replay CLIP.y4m [--data-dir DIR] [--auto-setup] [--headless]\n"
    "       verticora --status | --pause MINUTES | --resume [--data-dir DIR]\n"
    "       verticora --hand-over-to BUILD [--data-dir DIR]\n"
    "       verticora --list-cameras\n"
    "       verticora --version | --help | -h\n"
    "Qt's own options (-platform, -style, -reverse, -session, ...) are passed on to Qt.\n"
    "Tests only: --as-build BUILD runs as that build, for the update handoff.\n";

// Qt's options that take a value, and those that do not; Qt reads them itself.
constexpr std::array qtValueOptions{"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
                                    "geometry", "qwindowicon", "icon", "qwindowtitle", "title", "display", "name",
                                    "session", "style", "stylesheet", "qmljsdebugger"};
constexpr std::array qtFlags{"reverse", "widgetcount", "nograb", "dograb", "sync", "testability"};

QCommandLineOption hidden(QCommandLineOption option)
{
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    return option;
}

QCommandLineOption withValue(const QString& name, const QString& valueName)
{
    return QCommandLineOption(name, QString(), valueName);
}

// The option as it was typed, with its dashes: "--bogus" rather than "bogus".
QString spelling(const QStringList& arguments, const QString& name)
{
    for (const QString& argument : arguments) {
        const QString bare = argument.section(QLatin1Char('='), 0, 0);
        if (bare == QLatin1Char('-') + name || bare == QLatin1String("--") + name)
            return bare;
    }
    return name;
}

} // namespace

const char* commandLineUsage()
{
    return usage;
}

CommandLine parseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    // Qt's options have one dash ("-style"); ours two. Both spellings mean the same.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    const QCommandLineOption listCameras(QStringLiteral("list-cameras"));
    const QCommandLineOption headless(QStringLiteral("headless"));
    const QCommandLineOption autoSetup(QStringLiteral("auto-setup"));
    const QCommandLineOption status(QStringLiteral("status"));
    const QCommandLineOption resume(QStringLiteral("resume"));
    const QCommandLineOption pause = withValue(QStringLiteral("pause"), QStringLiteral("MINUTES"));
    const QCommandLineOption replay = withValue(QStringLiteral("replay"), QStringLiteral("CLIP"));
    const QCommandLineOption camera = withValue(QStringLiteral("camera"), QStringLiteral("ID"));
    const QCommandLineOption dataDirectory = withValue(QStringLiteral("data-dir"), QStringLiteral("DIR"));
    const QCommandLineOption handOverTo = withValue(QStringLiteral("hand-over-to"), QStringLiteral("BUILD"));
    const QCommandLineOption asBuild = withValue(QStringLiteral("as-build"), QStringLiteral("BUILD"));
    parser.addOptions({help, version, listCameras, headless, autoSetup, status, resume, pause, replay, camera,
                       dataDirectory, handOverTo, asBuild});
    for (const char* name : qtValueOptions)
        parser.addOption(hidden(withValue(QString::fromLatin1(name), QStringLiteral("VALUE"))));
    for (const char* name : qtFlags)
        parser.addOption(hidden(QCommandLineOption(QString::fromLatin1(name))));

    CommandLine result;
    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        result.mistake = unknown.isEmpty()
            ? parser.errorText()
            : QStringLiteral("Unknown option '%1'.").arg(spelling(arguments, unknown.front()));
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.mistake = QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().front());
        return result;
    }
    const int requests = int(parser.isSet(status)) + int(parser.isSet(pause)) + int(parser.isSet(resume));
    if (requests > 1) {
        result.mistake = QStringLiteral("Choose one of --status, --pause and --resume.");
        return result;
    }

    for (const QCommandLineOption* option : {&replay, &camera, &dataDirectory, &handOverTo, &asBuild}) {
        if (parser.isSet(*option) && parser.values(*option).contains(QString())) {
            result.mistake = QStringLiteral("Missing value after '--%1'.").arg(option->names().constFirst());
            return result;
        }
    }

    CommandLineOptions options;
    options.help = parser.isSet(help);
    options.version = parser.isSet(version);
    options.listCameras = parser.isSet(listCameras);
    options.headless = parser.isSet(headless);
    options.autoSetup = parser.isSet(autoSetup);
    const auto value = [&parser](const QCommandLineOption& option) -> std::optional<QString> {
        if (!parser.isSet(option))
            return std::nullopt;
        return parser.values(option).constLast();
    };
    options.replay = value(replay);
    options.camera = value(camera);
    options.dataDirectory = value(dataDirectory);
    options.handOverTo = value(handOverTo);
    options.asBuild = value(asBuild);
    if (parser.isSet(status))
        options.control = QByteArrayLiteral("status");
    if (parser.isSet(resume))
        options.control = QByteArrayLiteral("resume");
    if (const std::optional<QString> minutes = value(pause)) {
        bool whole = false;
        (void)minutes->toLongLong(&whole);
        if (!whole) {
            result.mistake = QStringLiteral("--pause takes a whole number of minutes, not '%1'.").arg(*minutes);
            return result;
        }
        options.control = QByteArrayLiteral("pause ") + minutes->toLatin1();
    }
    result.options = std::move(options);
    return result;
}

} // namespace verticora
