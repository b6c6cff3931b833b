#include "ShellScenario.h"

#include "store/AutostartEntry.h"
#include "ui/Controls.h"
#include "ui/SettingsPage.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

using namespace verticora;
using namespace verticora::testing;

namespace {

// The desktop's own check of an entry; empty when it passes.
QString validationErrors(const QString& path)
{
    QProcess validate;
    validate.start("desktop-file-validate", {path});
    if (!validate.waitForFinished(10'000))
        return "desktop-file-validate did not run";
    return validate.exitCode() == 0 ? QString()
                                    : QString::fromUtf8(validate.readAllStandardOutput() + validate.readAllStandardError());
}

// Points the user's configuration folder somewhere temporary for one test.
class TemporaryConfigHome {
public:
    TemporaryConfigHome() : m_previous(qgetenv("XDG_CONFIG_HOME")) { qputenv("XDG_CONFIG_HOME", m_folder.path().toLocal8Bit()); }
    ~TemporaryConfigHome() { qputenv("XDG_CONFIG_HOME", m_previous); }
    [[nodiscard]] QString entry() const { return m_folder.filePath("autostart/org.verticora.Verticora.desktop"); }

private:
    QTemporaryDir m_folder;
    QByteArray m_previous;
};

} // namespace

TEST_F(ShellScenario, theLoginSwitchWritesAndRemovesItsEntryAndFollowsTheFile)
{
    const TemporaryConfigHome config;
    makeModel();
    SettingsPage page(*model, {});
    page.show();
    ToggleSwitch* login = page.autostartSwitch();
    EXPECT_FALSE(login->isChecked()) << "off until the user turns it on";

    QTest::mouseClick(login, Qt::LeftButton);
    ASSERT_TRUE(QFile::exists(config.entry()));
    EXPECT_TRUE(login->isChecked());
    EXPECT_EQ(validationErrors(config.entry()), QString());
    QFile written(config.entry());
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_TRUE(written.readAll().contains(("--data-dir " + model->dataDirectory()).toUtf8()))
        << "the login starts the Verticora of this data folder";

    // Removed by hand: the page reads the file again when it comes back into view.
    QFile::remove(config.entry());
    page.hide();
    page.show();
    EXPECT_FALSE(login->isChecked());

    QTest::mouseClick(login, Qt::LeftButton);
    ASSERT_TRUE(QFile::exists(config.entry()));
    QTest::mouseClick(login, Qt::LeftButton);
    EXPECT_FALSE(QFile::exists(config.entry()));
    EXPECT_FALSE(login->isChecked());

    // A desktop that switches the entry off in the file itself is respected as well.
    const AutostartEntry entry("/usr/bin/verticora", {}, config.entry());
    ASSERT_FALSE(entry.setEnabled(true));
    QFile file(config.entry());
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("Hidden=true\n");
    file.close();
    EXPECT_FALSE(entry.enabled());
}

TEST(AutostartEntry, quotesAProgramAndFolderWithSpacesAndShellCharacters)
{
    QTemporaryDir folder;
    const QString path = folder.filePath("autostart/org.verticora.Verticora.desktop");
    const AutostartEntry entry("/opt/My Apps/verticora", {"--data-dir", "/home/a b/$HOME \"x\" 100%"}, path);
    ASSERT_FALSE(entry.setEnabled(true));
    EXPECT_TRUE(entry.enabled());
    EXPECT_TRUE(entry.contents().contains(
        R"(Exec="/opt/My Apps/verticora" --data-dir "/home/a b/\\$HOME \\"x\\" 100%%")"))
        << entry.contents().toStdString();
    EXPECT_EQ(validationErrors(path), QString());
}
