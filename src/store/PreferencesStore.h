#pragma once

#include "store/DataFolder.h"
#include "store/PosturePreferences.h"
#include "store/WallClock.h"

#include <QString>

#include <optional>

namespace verticora {

enum class PreferencesError { invalid };

// "Saved settings were invalid or from an incompatible tracking version. Set your zones again."
[[nodiscard]] QString describe(PreferencesError error);

// Why a load or save failed: a preferences error, or a file-system error passed on as
// the system described it.
struct PreferencesFailure {
    std::optional<PreferencesError> error; // none for a file-system error
    QString description;                   // one sentence

    friend bool operator==(const PreferencesFailure&, const PreferencesFailure&) = default;
};

// The outcome of `PreferencesStore::load`: a record, nothing (no file yet), or a failure.
struct PreferencesLoad {
    std::optional<PosturePreferences> preferences;
    std::optional<PreferencesFailure> failure;
};

// Keeps preferences.json: checks every record on the way in and out, migrates the legacy
// measurement schema on load, and replaces the file atomically on save. A file it cannot
// load is never written over. One call at a time, on the main thread.
class PreferencesStore {
public:
    // preferences.json in the data folder.
    [[nodiscard]] static QString defaultPath();

    // Nothing is read or created here. `now` names set-aside copies.
    explicit PreferencesStore(QString path, WallClock now = systemWallTime);

    [[nodiscard]] const QString& path() const { return m_path; }

    // Reads the file and changes nothing on disk. No file: no record and no failure (the
    // first run; only "no such file" counts as that). A good file: the record valid for
    // the current schema (a legacy one migrated in memory only). Anything else: a failure.
    [[nodiscard]] PreferencesLoad read() const;

    // The application's load, once, before any save: deletes the temporary files of
    // saves that were killed, then reads. A file that does not load is first set aside
    // beside it as "preferences.unreadable-<seconds>.json", so the next save cannot
    // replace it; when it can be neither loaded nor moved, or the folder may not be used,
    // saves stay refused.
    [[nodiscard]] PreferencesLoad load();

    // Refuses an invalid record before touching the disk, and any record until `load`
    // has made sure no unread file is in the way; otherwise replaces the file atomically
    // (owner-only folder and file). None on success.
    [[nodiscard]] std::optional<PreferencesFailure> save(const PosturePreferences& preferences) const;

    // The copy an unreadable file was set aside as by `load`, when it was.
    [[nodiscard]] const std::optional<QString>& setAsideName() const { return m_setAsideName; }

    // The sentences the user sees for a failed load or save.
    [[nodiscard]] static QString loadFailureMessage(const PreferencesFailure& failure);
    [[nodiscard]] static QString saveFailureMessage(const PreferencesFailure& failure);

private:
    enum class Access { unchecked, writable, blocked };

    [[nodiscard]] PreferencesLoad read(FileContent::Status* status) const;

    QString m_path;
    WallClock m_now;
    Access m_access = Access::unchecked;
    std::optional<QString> m_setAsideName;
};

} // namespace verticora
