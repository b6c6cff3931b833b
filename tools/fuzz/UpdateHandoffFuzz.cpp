// The two files of an update handoff as the two instances read them. The input is the
// request, a zero byte, then the receipt. Whatever they hold, the new instance resumes
// from a receipt only when every check passes, and leaves no handoff file behind; the old
// instance answers only a request addressed to it, with a receipt that reads back equal.

#include "FuzzSupport.h"

#include "store/UpdateResumeStore.h"

#include <QDir>

#include <algorithm>
#include <vector>

using namespace verticora;
using namespace verticora::fuzz;

namespace {

constexpr double now = 1'700'000'000;
constexpr qint32 oldPID = 4100;
constexpr qint32 newPID = 4200;

// The memory of resumed handoffs is no handoff file.
bool noHandoffFileLeft(const ScratchFolder& folder)
{
    const QDir dir(folder.file(QString()));
    QStringList left = dir.entryList({QStringLiteral("update-*"), QStringLiteral(".update-consumed-*")},
                                     QDir::Files | QDir::Hidden);
    left.removeAll(QString::fromLatin1(updateConsumedFileName));
    return left.isEmpty();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const ScratchFolder folder;
    const QByteArray input = bytesOf(data, size);
    const qsizetype split = input.indexOf('\0');
    const QByteArray request = split < 0 ? input : input.left(split);
    const QByteArray receipt = split < 0 ? QByteArray() : input.mid(split + 1);
    const QString directory = folder.file(QString());
    const Leftovers leftovers(folder, {QStringLiteral("update-request.json"), QStringLiteral("update-resume.json"),
                                       QString::fromLatin1(updateConsumedFileName)});
    const std::vector<QString> rejections{QString::fromUtf8(updateRejection::invalid.data()),
                                          QString::fromUtf8(updateRejection::settingsChanged.data())};

    // The new instance.
    folder.write(QStringLiteral("update-request.json"), request);
    folder.write(QStringLiteral("update-resume.json"), receipt);
    UpdateResumeStore next(directory, QStringLiteral("42"), newPID, [] { return now; });
    const UpdateResumeStore::Consumption consumed = next.consume();
    require(noHandoffFileLeft(folder), "both files are gone whatever the receipt held");
    require(!consumed.claimError, "a receipt nobody else claims is claimed");
    if (consumed.receipt) {
        const std::optional<UpdateResumeReceipt> read = UpdateResumeReceipt::decode(receipt);
        require(read == consumed.receipt, "the receipt resumed is the file as written");
        const UpdateResumeRequest& copy = consumed.receipt->request;
        require(copy.valid(now) && copy.toBuild == QStringLiteral("42") && copy.sourcePID != newPID,
                "only a fresh request for this build from another process resumes");
        require(consumed.receipt->state.valid(), "only a valid state resumes");
        require(!next.rejection(), "a resumed receipt has no rejection");
    } else {
        require(next.rejection() && std::find(rejections.begin(), rejections.end(), *next.rejection()) != rejections.end(),
                "a receipt that resumes nothing says why, in the user's words");
    }

    // The old instance, answering the same request, as if nothing had been resumed yet.
    QFile::remove(folder.file(QString::fromLatin1(updateConsumedFileName)));
    folder.write(QStringLiteral("update-request.json"), request);
    UpdateResumeStore previous(directory, QStringLiteral("41"), oldPID, [] { return now; });
    UpdateSessionState state;
    state.mode = UpdateSessionMode::paused;
    state.cameraID = QStringLiteral("usb-cam-1");
    state.pauseUntilUnix = now + 600;
    const UpdateResumeStore::Preparation prepared = previous.prepareForTermination(state);
    require(!prepared.error, "the scratch folder takes a receipt");
    if (!prepared.written) {
        require(noHandoffFileLeft(folder), "a request not answered is deleted");
        return 0;
    }
    const std::optional<UpdateResumeReceipt> written = UpdateResumeReceipt::decode(folder.read("update-resume.json"));
    require(written.has_value(), "the receipt written reads back");
    require(written->request.valid(now) && written->request.fromBuild == QStringLiteral("41")
                && written->request.sourcePID == oldPID,
            "only a fresh request addressed to this build and process is answered");
    require(written->state == state && written->schema == 1, "the receipt holds the state as given");
    return 0;
}
