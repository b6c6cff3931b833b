#include "ui/FaceHeightGuide.h"
#include "ui/HeightThermometer.h"

#include "analysis/ThresholdRules.h"

#include <QAccessible>
#include <QAccessibleInterface>
#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace verticora;

namespace {

// The owner of a meter as the controls window is: it applies a proposal only when the
// resulting pair is valid.
struct ValidatingOwner {
    explicit ValidatingOwner(HeightThermometer& meter)
        : meter(meter)
    {
        QObject::connect(&meter, &HeightThermometer::boundaryProposed, [this](double value, bool isRed) {
            proposals.append({value, isRed});
            const double yellow = isRed ? this->meter.yellow() : value;
            const double red = isRed ? value : this->meter.red();
            if (isValidThresholdPair(yellow, red))
                this->meter.setLevels(yellow, red);
        });
    }
    HeightThermometer& meter;
    QList<std::pair<double, bool>> proposals;
};

// A pointer at height `meterY` of the meter, in the coordinates of `marker` as it sits now.
QPoint pointerAt(const HeightThermometer& meter, const QWidget* marker, double meterY)
{
    const QPoint inMeter(meter.meterRect().left() + 60, meter.meterRect().top() + static_cast<int>(meterY));
    return marker->mapFrom(&meter, inMeter);
}

QString accessibleText(QWidget* widget, QAccessible::Text kind)
{
    return QAccessible::queryAccessibleInterface(widget)->text(kind);
}

class HeightThermometerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        meter.resize(260, 320);
        meter.setLevels(0.45, 0.85);
        meter.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&meter));
    }

    HeightThermometer meter;
};

} // namespace

TEST_F(HeightThermometerTest, dragProposesThePointerHeightUnlimitedAndFocusesTheMarker)
{
    QSignalSpy proposals(&meter, &HeightThermometer::boundaryProposed);
    // This owner takes anything, so the marker follows the pointer and clamps at the end.
    QObject::connect(&meter, &HeightThermometer::boundaryProposed,
            [this](double value, bool isRed) { meter.setLevels(isRed ? meter.yellow() : value, isRed ? value : meter.red()); });
    QWidget* red = meter.marker(true);
    const QPoint grab = red->rect().center();
    QTest::mousePress(red, Qt::LeftButton, {}, grab);
    EXPECT_EQ(proposals.count(), 0) << "a press alone moves nothing";
    EXPECT_EQ(meter.focusedBoundary(), std::optional<bool>(true));

    for (const auto& [y, expected] : {std::pair{97.0, 1.5}, {169.0, 3.0}, {241.0, 4.5}, {25.0, 0.0}, {-23.0, -1.0}}) {
        QTest::mouseMove(red, pointerAt(meter, red, y));
        ASSERT_FALSE(proposals.isEmpty());
        EXPECT_NEAR(proposals.last().at(0).toDouble(), expected, 1e-9) << "pointer at " << y;
        EXPECT_TRUE(proposals.last().at(1).toBool());
    }
    QTest::mouseRelease(red, Qt::LeftButton, {}, pointerAt(meter, red, 25));
    const qsizetype afterRelease = proposals.count();
    QTest::mouseMove(red, pointerAt(meter, red, 100));
    EXPECT_EQ(proposals.count(), afterRelease) << "moving without the button is no drag";
}

TEST_F(HeightThermometerTest, markerFollowsItsValueOnTheScaleAndClampsAtTheEnds)
{
    QWidget* yellow = meter.marker(false);
    const auto centreY = [&](QWidget* marker) { return marker->geometry().center().y() - meter.meterRect().top(); };
    meter.setLevels(0.75, 1.5);
    EXPECT_NEAR(centreY(yellow), 25 + 36, 1);
    EXPECT_NEAR(centreY(meter.marker(true)), 25 + 72, 1);

    meter.setScore(4.0);
    QWidget* dot = meter.currentHeightDot();
    EXPECT_TRUE(dot->isVisible());
    EXPECT_NEAR(centreY(dot), 25 + 144, 1);
    meter.setScore(-0.5);
    EXPECT_NEAR(centreY(dot), 25, 1);
    meter.setScore(std::nullopt);
    EXPECT_FALSE(dot->isVisible());
}

TEST_F(HeightThermometerTest, arrowKeysProposeStepsAndARefusedPairLeavesTheMeterAsItWas)
{
    ValidatingOwner owner(meter);
    meter.setLevels(0.45, 0.65);
    QWidget* red = meter.marker(true);
    red->setFocus();
    const QRect before = red->geometry();

    QTest::keyClick(red, Qt::Key_Up); // 0.50 would put red too close to yellow
    ASSERT_EQ(owner.proposals.size(), 1);
    EXPECT_NEAR(owner.proposals[0].first, 0.50, 1e-9);
    EXPECT_TRUE(owner.proposals[0].second);
    EXPECT_DOUBLE_EQ(meter.red(), 0.65);
    EXPECT_EQ(red->geometry(), before);

    QTest::keyClick(red, Qt::Key_Right);
    EXPECT_NEAR(owner.proposals.last().first, 0.80, 1e-9);
    EXPECT_NEAR(meter.red(), 0.80, 1e-9);
    EXPECT_GT(red->geometry().top(), before.top());

    QTest::keyClick(red, Qt::Key_Backtab); // the keyboard reaches the other boundary
    ASSERT_EQ(QApplication::focusWidget(), meter.marker(false));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    EXPECT_NEAR(owner.proposals[2].first, 0.30, 1e-9);
    EXPECT_FALSE(owner.proposals[2].second);
    EXPECT_NEAR(owner.proposals[3].first, 0.45, 1e-9);
    EXPECT_EQ(meter.focusedBoundary(), std::optional<bool>(false));
}

TEST_F(HeightThermometerTest, assistiveTechnologyReadsLevelsAndStepsThroughTheOwner)
{
    ValidatingOwner owner(meter);
    QWidget* yellow = meter.marker(false);
    QWidget* red = meter.marker(true);
    EXPECT_EQ(accessibleText(yellow, QAccessible::Name), QStringLiteral("Yellow starts here"));
    EXPECT_EQ(accessibleText(yellow, QAccessible::Value), QStringLiteral("Level 15 of 100"));
    EXPECT_EQ(accessibleText(red, QAccessible::Value), QStringLiteral("Level 28 of 100"));

    QAccessibleActionInterface* actions = QAccessible::queryAccessibleInterface(red)->actionInterface();
    ASSERT_NE(actions, nullptr);
    actions->doAction(QAccessibleActionInterface::increaseAction());
    EXPECT_NEAR(meter.red(), 1.0, 1e-9);
    EXPECT_EQ(accessibleText(red, QAccessible::Value), QStringLiteral("Level 33 of 100"));

    // 0.6 / 3 * 100 is a hair under 20 in binary; the level still reads 20.
    meter.setLevels(0.6, 1.0);
    EXPECT_EQ(accessibleText(yellow, QAccessible::Value), QStringLiteral("Level 20 of 100"));
}

TEST_F(HeightThermometerTest, statusLineFollowsTheBandWithBoundariesBelongingToTheLowerZone)
{
    meter.setInactiveStatus(QStringLiteral("Camera off"));
    EXPECT_EQ(meter.statusText(), QStringLiteral("Camera off"));
    QWidget* dot = meter.currentHeightDot();
    for (const auto& [score, text, band] : {std::tuple{0.44, "You’re in green", "Green"},
                                            {0.45, "You’re in yellow", "Yellow"},
                                            {0.85, "You’re in red", "Red"}}) {
        meter.setScore(score);
        EXPECT_EQ(meter.statusText(), QString::fromUtf8(text));
        EXPECT_EQ(accessibleText(dot, QAccessible::Value), QLatin1String(band));
    }
}

TEST(FaceHeightGuide, fitsThePictureAndMirrorsImagePoints)
{
    // A 4:3 picture in a 16:9 view is pillarboxed; a 16:9 one in a 4:3 view letterboxed.
    EXPECT_EQ(FaceHeightGuide::pictureRect(QSizeF(320, 180), 4.0 / 3.0), QRectF(40, 0, 240, 180));
    const QRectF letterbox = FaceHeightGuide::pictureRect(QSizeF(240, 180), 16.0 / 9.0);
    EXPECT_EQ(letterbox, QRectF(0, 22.5, 240, 135));
    // The image's lower-left corner is drawn at the view's lower right.
    EXPECT_EQ(FaceHeightGuide::viewPoint(QPointF(0, 0), letterbox), QPointF(240, 157.5));
    EXPECT_EQ(FaceHeightGuide::viewPoint(QPointF(0.25, 0.75), letterbox), QPointF(180, 56.25));
    EXPECT_TRUE(FaceHeightGuide::pictureRect(QSizeF(240, 180), 0).isEmpty());
}

TEST(FaceHeightGuide, drawsNothingWithoutPointsAndNoLineWithoutBaseline)
{
    FaceHeightGuide guide;
    guide.resize(240, 135);
    guide.setAspect(16.0 / 9.0);
    guide.setBaseline(0.5);
    const auto opaquePixels = [&](int row) {
        const QImage image = guide.grab().toImage();
        int count = 0;
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, row)) > 0;
        return count;
    };
    guide.setAttribute(Qt::WA_TranslucentBackground);
    EXPECT_EQ(opaquePixels(67), 0) << "no points: not even the line";

    guide.setPoints({QPointF(0.5, 0.2)});
    EXPECT_GT(opaquePixels(67), 60) << "the dashed line across the middle";
    EXPECT_GT(opaquePixels(108), 0) << "the dot";
    guide.setBaseline(std::nullopt);
    EXPECT_EQ(opaquePixels(67), 0);
    EXPECT_GT(opaquePixels(108), 0);
}
