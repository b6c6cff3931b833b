#pragma once

#include "store/PosturePreferences.h"

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
// measurement schema on load, and replaces the file atomically on save. Holds nothing but
// the path; one call at a time, on the main thread.
class PreferencesStore {
public:
    // preferences.json in the data folder.
    [[nodiscard]] static QString defaultPath();

    // Nothing is read or created here.
    explicit PreferencesStore(QString path);

    [[nodiscard]] const QString& path() const { return m_path; }

    // No file: no record and no failure (the first run). A good file: the record valid
    // for the current schema (a legacy one migrated in memory only). Anything else: a
    // failure, and the file is left as it is.
    [[nodiscard]] PreferencesLoad load() const;

    // Refuses an invalid record before touching the disk; otherwise replaces the file
    // atomically (owner-only folder and file). None on success.
    [[nodiscard]] std::optional<PreferencesFailure> save(const PosturePreferences& preferences) const;

    // The sentences the user sees for a failed load or save.
    [[nodiscard]] static QString loadFailureMessage(const PreferencesFailure& failure);
    [[nodiscard]] static QString saveFailureMessage(const PreferencesFailure& failure);

private:
    QString m_path;
};

} // namespace verticora
