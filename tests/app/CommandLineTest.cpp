#include "ProcessRun.h"

#include "app/CommandLine.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using namespace verticora;

namespace {

CommandLine parse(const QStringList& arguments)
{
    return parseCommandLine(QStringList{"verticora"} + arguments);
}

} // namespace

TEST(CommandLine, namesEachMistakeInOneSentence)
{
    const std::vector<std::pair<QStringList, QString>> mistakes{
        {{"--pause", "abc"}, "--pause takes a whole number of minutes, not 'abc'."},
        {{"--pause", "2.5"}, "--pause takes a whole number of minutes, not '2.5'."},
        {{"--pause"}, "Missing value after '--pause'."},
        {{"--data-dir="}, "Missing value after '--data-dir'."},
        {{"--bogus"}, "Unknown option '--bogus'."},
        {{"clip.y4m"}, "Unexpected argument 'clip.y4m'."},
        {{"--status", "--resume"}, "Choose one of --status, --pause and --resume."},
    };
    for (const auto& [arguments, sentence] : mistakes) {
        const CommandLine line = parse(arguments);
        EXPECT_FALSE(line.options) << arguments.join(' ').toStdString();
        EXPECT_EQ(line.mistake, sentence);
    }
}

// What a session manager passes back at login, and the other options Qt reads itself.
TEST(CommandLine, leavesQtsOwnOptionsToQtAndTakesTheShortHelp)
{
    const CommandLine line = parse({"-session", "10d2e3_4", "-style", "fusion", "-reverse", "-platform=offscreen",
                                    "--replay", "clip.y4m", "--pause", "30"});
    ASSERT_TRUE(line.options) << line.mistake.toStdString();
    EXPECT_EQ(line.options->replay, "clip.y4m");
    EXPECT_EQ(line.options->control, "pause 30");
    EXPECT_TRUE(parse({"-h"}).options->help);
}

// The program prints the mistake alone and ends, a clip it cannot replay with its name
// and the reason, with a window as without.
TEST(CommandLine, theProgramNamesTheMistakeAndEnds)
{
    const ProcessRun mistake = runToEnd(VERTICORA_APPLICATION, {"--pause", "abc"});
    EXPECT_EQ(mistake.exitCode, 2);
    EXPECT_EQ(mistake.errors, "verticora: --pause takes a whole number of minutes, not 'abc'.");

    QTemporaryDir folder;
    const QString missing = folder.filePath("missing.y4m");
    for (const QStringList& window : {QStringList{}, QStringList{"--headless"}}) {
        const ProcessRun run = runToEnd(VERTICORA_APPLICATION, QStringList{"--replay", missing} + window);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.errors, "verticora: " + missing + ": cannot be opened: No such file or directory.");
    }
}
