#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace verticora {

// What the command line asks for.
struct CommandLineOptions {
    bool help = false;
    bool version = false;
    bool listCameras = false;
    bool headless = false;
    bool autoSetup = false;
    std::optional<QString> replay;
    std::optional<QString> camera;
    std::optional<QString> dataDirectory;
    // A request for the running instance: "status", "pause MINUTES" or "resume".
    std::optional<QByteArray> control;
    std::optional<QString> handOverTo;
    std::optional<QString> asBuild; // tests only: the build string this run reports
};

// The options, or one sentence saying what is wrong with the command line.
struct CommandLine {
    std::optional<CommandLineOptions> options;
    QString mistake;
};

// Reads the arguments (the program's name first). Qt's own options (-platform, -style,
// -reverse, -session, which a session manager passes back at login, …) are accepted and
// left to Qt.
[[nodiscard]] CommandLine parseCommandLine(const QStringList& arguments);

// The synopsis --help prints.
[[nodiscard]] const char* commandLineUsage();

} // namespace verticora
