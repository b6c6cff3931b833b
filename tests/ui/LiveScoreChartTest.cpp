#include "ui/LiveScoreChart.h"

#include <QAccessible>
#include <QAccessibleInterface>
#include <QTest>

#include <gtest/gtest.h>

using namespace verticora;

namespace {

constexpr WallTime now = 1'700'000'000;
const QSizeF canvas(310, 112); // a plot 300 wide and 100 high inside the insets

LiveScorePoint at(double secondsAgo, std::optional<double> score)
{
    return LiveScorePoint{now - secondsAgo, score, false};
}

using Stroke = std::optional<PostureBand>;

QList<Stroke> strokes(const LiveScoreDrawing& drawing)
{
    QList<Stroke> result;
    for (const LiveScoreSegment& segment : drawing.segments)
        result << segment.band;
    return result;
}

constexpr Stroke dotted;
constexpr Stroke green = PostureBand::green;
constexpr Stroke yellow = PostureBand::yellow;
constexpr Stroke red = PostureBand::red;

} // namespace

TEST(LiveScoreDrawing, eachSegmentTakesTheBandOfItsNewerPoint)
{
    const auto drawing = LiveScoreDrawing::of(
        {at(4, 90), at(3.5, 85), at(3, 84.9), at(2.5, 50), at(2, 49.9), at(1.5, 100)}, std::nullopt, now, canvas);
    EXPECT_EQ(strokes(drawing), (QList{green, yellow, yellow, red, green}));
    // The right edge is now, score 100 at the top, 0 at the bottom.
    EXPECT_EQ(drawing.segments.last().to, QPointF(302.5, 6));
    EXPECT_EQ(LiveScoreDrawing::position(now, 0, now, canvas), QPointF(304, 106));
}

TEST(LiveScoreDrawing, untrackedTimeIsBridgedByDottedLinks)
{
    // Two readings 2 s apart with no gap marker between them.
    EXPECT_EQ(strokes(LiveScoreDrawing::of({at(10, 90), at(8, 90)}, std::nullopt, now, canvas)), (QList{dotted}));
    // A gap marker between readings 1 s apart.
    EXPECT_EQ(strokes(LiveScoreDrawing::of({at(10, 90), at(9.5, std::nullopt), at(9, 90), at(8.5, 90)}, std::nullopt,
                                           now, canvas)),
              (QList{dotted, green}));
    // A reading 1.5 s after the previous one still continues the line.
    EXPECT_EQ(strokes(LiveScoreDrawing::of({at(10, 60), at(8.5, 60)}, std::nullopt, now, canvas)), (QList{yellow}));
}

TEST(LiveScoreDrawing, onlyTheLastFiveMinutesAreDrawn)
{
    const auto drawing = LiveScoreDrawing::of({at(300.5, 90), at(300, 90), at(299.5, 90), at(-1, 90)}, std::nullopt,
                                              now, canvas);
    ASSERT_EQ(drawing.segments.size(), 1);
    EXPECT_EQ(drawing.segments[0].from.x(), 4) << "a point exactly five minutes old sits on the left edge";
    // A gap marker older than the window does not turn the first visible segment into a link.
    EXPECT_EQ(strokes(LiveScoreDrawing::of({at(301, std::nullopt), at(299.5, 90), at(299, 90)}, std::nullopt, now,
                                           canvas)),
              (QList{green}));
    EXPECT_TRUE(LiveScoreDrawing::of({}, std::nullopt, now, canvas).segments.isEmpty());
}

TEST(LiveScoreDrawing, markerSitsOnTheLiveEndInItsBand)
{
    const auto drawing = LiveScoreDrawing::of({at(1, 70), at(0.5, 40)}, at(0.5, 40), now, canvas);
    ASSERT_TRUE(drawing.marker);
    EXPECT_EQ(drawing.marker->band, red);
    EXPECT_EQ(drawing.marker->centre, drawing.segments.last().to);
    EXPECT_FALSE(LiveScoreDrawing::of({at(1, 70)}, at(1, std::nullopt), now, canvas).marker);
}

TEST(LiveScoreChart, headerSummaryAndRedrawFollowTheStoreAndTheWindow)
{
    LiveScoreStore store;
    LiveScoreChart chart(store);
    chart.setClock([] { return now; });
    chart.setInactiveStatus(QStringLiteral("Camera off"));
    EXPECT_EQ(chart.scoreText(), QStringLiteral("—"));
    QAccessibleInterface* plot = QAccessible::queryAccessibleInterface(chart.plot());
    EXPECT_EQ(plot->text(QAccessible::Name), QStringLiteral("Live score chart, last five minutes"));
    EXPECT_EQ(plot->text(QAccessible::Value), QStringLiteral("Camera off. No readings in the last five minutes."));

    store.record(0.45, 0.45, 0.85, now - 0.2, true);
    EXPECT_EQ(chart.scoreText(), QStringLiteral("85"));
    EXPECT_TRUE(plot->text(QAccessible::Value).startsWith(QStringLiteral("Current 85 out of 100.")));

    EXPECT_FALSE(chart.refreshing()) << "no redraws while not shown";
    chart.show();
    EXPECT_TRUE(chart.refreshing());
    const int normal = chart.refreshInterval();
    chart.setReduceMotion(true);
    EXPECT_EQ(chart.refreshInterval(), 3 * normal + 1) << "once a second instead of three times";
    chart.hide();
    EXPECT_FALSE(chart.refreshing());
}
