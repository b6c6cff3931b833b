#include "store/PreferencesStore.h"

#include "store/DataFolder.h"
#include "store/PlatformTexts.h"

namespace verticora {

namespace {

// The legacy measurement is not comparable with the current one: the settings stay,
// the levels return to their setup defaults and the calibrations must be made again.
PosturePreferences migratedFromLegacy(PosturePreferences legacy)
{
    legacy.featureSchema = QString(currentFeatureSchema);
    legacy.yellow = 0.6;
    legacy.red = 1.0;
    legacy.calibrations.clear();
    return legacy;
}

PreferencesFailure invalidFailure()
{
    return {PreferencesError::invalid, describe(PreferencesError::invalid)};
}

} // namespace

QString describe(PreferencesError error)
{
    switch (error) {
    case PreferencesError::invalid:
        break;
    }
    return QStringLiteral("Saved settings were invalid or from an incompatible tracking version. Set your zones again.");
}

QString PreferencesStore::defaultPath()
{
    return dataFolder() + u'/' + QLatin1StringView(preferencesFileName);
}

PreferencesStore::PreferencesStore(QString path, WallClock now) : m_path(std::move(path)), m_now(std::move(now)) {}

PreferencesLoad PreferencesStore::load()
{
    removeAbandonedTemporaries(m_path);
    FileContent::Status status = FileContent::Status::read;
    PreferencesLoad loaded = read(&status);
    m_access = Access::writable;
    if (loaded.failure) {
        // Nothing in a folder that may not be used is touched, nor written over later.
        if (status != FileContent::Status::refusedFolder)
            m_setAsideName = setAsideUnreadable(m_path, m_now());
        if (!m_setAsideName)
            m_access = Access::blocked;
    }
    return loaded;
}

PreferencesLoad PreferencesStore::read() const
{
    return read(nullptr);
}

PreferencesLoad PreferencesStore::read(FileContent::Status* status) const
{
    const FileContent content = readDataFile(m_path, preferencesFileLimit);
    if (status)
        *status = content.status;
    if (content.status == FileContent::Status::missing)
        return {};
    if (content.status != FileContent::Status::read)
        return {std::nullopt, PreferencesFailure{std::nullopt, content.error}};

    auto decoded = decodePreferences(content.bytes);
    if (!decoded)
        return {std::nullopt, invalidFailure()};
    if (decoded->featureSchema == legacyFeatureSchema) {
        if (!decoded->valid(legacyFeatureSchema))
            return {std::nullopt, invalidFailure()};
        decoded = migratedFromLegacy(std::move(*decoded));
    }
    if (!decoded->valid(currentFeatureSchema))
        return {std::nullopt, invalidFailure()};
    return {std::move(decoded), std::nullopt};
}

std::optional<PreferencesFailure> PreferencesStore::save(const PosturePreferences& preferences) const
{
    if (!preferences.valid(currentFeatureSchema))
        return invalidFailure();
    if (m_access != Access::writable) {
        return PreferencesFailure{std::nullopt, m_access == Access::blocked
                                      ? QStringLiteral("Saved settings could not be read and will not be overwritten.")
                                      : QStringLiteral("Saved settings have not been read yet.")};
    }
    if (auto reason = writeDataFile(m_path, encodePreferences(preferences)))
        return PreferencesFailure{std::nullopt, *reason};
    return std::nullopt;
}

QString PreferencesStore::loadFailureMessage(const PreferencesFailure& failure)
{
    return QStringLiteral("Could not load saved settings. ") + failure.description;
}

QString PreferencesStore::saveFailureMessage(const PreferencesFailure& failure)
{
    const std::string_view prefix = platformTexts.couldNotSaveSettings;
    return QString::fromUtf8(prefix.data(), qsizetype(prefix.size())) + failure.description;
}

} // namespace verticora
