// daily-progress.json as the progress store opens it: the history loads whole, every day
// valid, or the file is set aside unchanged and a new history starts.

#include "FuzzSupport.h"

#include "store/DailyProgressFile.h"
#include "store/JsonReader.h"
#include "store/ProgressStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>


using namespace verticora;
using namespace verticora::fuzz;

namespace {

// The same decoding done with Qt's JSON document, as the reference the streaming reader
// must agree with.
std::optional<DailyProgressFile> referenceDecode(const QByteArray& bytes)
{
    DailyProgressFile file;
    std::optional<JsonReader> document = JsonReader::ofDocument(bytes);
    if (!document)
        return std::nullopt;
    JsonReader& reader = *document;
    file.timeZone = reader.string(QLatin1StringView("timeZone"));
    file.version = reader.integer(QLatin1StringView("version"));
    const QJsonArray days = reader.array(QLatin1StringView("days"));
    if (!reader.ok())
        return std::nullopt;
    for (const QJsonValue& value : days) {
        const QJsonObject object = value.toObject();
        JsonReader dayReader(object);
        DayProgress day;
        day.dateID = dayReader.string(QLatin1StringView("dateID"));
        day.greenSeconds = dayReader.number(QLatin1StringView("greenSeconds"));
        day.yellowSeconds = dayReader.number(QLatin1StringView("yellowSeconds"));
        day.redSeconds = dayReader.number(QLatin1StringView("redSeconds"));
        const QJsonArray hours = dayReader.array(QLatin1StringView("hours"));
        if (!value.isObject() || !dayReader.ok() || hours.size() != hoursPerDay)
            return std::nullopt;
        for (int h = 0; h < hoursPerDay; ++h) {
            const QJsonObject hourObject = hours[h].toObject();
            JsonReader hourReader(hourObject);
            HourProgress& hour = day.hours[std::size_t(h)];
            hour.greenSeconds = hourReader.number(QLatin1StringView("greenSeconds"));
            hour.yellowSeconds = hourReader.number(QLatin1StringView("yellowSeconds"));
            hour.redSeconds = hourReader.number(QLatin1StringView("redSeconds"));
            if (!hours[h].isObject() || !hourReader.ok())
                return std::nullopt;
        }
        file.days.append(day);
    }
    return file;
}

// Whether JSON that Qt wrote holds a surrogate: escaped, or as bytes that are not UTF-8
// (how Qt writes back a lone one it read). Such text is not Unicode, so this reader
// refuses it.
bool holdsSurrogates(const QByteArray& json)
{
    static const QRegularExpression surrogateEscape(QStringLiteral("\\\\u[dD][89a-fA-F]"));
    return surrogateEscape.match(QString::fromLatin1(json)).hasMatch() || !QByteArrayView(json).isValidUtf8();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const ScratchFolder folder;
    const InputFile input(folder, QStringLiteral("daily-progress.json"), data, size);
    const QByteArray& bytes = input.bytes;
    const QString& asideName = input.asideName;

    const auto decoded = decodeDailyProgress(bytes);
    // The hand-written reader is never more lenient than Qt's and never reads otherwise.
    // It is stricter only on text that is not plain JSON (lax forms, repeated keys): what
    // Qt read there, written back by Qt as plain JSON, must read alike here.
    if (decoded) {
        require(decoded == referenceDecode(bytes), "the streaming reader reads what Qt's reader reads");
    } else if (referenceDecode(bytes)) {
        const QByteArray plain = QJsonDocument::fromJson(bytes).toJson(QJsonDocument::Compact);
        if (!holdsSurrogates(plain))
            require(decodeDailyProgress(plain) == referenceDecode(plain), "the streaming reader reads plain JSON");
    }
    const bool acceptable = decoded && decoded->acceptable();
    ProgressStore store(input.path, [] { return InputFile::clock; });
    require(acceptable != store.errorMessage().has_value(), "a file either loads or is refused");

    if (!acceptable) {
        require(!store.writeBlocked() && store.days().isEmpty(), "a refused file starts a new, writable history");
        require(!QFile::exists(input.path), "a refused file is moved out of the way");
        require(folder.read(asideName) == bytes, "a refused file is kept unchanged");
        return 0;
    }

    const DailyProgressFile loaded{DailyProgressFile::currentVersion, QString(DailyProgressCalendar::timeZoneID),
                                   store.days()};
    require(loaded.acceptable(), "every loaded day is valid");
    require(store.days().size() == decoded->days.size(), "every day of the file is loaded");
    for (qsizetype i = 1; i < store.days().size(); ++i)
        require(store.days()[i - 1].dateID < store.days()[i].dateID, "days are in ascending order");
    store.flush();
    require(input.current() == bytes, "opening and flushing an unchanged history writes nothing");

    input.replace(encodeDailyProgress(loaded));
    const ProgressStore reopened(input.path);
    require(!reopened.errorMessage() && reopened.days() == store.days(), "what loads saves and loads back equal");
    return 0;
}
