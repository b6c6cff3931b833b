#include "StoreTestSupport.h"

#include "store/UpdateResumeStore.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <cmath>
#include <limits>
#include <thread>

using namespace verticora;
using namespace verticora::test;

namespace {

constexpr qint32 oldPID = 4100;
constexpr qint32 newPID = 4200;
const QString invalidHandoff = QStringLiteral("The update handoff was invalid or expired.");

UpdateResumeRequest requestAt(double now)
{
    return {1, QStringLiteral("1B4E28BA-2FA1-11D2-883F-0016D3CCA427"), QStringLiteral("41"), QStringLiteral("42"),
            oldPID, now, now + 120};
}

class UpdateResumeStoreTest : public ::testing::Test {
protected:
    [[nodiscard]] UpdateSessionState tracking() const
    {
        UpdateSessionState state;
        state.mode = UpdateSessionMode::tracking;
        state.cameraID = QStringLiteral("usb-cam-1");
        state.page = QStringLiteral("Progress");
        state.controlsVisible = false;
        state.preferencesDigest = UpdateResumeStore::preferencesDigest(m_folder.path());
        return state;
    }
    void writeRequest(const UpdateResumeRequest& request)
    {
        writeBytes(m_requestPath, QJsonDocument(request.toJson()).toJson(QJsonDocument::Compact));
    }
    // The old instance answers a fresh request with a receipt.
    void prepare()
    {
        writeRequest(requestAt(m_clock.time));
        ASSERT_TRUE(m_old.prepareForTermination(tracking()).written);
    }
    // Every handoff file is gone: request, receipt and any claimed copy.
    [[nodiscard]] bool folderClean() const
    {
        const QStringList names = fileNames(m_folder.path());
        return !names.contains(QStringLiteral("update-request.json"))
            && !names.contains(QStringLiteral("update-resume.json"))
            && names.filter(QStringLiteral(".update-consumed-")).isEmpty();
    }

    TempFolder m_folder;
    QString m_requestPath = m_folder.file(QStringLiteral("update-request.json"));
    QString m_receiptPath = m_folder.file(QStringLiteral("update-resume.json"));
    ManualClock m_clock;
    UpdateResumeStore m_old{m_folder.path(), QStringLiteral("41"), oldPID, m_clock.function()};
    UpdateResumeStore m_new{m_folder.path(), QStringLiteral("42"), newPID, m_clock.function()};
};

} // namespace

TEST(UpdateResumeRequest, validityFollowsEveryRuleAtItsBoundary)
{
    const double now = 1'700'000'000;
    EXPECT_TRUE(requestAt(now).valid(now));

    const auto invalid = [&](auto change, const char* what) {
        UpdateResumeRequest request = requestAt(now);
        change(request);
        EXPECT_FALSE(request.valid(now)) << what;
    };
    invalid([&](auto& r) { r.expiresAt = r.createdAt + 301; }, "a 301-second lifetime");
    invalid([&](auto& r) { r.createdAt = now + 6; r.expiresAt = now + 60; }, "created 6 s in the future");
    invalid([](auto& r) { r.operationID = QStringLiteral("not-a-uuid"); }, "an operation ID that is not a UUID");
    invalid([](auto& r) { r.operationID = QStringLiteral("{1b4e28ba-2fa1-11d2-883f-0016d3cca427}"); }, "braces");
    invalid([](auto& r) { r.toBuild = r.fromBuild; }, "equal builds");
    invalid([](auto& r) { r.fromBuild.clear(); }, "an empty build");
    invalid([](auto& r) { r.sourcePID = 0; }, "PID 0");
    invalid([](auto& r) { r.schema = 2; }, "schema 2");
    invalid([&](auto& r) { r.expiresAt = now; }, "expiring now");
    EXPECT_FALSE(requestAt(now).valid(std::numeric_limits<double>::quiet_NaN()));

    UpdateResumeRequest edge = requestAt(now);
    edge.createdAt = now + 5;
    edge.expiresAt = edge.createdAt + 300;
    EXPECT_TRUE(edge.valid(now)) << "5 s of skew and a five-minute lifetime are allowed";

    QJsonObject tooLargePID = requestAt(now).toJson();
    tooLargePID.insert(QStringLiteral("sourcePID"), 2147483648.0);
    EXPECT_FALSE(UpdateResumeRequest::fromJson(tooLargePID)) << "a PID beyond 32 bits does not decode";
}

TEST_F(UpdateResumeStoreTest, theOldInstanceAnswersOnlyARequestAddressedToItsBuildAndProcess)
{
    UpdateResumeRequest foreign = requestAt(m_clock.time);
    foreign.sourcePID = oldPID + 1;
    writeRequest(foreign);
    EXPECT_FALSE(m_old.prepareForTermination(tracking()).written);
    EXPECT_TRUE(folderClean()) << "a request for another process is deleted, and no receipt written";

    UpdateResumeRequest otherBuild = requestAt(m_clock.time);
    otherBuild.fromBuild = QStringLiteral("40");
    writeRequest(otherBuild);
    EXPECT_FALSE(m_old.prepareForTermination(tracking()).written);
    EXPECT_TRUE(folderClean());

    writeRequest(requestAt(m_clock.time));
    UpdateSessionState noCamera = tracking();
    noCamera.cameraID = QStringLiteral(" \n");
    EXPECT_FALSE(m_old.prepareForTermination(noCamera).written) << "tracking needs a camera";
    EXPECT_TRUE(folderClean());

    writeRequest(requestAt(m_clock.time));
    EXPECT_FALSE(m_old.prepareForTermination(tracking()).error);
    EXPECT_EQ(permissionBits(m_receiptPath), 0600u) << "the receipt is written, private";
    EXPECT_TRUE(QFile::exists(m_requestPath)) << "the new instance needs the request to check the receipt";
}

TEST_F(UpdateResumeStoreTest, theNewInstanceResumesFromAGenuineReceiptAndLeavesNoFileBehind)
{
    EXPECT_EQ(UpdateResumeStore::preferencesDigest(m_folder.path()), QStringLiteral("absent"));
    writeBytes(m_folder.file(QStringLiteral("preferences.json")), QByteArrayLiteral("abc"));
    EXPECT_EQ(UpdateResumeStore::preferencesDigest(m_folder.path()),
              QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    prepare();
    const QJsonObject receipt = QJsonDocument::fromJson(readBytes(m_receiptPath)).object();
    EXPECT_EQ(receipt[QStringLiteral("state")][QStringLiteral("mode")].toString(), QStringLiteral("tracking"))
        << "the name an older or newer build reads";

    m_clock.time += 10;
    const UpdateResumeStore::Consumption consumed = m_new.consume();
    ASSERT_TRUE(consumed.receipt);
    EXPECT_EQ(consumed.receipt->state, tracking());
    EXPECT_EQ(consumed.receipt->request, requestAt(m_clock.time - 10));
    EXPECT_FALSE(m_new.rejection());
    EXPECT_TRUE(folderClean());
}

TEST_F(UpdateResumeStoreTest, preferencesEditedBetweenTheInstancesAreRejectedWithTheirOwnReason)
{
    writeBytes(m_folder.file(QStringLiteral("preferences.json")), QByteArrayLiteral("{\"version\":1}"));
    prepare();
    writeBytes(m_folder.file(QStringLiteral("preferences.json")), QByteArrayLiteral("{\"version\":1} "));

    EXPECT_FALSE(m_new.consume().receipt);
    EXPECT_EQ(m_new.rejection(), QStringLiteral("Your settings changed after the update was prepared."));
    EXPECT_TRUE(folderClean());
}

TEST_F(UpdateResumeStoreTest, aMissingExpiredMisaddressedOrTamperedHandoffResumesNothing)
{
    const auto expectRefused = [](UpdateResumeStore& store, const char* what) {
        EXPECT_FALSE(store.consume().receipt) << what;
        EXPECT_EQ(store.rejection(), invalidHandoff) << what;
    };

    prepare();
    QFile::remove(m_requestPath);
    expectRefused(m_new, "a receipt without its request");
    EXPECT_TRUE(folderClean());

    prepare();
    UpdateResumeRequest changed = requestAt(m_clock.time);
    changed.expiresAt += 60;
    writeRequest(changed);
    expectRefused(m_new, "a receipt that copies another request");

    prepare();
    m_clock.time += 121;
    expectRefused(m_new, "an expired request");

    prepare();
    UpdateResumeStore otherBuild(m_folder.path(), QStringLiteral("43"), newPID, m_clock.function());
    expectRefused(otherBuild, "a receipt for another build");

    prepare();
    UpdateResumeStore sameProcess(m_folder.path(), QStringLiteral("42"), oldPID, m_clock.function());
    EXPECT_FALSE(sameProcess.consume().receipt) << "the instance that wrote the receipt cannot resume from it";

    prepare();
    writeBytes(m_receiptPath, QByteArrayLiteral("{\"schema\":1}"));
    expectRefused(m_new, "a receipt that does not decode");
    EXPECT_TRUE(folderClean());

    writeRequest(requestAt(m_clock.time));
    EXPECT_FALSE(m_new.consume().receipt);
    EXPECT_FALSE(m_new.rejection()) << "a request alone is no handoff and no news to the user";
    EXPECT_TRUE(folderClean());
}

// A pause beyond any a user can ask for, or a handoff put back after it was resumed, is no
// handoff: the first would pause for ever, the second would replay an old session.
TEST_F(UpdateResumeStoreTest, anEndlessPauseOrAReplayedHandoffResumesNothing)
{
    const double reach = UpdateSessionState::longestPause + UpdateResumeRequest::maximumLifetime;
    UpdateSessionState paused = tracking();
    paused.mode = UpdateSessionMode::paused;
    paused.pauseUntilUnix = m_clock.time + reach + 1;
    writeRequest(requestAt(m_clock.time));
    EXPECT_FALSE(m_old.prepareForTermination(paused).written);

    const UpdateResumeRequest request = requestAt(m_clock.time);
    writeRequest(request);
    writeBytes(m_receiptPath, UpdateResumeReceipt{1, request, paused}.encode());
    EXPECT_FALSE(m_new.consume().receipt);
    EXPECT_EQ(m_new.rejection(), invalidHandoff) << "a pause that ends beyond reach";

    paused.pauseUntilUnix = m_clock.time + reach;
    writeRequest(request);
    ASSERT_TRUE(m_old.prepareForTermination(paused).written);
    const QByteArray requestBytes = readBytes(m_requestPath);
    const QByteArray receiptBytes = readBytes(m_receiptPath);
    ASSERT_TRUE(m_new.consume().receipt);

    // Put back, with the operation ID written in the other case.
    const auto recased = [&](QByteArray bytes) {
        return bytes.replace(request.operationID.toLatin1(), request.operationID.toLower().toLatin1());
    };
    writeBytes(m_requestPath, recased(requestBytes));
    writeBytes(m_receiptPath, recased(receiptBytes));
    UpdateResumeStore later(m_folder.path(), QStringLiteral("42"), newPID + 1, m_clock.function());
    EXPECT_FALSE(later.consume().receipt);
    EXPECT_EQ(later.rejection(), invalidHandoff) << "the same handoff a second time";
    EXPECT_TRUE(folderClean());
}

TEST_F(UpdateResumeStoreTest, twoInstancesRacingForOneReceiptLetExactlyOneWin)
{
    for (int round = 0; round < 20; ++round) {
        UpdateResumeRequest request = requestAt(m_clock.time);
        request.operationID = QUuid::createUuid().toString(QUuid::WithoutBraces);
        writeRequest(request);
        ASSERT_TRUE(m_old.prepareForTermination(tracking()).written);

        UpdateResumeStore first(m_folder.path(), QStringLiteral("42"), newPID, m_clock.function());
        UpdateResumeStore second(m_folder.path(), QStringLiteral("42"), newPID + 1, m_clock.function());
        std::atomic<int> winners = 0;
        std::barrier start(2);
        const auto claim = [&](UpdateResumeStore& store) {
            start.arrive_and_wait();
            if (store.consume().receipt)
                ++winners;
        };
        std::thread a(claim, std::ref(first));
        std::thread b(claim, std::ref(second));
        a.join();
        b.join();
        EXPECT_EQ(winners, 1) << "round " << round;
        EXPECT_TRUE(folderClean());
    }
}
