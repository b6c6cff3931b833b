#pragma once

#include "store/SettingsEnums.h"
#include "store/WallClock.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <map>
#include <optional>
#include <string_view>

namespace verticora {

inline constexpr char updateRequestFileName[] = "update-request.json";
inline constexpr char updateResumeFileName[] = "update-resume.json";
// The operation IDs of handoffs already resumed, until their requests expire.
inline constexpr char updateConsumedFileName[] = "update-consumed.json";

// Why a new instance resumed nothing, in the words the user sees (between "Update
// installed. " and " Turn Camera on when ready.").
namespace updateRejection {
inline constexpr std::string_view claimFailed = "The update handoff could not be consumed safely.";
inline constexpr std::string_view invalid = "The update handoff was invalid or expired.";
inline constexpr std::string_view settingsChanged = "Your settings changed after the update was prepared.";
} // namespace updateRejection

// What an updater writes into update-request.json before it asks the running instance
// to quit; the receipt carries a copy.
struct UpdateResumeRequest {
    static constexpr double maximumLifetime = 300;  // seconds from createdAt to expiresAt
    static constexpr double maximumClockSkew = 5;   // seconds createdAt may lie ahead

    qint64 schema = 1;
    QString operationID; // a UUID in its standard text form
    QString fromBuild;
    QString toBuild;
    qint32 sourcePID = 0;
    double createdAt = 0; // seconds since 1970
    double expiresAt = 0;

    [[nodiscard]] bool valid(double now) const;
    [[nodiscard]] QJsonObject toJson() const;
    // Every key present with its type and a PID that fits in 32 bits; rules are `valid`'s.
    [[nodiscard]] static std::optional<UpdateResumeRequest> fromJson(const QJsonObject& object);

    friend bool operator==(const UpdateResumeRequest&, const UpdateResumeRequest&) = default;
};

namespace handoff {
Q_NAMESPACE
enum class UpdateSessionMode { tracking, paused, off, setup };
Q_ENUM_NS(UpdateSessionMode)
} // namespace handoff
using handoff::UpdateSessionMode;

// What the old instance was doing when it quit for an update.
struct UpdateSessionState {
    inline static const QString absentDigest = QStringLiteral("absent");
    static constexpr double longestPause = 720 * 60; // seconds; the longest pause one can ask for

    UpdateSessionMode mode = UpdateSessionMode::off;
    QString cameraID;
    std::optional<double> pauseUntilUnix; // end of a timed pause, seconds since 1970
    QString page = QStringLiteral("Posture");
    bool controlsVisible = true;
    QString preferencesDigest = absentDigest; // SHA-256 of preferences.json, or "absent"

    [[nodiscard]] bool valid() const;
    // A pause that could have been asked for before a handoff still alive at `now`: it
    // ends within the longest pause plus a request's lifetime.
    [[nodiscard]] bool pauseWithinReach(double now) const;
    [[nodiscard]] QJsonObject toJson() const;
    [[nodiscard]] static std::optional<UpdateSessionState> fromJson(const QJsonObject& object);

    friend bool operator==(const UpdateSessionState&, const UpdateSessionState&) = default;
};

// The content of update-resume.json.
struct UpdateResumeReceipt {
    qint64 schema = 1;
    UpdateResumeRequest request;
    UpdateSessionState state;

    [[nodiscard]] QByteArray encode() const;
    [[nodiscard]] static std::optional<UpdateResumeReceipt> decode(const QByteArray& bytes);

    friend bool operator==(const UpdateResumeReceipt&, const UpdateResumeReceipt&) = default;
};

// The two-file handoff between an instance that quits for an update and the new build
// that replaces it, in the data folder. Fails closed everywhere: whatever is missing,
// expired, addressed to someone else or tampered with resumes nothing, and every file it
// looked at is gone afterwards. Main thread only.
class UpdateResumeStore {
public:
    // What prepareForTermination did: wrote a receipt, wrote nothing (not addressed to
    // this instance, or nothing to answer), or failed to write with a reason.
    struct Preparation {
        bool written = false;
        std::optional<QString> error; // one sentence
    };

    // What consume found: a receipt to resume from, or none. `claimError` is set when the
    // receipt could not even be claimed (another instance took it first).
    struct Consumption {
        std::optional<UpdateResumeReceipt> receipt;
        std::optional<QString> claimError;
    };

    UpdateResumeStore(QString directory, QString build, qint32 processID, WallClock now = systemWallTime);

    // The old instance, while it terminates: answers a request addressed to exactly this
    // build and process with a receipt holding `state`. Deletes both files whenever it
    // writes none.
    [[nodiscard]] Preparation prepareForTermination(const UpdateSessionState& state);
    // The new instance, at launch: claims the receipt by renaming it, checks it against the
    // request and the preferences, and deletes both files whatever the outcome. A handoff
    // is resumed once: its operation ID is remembered until the request expires, so a copy
    // of it put back resumes nothing. Sets `rejection` when it resumes nothing for a reason
    // the user should see.
    [[nodiscard]] Consumption consume();
    // Deletes both files; a quit the user asked for never leaves a handoff behind.
    void cancel();

    [[nodiscard]] const std::optional<QString>& rejection() const { return m_rejection; }
    [[nodiscard]] const QString& directory() const { return m_directory; }
    [[nodiscard]] const QString& build() const { return m_build; }
    [[nodiscard]] qint32 processID() const { return m_processID; }

    // The SHA-256 of preferences.json in `directory` as 64 lowercase hexadecimal digits,
    // "absent" when there is no such file, or an empty string (never a valid digest) when
    // it exists but cannot be read.
    [[nodiscard]] static QString preferencesDigest(const QString& directory);

private:
    [[nodiscard]] QString path(const char* name) const;
    // Operation IDs already resumed (in lower case, as a UUID may be written in either),
    // with the expiry of their requests; expired ones dropped.
    [[nodiscard]] std::map<QString, double> consumedOperations(double now) const;
    [[nodiscard]] std::optional<QString> rememberConsumed(const UpdateResumeRequest& request, double now) const;

    QString m_directory;
    QString m_build;
    qint32 m_processID;
    WallClock m_now;
    std::optional<QString> m_rejection;
};

} // namespace verticora
