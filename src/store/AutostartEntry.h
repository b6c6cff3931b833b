#pragma once

#include "store/ApplicationID.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace verticora {

// Whether Verticora starts when the user logs in: an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/<application ID>.desktop. The file is the only record, so
// removing it by hand, or a desktop's own switch for it (Hidden, or GNOME's
// X-GNOME-Autostart-enabled), is respected.
class AutostartEntry {
public:
    // An entry that starts `program` with `arguments`.
    AutostartEntry(QString program, QStringList arguments, QString filePath = defaultFilePath());

    // Where the desktop looks for this application's login item.
    [[nodiscard]] static QString defaultFilePath();

    [[nodiscard]] bool enabled() const;
    // Writes or removes the entry; the reason as one sentence when that failed.
    [[nodiscard]] std::optional<QString> setEnabled(bool on) const;

    [[nodiscard]] const QString& filePath() const { return m_filePath; }
    // The entry as written.
    [[nodiscard]] QByteArray contents() const;

private:
    QString m_program;
    QStringList m_arguments;
    QString m_filePath;
};

} // namespace verticora
