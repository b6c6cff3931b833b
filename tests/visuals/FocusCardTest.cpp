#include "visuals/FocusCard.h"

#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace verticora;

namespace {

QStringList labelTexts(const QWidget& card)
{
    QStringList texts;
    for (const QLabel* label : card.findChildren<QLabel*>())
        texts << label->text();
    return texts;
}

void layOut(DesktopFocusCard& card, QSize size)
{
    card.resize(size);
    card.layout()->activate();
}

} // namespace

TEST(DesktopFocusCard, saysItsTextsAndPausesOnce)
{
    int pauses = 0;
    DesktopFocusCard card([&] { ++pauses; });
    layOut(card, QSize(740, 450));
    card.show();
    EXPECT_TRUE(labelTexts(card).contains(QStringLiteral("RED ZONE · A LITTLE REMINDER TO RESET")));
    EXPECT_EQ(DesktopFocusCard::footnote(), QStringLiteral("Clears as soon as you return below your red boundary."));
    ASSERT_NE(card.pauseButton(), nullptr);
    EXPECT_EQ(card.pauseButton()->text(), QStringLiteral("Pause reminder"));
    EXPECT_EQ(DesktopFocusCard::title(), QStringLiteral("Out of your zone."));
    EXPECT_EQ(DesktopFocusCard::message(), QStringLiteral("Ease back toward the comfortable position you chose."));

    QTest::mouseClick(card.pauseButton(), Qt::LeftButton);
    EXPECT_EQ(pauses, 1);
}

TEST(DesktopFocusCard, titleShrinksOnASmallScreenButNotBelowFourFifths)
{
    DesktopFocusCard roomy({});
    layOut(roomy, QSize(740, 450));
    EXPECT_DOUBLE_EQ(roomy.titleFontSize(), DesktopFocusCard::titleSize);

    DesktopFocusCard narrow({});
    layOut(narrow, QSize(520, 400));
    EXPECT_LT(narrow.titleFontSize(), DesktopFocusCard::titleSize);
    EXPECT_GE(narrow.titleFontSize(), DesktopFocusCard::titleSize * DesktopFocusCard::titleMinimumScale);

    DesktopFocusCard tiny({});
    layOut(tiny, QSize(360, 264));
    EXPECT_DOUBLE_EQ(tiny.titleFontSize(), DesktopFocusCard::titleSize * DesktopFocusCard::titleMinimumScale);
}

TEST(DesktopFocusCard, withoutACloseActionTheButtonDoesNothing)
{
    DesktopFocusCard card({});
    layOut(card, QSize(740, 450));
    card.show();
    QTest::mouseClick(card.pauseButton(), Qt::LeftButton);
    SUCCEED();
}
