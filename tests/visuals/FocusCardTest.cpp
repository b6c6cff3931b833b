#include "visuals/FocusCard.h"

#include <QLayout>

#include <gtest/gtest.h>

using namespace verticora;

namespace {

void layOut(DesktopFocusCard& card, QSize size)
{
    card.resize(size);
    card.layout()->activate();
}

} // namespace

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
