#include "store/UpdateResumeStore.h"

#include "store/ControlFile.h"
#include "store/DataFolder.h"
#include "store/JsonReader.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QUuid>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <limits>

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

// Deletes a file, ignoring every error (for instance that it does not exist).
void removeQuietly(const QString& path)
{
    QFile::remove(path);
}

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
}

QString UpdateResumeStore::path(const char* name) const
{
    return m_directory + u'/' + QLatin1StringView(name);
}

QString UpdateResumeStore::preferencesDigest(const QString& directory)
{
    const QString path = directory + u'/' + QLatin1StringView(preferencesFileName);
    QFile file(path);
    if (!file.exists())
        return UpdateSessionState::absentDigest;
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file) || file.error() != QFileDevice::NoError)
        return {};
    return QString::fromLatin1(hash.result().toHex());
}

UpdateResumeStore::Preparation UpdateResumeStore::prepareForTermination(const UpdateSessionState& state)
{
    const std::optional<QByteArray> bytes = readControlFile(path(updateRequestFileName));
    const std::optional<UpdateResumeRequest> request = bytes ? decodeRequest(*bytes) : std::nullopt;
    const bool answerable = request && request->valid(m_now()) && request->fromBuild == m_build
        && request->sourcePID == m_processID && state.valid()
        && preferencesDigest(m_directory) == state.preferencesDigest;
    if (!answerable) {
        cancel();
        return {};
    }
    const UpdateResumeReceipt receipt{1, *request, state};
    if (std::optional<QString> error = writeFileAtomically(path(updateResumeFileName), receipt.encode()))
        return {false, std::move(error)};
    return {true, std::nullopt};
}

UpdateResumeStore::Consumption UpdateResumeStore::consume()
{
    m_rejection.reset();
    const QString requestPath = path(updateRequestFileName);
    const QString receiptPath = path(updateResumeFileName);
    if (!QFileInfo::exists(receiptPath)) {
        removeQuietly(requestPath);
        return {};
    }
    // Anything but a file (a folder, a device) would survive the claim's rename and stay.
    if (!QFileInfo(receiptPath).isFile()) {
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
    const bool genuine = request && receipt && receipt->schema == 1 && receipt->request == *request
        && request->valid(m_now()) && request->toBuild == m_build && request->sourcePID != m_processID
        && receipt->state.valid();
    if (!genuine) {
        m_rejection = text(updateRejection::invalid);
        return {};
    }
    if (preferencesDigest(m_directory) != receipt->state.preferencesDigest) {
        m_rejection = text(updateRejection::settingsChanged);
        return {};
    }
    return {receipt, std::nullopt};
}

void UpdateResumeStore::cancel()
{
    removeQuietly(path(updateRequestFileName));
    removeQuietly(path(updateResumeFileName));
}

} // namespace verticora
