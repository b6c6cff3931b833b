// preferences.json as the application loads it: a file either loads whole, as a record
// valid for the current schema, or is refused and kept byte for byte beside a fresh one.

#include "FuzzSupport.h"

#include "store/PreferencesStore.h"

using namespace verticora;
using namespace verticora::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const ScratchFolder folder;
    const InputFile input(folder, QStringLiteral("preferences.json"), data, size);
    const QByteArray& bytes = input.bytes;
    const QString& asideName = input.asideName;
    PreferencesStore store(input.path, [] { return InputFile::clock; });
    const PreferencesLoad loaded = store.load();
    require(loaded.preferences.has_value() != loaded.failure.has_value(), "a file either loads or is refused");

    if (loaded.failure) {
        require(store.setAsideName() == asideName, "a refused file is set aside");
        require(!QFile::exists(input.path), "a refused file is moved out of the way");
        require(folder.read(asideName) == bytes, "a refused file is kept unchanged");
        require(!store.save(PosturePreferences{}), "a fresh file can be saved after the set-aside");
        require(folder.read(asideName) == bytes, "saving never touches the set-aside copy");
        return 0;
    }

    const PosturePreferences& record = *loaded.preferences;
    require(record.valid(currentFeatureSchema), "a loaded record is valid for the current schema");
    for (const auto& [cameraID, calibration] : record.calibrations)
        require(record.calibration(cameraID) == calibration, "every loaded calibration is handed out whole");
    require(input.current() == bytes, "loading does not change a good file");
    const auto decoded = decodePreferences(bytes);
    if (decoded && decoded->featureSchema == legacyFeatureSchema) {
        require(record.yellow == 0.6 && record.red == 1.0 && record.calibrations.empty(),
                "a legacy record is migrated to the setup levels without calibrations");
    }

    require(!store.save(record), "a loaded record can be saved");
    const PreferencesLoad reloaded = PreferencesStore(input.path).read();
    require(reloaded.preferences == record, "what loads saves and loads back equal");
    return 0;
}
