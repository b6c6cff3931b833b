#include "store/UpdateResumeStore.h"

#include "store/ControlFile.h"
#include "store/DataFolder.h"
#include "store/JsonReader.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <limits>

#include <sys/stat.h>
#include <unistd.h>

namespace verticora {

namespace {

QString text(std::string_view sentence)
{
    return QString::fromUtf8(sentence.data(), qsizetype(sentence.size()));
}

bool isHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// The 8-4-4-4-12 hexadecimal form, either case; braces or other spellings are refused.
bool isStandardUuid(const QString& text)
{
    if (text.size() != 36)
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphen ? text[i] != u'-' : !isHexDigit(text[i]))
            return false;
    }
    return true;
}

bool isDigest(const QString& digest)
{
    if (digest == UpdateSessionState::absentDigest)
        return true;
    if (digest.size() != 64)
        return false;
    for (const QChar c : digest) {
        if (!isHexDigit(c))
            return false;
    }
    return true;
}

bool isPageName(const QString& page)
{
    return fromRawName<ControlsPage>(page.toStdString()).has_value();
}

std::optional<UpdateResumeRequest> decodeRequest(const QByteArray& bytes)
{
    const std::optional<QJsonObject> object = parseJsonObject(bytes);
    return object ? UpdateResumeRequest::fromJson(*object) : std::nullopt;
}

// Deletes a file (a link itself, never what it points to), ignoring every error (for
// instance that it does not exist).
void removeQuietly(const QString& path)
{
    (void)::unlink(QFile::encodeName(path).constData());
}

// Handoffs remembered at most; each lives five minutes, so more is never needed.
constexpr qsizetype consumedLimit = 256;

} // namespace

bool UpdateResumeRequest::valid(double now) const
{
    return schema == 1 && isStandardUuid(operationID) && !fromBuild.isEmpty() && !toBuild.isEmpty()
        && toBuild != fromBuild && sourcePID >= 1 && std::isfinite(now) && std::isfinite(createdAt)
        && std::isfinite(expiresAt) && expiresAt > now && createdAt < expiresAt && createdAt - maximumClockSkew <= now
        && expiresAt - createdAt <= maximumLifetime;
}

QJsonObject UpdateResumeRequest::toJson() const
{
    return QJsonObject{
        {QStringLiteral("schema"), schema},
        {QStringLiteral("operationID"), operationID},
        {QStringLiteral("fromBuild"), fromBuild},
        {QStringLiteral("toBuild"), toBuild},
        {QStringLiteral("sourcePID"), sourcePID},
        {QStringLiteral("createdAt"), createdAt},
        {QStringLiteral("expiresAt"), expiresAt},
    };
}

std::optional<UpdateResumeRequest> UpdateResumeRequest::fromJson(const QJsonObject& object)
{
    JsonReader reader(object);
    UpdateResumeRequest request;
    request.schema = reader.integer(QLatin1StringView("schema"));
    request.operationID = reader.string(QLatin1StringView("operationID"));
    request.fromBuild = reader.string(QLatin1StringView("fromBuild"));
    request.toBuild = reader.string(QLatin1StringView("toBuild"));
    const qint64 pid = reader.integer(QLatin1StringView("sourcePID"));
    request.createdAt = reader.number(QLatin1StringView("createdAt"));
    request.expiresAt = reader.number(QLatin1StringView("expiresAt"));
    if (!reader.ok() || pid < std::numeric_limits<qint32>::min() || pid > std::numeric_limits<qint32>::max())
        return std::nullopt;
    request.sourcePID = static_cast<qint32>(pid);
    return request;
}

bool UpdateSessionState::valid() const
{
    const bool needsCamera = mode == UpdateSessionMode::tracking || mode == UpdateSessionMode::paused;
    return isPageName(page) && (!pauseUntilUnix || std::isfinite(*pauseUntilUnix)) && isDigest(preferencesDigest)
        && (!needsCamera || !cameraID.trimmed().isEmpty());
}

bool UpdateSessionState::pauseWithinReach(double now) const
{
    return !pauseUntilUnix || *pauseUntilUnix <= now + longestPause + UpdateResumeRequest::maximumLifetime;
}

QJsonObject UpdateSessionState::toJson() const
{
    QJsonObject object{
        {QStringLiteral("mode"), text(rawName(mode))},
        {QStringLiteral("cameraID"), cameraID},
        {QStringLiteral("page"), page},
        {QStringLiteral("controlsVisible"), controlsVisible},
        {QStringLiteral("preferencesDigest"), preferencesDigest},
    };
    if (pauseUntilUnix)
        object.insert(QStringLiteral("pauseUntilUnix"), *pauseUntilUnix);
    return object;
}

std::optional<UpdateSessionState> UpdateSessionState::fromJson(const QJsonObject& object)
{
    JsonReader reader(object);
    UpdateSessionState state;
    const QString mode = reader.string(QLatin1StringView("mode"));
    state.cameraID = reader.string(QLatin1StringView("cameraID"));
    state.pauseUntilUnix = reader.optionalNumber(QLatin1StringView("pauseUntilUnix"));
    state.page = reader.string(QLatin1StringView("page"));
    const QJsonValue visible = object.value(QLatin1StringView("controlsVisible"));
    state.preferencesDigest = reader.string(QLatin1StringView("preferencesDigest"));
    const std::optional<UpdateSessionMode> parsed = fromRawName<UpdateSessionMode>(mode.toStdString());
    if (!reader.ok() || !parsed || !visible.isBool())
        return std::nullopt;
    state.mode = *parsed;
    state.controlsVisible = visible.toBool();
    return state;
}

QByteArray UpdateResumeReceipt::encode() const
{
    const QJsonObject object{
        {QStringLiteral("schema"), schema},
        {QStringLiteral("request"), request.toJson()},
        {QStringLiteral("state"), state.toJson()},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<UpdateResumeReceipt> UpdateResumeReceipt::decode(const QByteArray& bytes)
{
    const std::optional<QJsonObject> object = parseJsonObject(bytes);
    if (!object)
        return std::nullopt;
    JsonReader reader(*object);
    UpdateResumeReceipt receipt;
    receipt.schema = reader.integer(QLatin1StringView("schema"));
    const QJsonObject request = reader.object(QLatin1StringView("request"));
    const QJsonObject state = reader.object(QLatin1StringView("state"));
    if (!reader.ok())
        return std::nullopt;
    const std::optional<UpdateResumeRequest> decodedRequest = UpdateResumeRequest::fromJson(request);
    const std::optional<UpdateSessionState> decodedState = UpdateSessionState::fromJson(state);
    if (!decodedRequest || !decodedState)
        return std::nullopt;
    receipt.request = *decodedRequest;
    receipt.state = *decodedState;
    return receipt;
}

UpdateResumeStore::UpdateResumeStore(QString directory, QString build, qint32 processID, WallClock now)
    : m_directory(std::move(directory)), m_build(std::move(build)), m_processID(processID), m_now(std::move(now))
{
    removeAbandonedTemporaries(path(updateResumeFileName));
    removeAbandonedTemporaries(path(updateConsumedFileName));
}

QString UpdateResumeStore::path(const char* name) const
{
    return m_directory + u'/' + QLatin1StringView(name);
}

QString UpdateResumeStore::preferencesDigest(const QString& directory)
{
    const FileContent content =
        readDataFile(directory + u'/' + QLatin1StringView(preferencesFileName), preferencesFileLimit);
    switch (content.status) {
    case FileContent::Status::missing:
        return UpdateSessionState::absentDigest;
    case FileContent::Status::read:
        return QString::fromLatin1(QCryptographicHash::hash(content.bytes, QCryptographicHash::Sha256).toHex());
    case FileContent::Status::unreadable:
    case FileContent::Status::refusedFolder:
        break;
    }
    return {};
}

std::map<QString, double> UpdateResumeStore::consumedOperations(double now) const
{
    std::map<QString, double> consumed;
    const std::optional<QByteArray> bytes = readControlFile(path(updateConsumedFileName));
    const std::optional<QJsonObject> object = bytes ? parseJsonObject(*bytes) : std::nullopt;
    if (!object)
        return consumed;
    const QJsonObject operations = object->value(QLatin1StringView("operations")).toObject();
    for (auto entry = operations.begin(); entry != operations.end(); ++entry) {
        const double expiresAt = entry.value().toDouble(-1);
        if (std::isfinite(expiresAt) && expiresAt > now)
            consumed.emplace(entry.key().toLower(), expiresAt);
    }
    return consumed;
}

std::optional<QString> UpdateResumeStore::rememberConsumed(const UpdateResumeRequest& request, double now) const
{
    std::map<QString, double> consumed = consumedOperations(now);
    consumed.insert_or_assign(request.operationID.toLower(), request.expiresAt);
    while (qsizetype(consumed.size()) > consumedLimit) {
        const auto soonest = std::min_element(consumed.begin(), consumed.end(),
                                              [](const auto& a, const auto& b) { return a.second < b.second; });
        consumed.erase(soonest);
    }
    QJsonObject operations;
    for (const auto& [id, expiresAt] : consumed)
        operations.insert(id, expiresAt);
    const QJsonObject file{{QStringLiteral("schema"), 1}, {QStringLiteral("operations"), operations}};
    return writeDataFile(path(updateConsumedFileName), QJsonDocument(file).toJson(QJsonDocument::Compact));
}

UpdateResumeStore::Preparation UpdateResumeStore::prepareForTermination(const UpdateSessionState& state)
{
    const double now = m_now();
    const std::optional<QByteArray> bytes = readControlFile(path(updateRequestFileName));
    const std::optional<UpdateResumeRequest> request = bytes ? decodeRequest(*bytes) : std::nullopt;
    const bool answerable = request && request->valid(now) && request->fromBuild == m_build
        && request->sourcePID == m_processID && state.valid() && state.pauseWithinReach(now)
        && !consumedOperations(now).contains(request->operationID.toLower())
        && preferencesDigest(m_directory) == state.preferencesDigest;
    if (!answerable) {
        cancel();
        return {};
    }
    const UpdateResumeReceipt receipt{1, *request, state};
    if (std::optional<QString> error = writeDataFile(path(updateResumeFileName), receipt.encode()))
        return {false, std::move(error)};
    return {true, std::nullopt};
}

UpdateResumeStore::Consumption UpdateResumeStore::consume()
{
    m_rejection.reset();
    const QString requestPath = path(updateRequestFileName);
    const QString receiptPath = path(updateResumeFileName);
    struct stat status {};
    if (::lstat(QFile::encodeName(receiptPath).constData(), &status) != 0) {
        removeQuietly(requestPath);
        return {};
    }
    // Anything but a file (a folder, a link, a pipe) is no receipt; a folder would
    // survive the claim's rename and stay.
    if (!S_ISREG(status.st_mode)) {
        cancel();
        return {};
    }

    // The request is read before the claim: a second launch that finds the receipt
    // already claimed deletes the request, and must not take it from the winner.
    const std::optional<QByteArray> requestBytes = readControlFile(requestPath);

    // The rename is the claim: of two instances racing for one receipt, the file system
    // lets exactly one move it away.
    const QString claimed = m_directory + QStringLiteral("/.update-consumed-")
        + QUuid::createUuid().toString(QUuid::WithoutBraces) + QStringLiteral(".json");
    if (std::rename(QFile::encodeName(receiptPath).constData(), QFile::encodeName(claimed).constData()) != 0) {
        const int error = errno;
        m_rejection = text(updateRejection::claimFailed);
        return {std::nullopt, asSentence(qt_error_string(error))};
    }

    const std::optional<QByteArray> receiptBytes = readControlFile(claimed);
    removeQuietly(claimed);
    removeQuietly(requestPath);

    const std::optional<UpdateResumeRequest> request = requestBytes ? decodeRequest(*requestBytes) : std::nullopt;
    const std::optional<UpdateResumeReceipt> receipt =
        receiptBytes ? UpdateResumeReceipt::decode(*receiptBytes) : std::nullopt;
    const double now = m_now();
    const bool genuine = request && receipt && receipt->schema == 1 && receipt->request == *request
        && request->valid(now) && request->toBuild == m_build && request->sourcePID != m_processID
        && receipt->state.valid() && receipt->state.pauseWithinReach(now)
        && !consumedOperations(now).contains(request->operationID.toLower());
    if (!genuine) {
        m_rejection = text(updateRejection::invalid);
        return {};
    }
    if (preferencesDigest(m_directory) != receipt->state.preferencesDigest) {
        m_rejection = text(updateRejection::settingsChanged);
        return {};
    }
    // Not resumed unless it can never be resumed again.
    if (std::optional<QString> error = rememberConsumed(*request, now)) {
        m_rejection = text(updateRejection::claimFailed);
        return {std::nullopt, std::move(error)};
    }
    return {receipt, std::nullopt};
}

void UpdateResumeStore::cancel()
{
    removeQuietly(path(updateRequestFileName));
    removeQuietly(path(updateResumeFileName));
}

} // namespace verticora
