#include "StoreTestSupport.h"

#include "store/DiagnosticVisualPolicy.h"
#include "store/TrackingPerformance.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <memory>

using namespace verticora;
using namespace verticora::test;

namespace {

// Both clocks of the process, set by hand; they move apart when the test sets the wall
// clock alone.
struct Clocks {
    double wall = 1'700'000'000;
    double up = 5000;
    void advance(double seconds)
    {
        wall += seconds;
        up += seconds;
    }
};

QByteArray request(double expires, const QString& extra = {})
{
    return QStringLiteral("{\"expires\":%1%2}").arg(expires, 0, 'f', 3).arg(extra).toUtf8();
}

class DiagnosticsTest : public ::testing::Test {
protected:
    void writeRequest(const QByteArray& bytes) { writeBytes(m_folder.file(QStringLiteral("performance-request.json")), bytes); }
    void removeRequest() { QFile::remove(m_folder.file(QStringLiteral("performance-request.json"))); }
    [[nodiscard]] QJsonArray samples() const
    {
        return QJsonDocument::fromJson(readBytes(m_folder.file(QStringLiteral("performance-samples.json")))).array();
    }

    TempFolder m_folder;
    Clocks m_clocks;
    std::shared_ptr<DiagnosticVisualPolicy> m_policy = std::make_shared<DiagnosticVisualPolicy>(
        [this] { return m_clocks.wall; }, [this] { return m_clocks.up; });
};

} // namespace

TEST(DiagnosticVisualRequest, isAcceptedForAtMostFifteenMinutesAndOnlyWhenItDecodes)
{
    const double now = 1'700'000'000;
    EXPECT_TRUE(DiagnosticVisualRequest::accepted(request(now + 900), now));
    EXPECT_FALSE(DiagnosticVisualRequest::accepted(request(now + 901), now));
    EXPECT_FALSE(DiagnosticVisualRequest::accepted(request(now), now)) << "already over";
    EXPECT_FALSE(DiagnosticVisualRequest::accepted(std::nullopt, now)) << "no file";
    EXPECT_FALSE(DiagnosticVisualRequest::accepted(request(now + 60, ",\"visual_mode\":3"), now));
    EXPECT_FALSE(DiagnosticVisualRequest::accepted(request(now + 60, ",\"tracker_radius\":9.5"), now));
    EXPECT_FALSE(DiagnosticVisualRequest::accepted(QByteArrayLiteral("{\"expires\":\"soon\"}"), now));
    EXPECT_TRUE(DiagnosticVisualRequest::accepted(request(now + 60, ",\"visual_mode\":null"), now));
}

TEST(DiagnosticVisualLease, endsByWhicheverClockPassesItsEndFirst)
{
    Clocks clocks;
    DiagnosticVisualLease lease;
    lease.replace(request(clocks.wall + 600, ",\"visual_mode\":\"no-smoke\""), clocks.wall, clocks.up);
    ASSERT_EQ(lease.mode(clocks.wall, clocks.up), DiagnosticVisualMode::noSmoke);

    Clocks setBack = clocks;
    setBack.wall -= 3600; // the user sets the system clock back an hour
    setBack.up += 601;
    EXPECT_FALSE(lease.active(setBack.wall, setBack.up)) << "the uptime deadline still ends it";

    Clocks jumped = clocks;
    jumped.wall += 601; // the wall clock jumps forward
    EXPECT_FALSE(lease.active(jumped.wall, jumped.up));
    EXPECT_EQ(lease.mode(jumped.wall, jumped.up), DiagnosticVisualMode::full);
}

TEST(DiagnosticVisualLease, aNewExpiryMovesTheDeadlineAndTheSameOneKeepsIt)
{
    Clocks clocks;
    DiagnosticVisualLease lease;
    const double expires = clocks.wall + 300;
    lease.replace(request(expires), clocks.wall, clocks.up);
    const double deadline = lease.deadline;

    clocks.advance(100);
    lease.replace(request(expires, ",\"visual_mode\":\"no-glow\""), clocks.wall, clocks.up);
    EXPECT_EQ(lease.deadline, deadline) << "rewritten with the same expires";
    EXPECT_EQ(lease.mode(clocks.wall, clocks.up), DiagnosticVisualMode::noGlow);

    lease.replace(request(expires + 400), clocks.wall, clocks.up);
    EXPECT_EQ(lease.deadline, clocks.up + 600);
}

TEST(DiagnosticVisualLease, tracksOnlyTheSettingsItHonours)
{
    Clocks clocks;
    DiagnosticVisualLease lease;
    const auto with = [&](const QString& extra) {
        lease = {};
        lease.replace(request(clocks.wall + 60, extra), clocks.wall, clocks.up);
    };
    with(QStringLiteral(",\"tracker_radius\":9,\"tracker_mode\":\"FULL\",\"visual_mode\":\"sparkles\""));
    EXPECT_EQ(lease.trackerRadius(clocks.wall, clocks.up), 7);
    EXPECT_FALSE(lease.forcesFullTracker(clocks.wall, clocks.up));
    EXPECT_EQ(lease.mode(clocks.wall, clocks.up), DiagnosticVisualMode::full) << "an unknown mode is full";

    with(QStringLiteral(",\"tracker_radius\":12,\"tracker_mode\":\"full\",\"visual_mode\":\"frozen-icon\""));
    EXPECT_EQ(lease.trackerRadius(clocks.wall, clocks.up), 12);
    EXPECT_TRUE(lease.forcesFullTracker(clocks.wall, clocks.up));
    EXPECT_EQ(lease.mode(clocks.wall, clocks.up), DiagnosticVisualMode::frozenIcon);

    clocks.advance(61);
    EXPECT_EQ(lease.trackerRadius(clocks.wall, clocks.up), 7) << "an ended lease steers nothing";
    EXPECT_FALSE(lease.forcesFullTracker(clocks.wall, clocks.up));
}

TEST_F(DiagnosticsTest, thePolicyPublishesEachModeChangeOnceAndSchedulesTheExpiry)
{
    QSignalSpy changes(m_policy.get(), &DiagnosticVisualPolicy::modeChanged);
    m_policy->configure(m_folder.path());
    EXPECT_TRUE(m_policy->reloading());
    EXPECT_EQ(changes.count(), 0) << "without a request file nothing changes";
    EXPECT_FALSE(m_policy->expiryDelay());

    writeRequest(request(m_clocks.wall + 42.5, QStringLiteral(",\"visual_mode\":\"no-visuals\"")));
    m_policy->refresh();
    m_policy->refresh();
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(m_policy->publishedMode(), DiagnosticVisualMode::noVisuals);
    EXPECT_EQ(m_policy->expiryDelay(), 42500) << "the mode falls back on time, between reloads";

    m_clocks.advance(42.5);
    m_policy->refresh(); // what the expiry timer runs
    EXPECT_EQ(changes.count(), 2);
    EXPECT_EQ(m_policy->publishedMode(), DiagnosticVisualMode::full);
    EXPECT_FALSE(m_policy->expiryDelay());

    writeRequest(request(m_clocks.wall + 60, QStringLiteral(",\"visual_mode\":\"no-glow\"")));
    m_policy->refresh();
    removeRequest();
    m_policy->refresh();
    EXPECT_EQ(changes.count(), 4) << "a deleted request file ends the lease at the next reload";
    EXPECT_FALSE(m_policy->isEnabled());
}

TEST_F(DiagnosticsTest, samplesCountOnlyValidReadingsCloseTogetherWhileALeaseRuns)
{
    TrackingPerformance performance(m_folder.path(), m_policy);
    performance.record(true, QStringLiteral("inside"), m_clocks.up);
    performance.record(true, QStringLiteral("inside"), m_clocks.up + 0.5);
    performance.report({true, false, true});
    EXPECT_EQ(performance.samples(), 0) << "no lease, nothing counted";
    EXPECT_FALSE(QFile::exists(performance.output())) << "no lease, nothing written";

    writeRequest(request(m_clocks.wall + 900));
    m_policy->refresh();
    performance.record(true, QStringLiteral("inside"), m_clocks.up);
    performance.record(true, QStringLiteral("inside"), m_clocks.up + 0.5);
    performance.record(true, QStringLiteral("yellow"), m_clocks.up + 1.2);
    performance.record(false, QStringLiteral("lost"), m_clocks.up + 1.4);
    performance.record(true, QStringLiteral("yellow"), m_clocks.up + 1.6);
    EXPECT_DOUBLE_EQ(performance.tracked(), 0.5) << "0.7 s apart adds nothing; an invalid frame breaks the run";
    EXPECT_EQ(performance.samples(), 4);
    EXPECT_EQ(performance.bands().value(QStringLiteral("yellow")).toInt(), 2);

    performance.frameAnalysed({.frames = 17});
    performance.report({true, false, true});
    const QJsonArray rows = samples();
    ASSERT_EQ(rows.size(), 1);
    const QJsonObject row = rows.first().toObject();
    EXPECT_EQ(row.value(QStringLiteral("valid_samples")).toInt(), 4);
    const QJsonObject capture = row.value(QStringLiteral("capture")).toObject();
    EXPECT_EQ(capture.value(QStringLiteral("frames")).toInt(), 17);
    EXPECT_FALSE(capture.contains(QStringLiteral("motion_difference"))) << "written only when measured";
    EXPECT_EQ(row.value(QStringLiteral("visual_mode")).toString(), QStringLiteral("full"));
    EXPECT_GT(row.value(QStringLiteral("cpu_seconds")).toDouble(), 0.0);
    EXPECT_EQ(permissionBits(performance.output()), 0600u);

    m_clocks.advance(4.9);
    performance.report({true, false, true});
    EXPECT_EQ(samples().size(), 1) << "one row every five seconds";
}

TEST_F(DiagnosticsTest, theSampleFileKeepsTheNewest180RowsAndStaysAsItWasAfterTheLease)
{
    TrackingPerformance performance(m_folder.path(), m_policy);
    for (int i = 0; i < 181; ++i) {
        if (i % 90 == 0) { // a lease lasts 15 minutes at most; the tool renews it
            writeRequest(request(m_clocks.wall + 900));
            m_policy->refresh();
        }
        performance.report({true, false, true});
        m_clocks.advance(5);
    }
    const double lastUptime = m_clocks.up - 5;
    const QJsonArray rows = samples();
    ASSERT_EQ(rows.size(), 180);
    EXPECT_EQ(rows.last().toObject().value(QStringLiteral("uptime")).toDouble(), lastUptime);
    EXPECT_EQ(rows.first().toObject().value(QStringLiteral("uptime")).toDouble(), lastUptime - 179 * 5);

    const QByteArray last = readBytes(performance.output());
    removeRequest();
    m_policy->refresh();
    m_clocks.advance(5);
    performance.report({true, false, true});
    EXPECT_EQ(readBytes(performance.output()), last);
}
