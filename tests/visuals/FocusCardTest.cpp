#include "visuals/FocusCard.h"

#include <QLayout>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace verticora;

namespace {

void layOut(DesktopFocusCard& card, QSize size)
{
    card.resize(size);
    card.layout()->activate();
}

} // namespace

TEST(DesktopFocusCard, itsButtonPausesOnce)
{
    int pauses = 0;
    DesktopFocusCard card([&] { ++pauses; });
    layOut(card, QSize(740, 450));
    card.show();
    ASSERT_NE(card.pauseButton(), nullptr);
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
