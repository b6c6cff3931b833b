#include "ui/BalancedPostureColumns.h"

#include <QWidget>

#include <gtest/gtest.h>

using namespace verticora;

namespace {

QWidget* child(QWidget& parent, int height)
{
    auto* widget = new QWidget(&parent);
    widget->setMinimumHeight(height);
    return widget;
}

} // namespace

TEST(BalancedPostureColumns, rightColumnKeepsItsWidthAndTheLeftTakesTheRest)
{
    QWidget container;
    auto* columns = new BalancedPostureColumns(260, 24, &container);
    QWidget* left = child(container, 300);
    QWidget* right = child(container, 420);
    columns->addWidget(left);
    columns->addWidget(right);

    EXPECT_EQ(columns->sizeHint().height(), 420) << "the taller column";
    columns->setGeometry(QRect(0, 0, 904, 640));
    EXPECT_EQ(left->geometry(), QRect(0, 0, 620, 640));
    EXPECT_EQ(right->geometry(), QRect(644, 0, 260, 640));

    // Narrower than the right column and its spacing: the left column vanishes.
    columns->setGeometry(QRect(10, 5, 200, 500));
    EXPECT_EQ(left->geometry().width(), 0);
    EXPECT_EQ(right->geometry(), QRect(34, 5, 260, 500));

    // A column that cannot grow stays at the top.
    left->setMaximumHeight(350);
    columns->setGeometry(QRect(0, 0, 904, 640));
    EXPECT_EQ(left->geometry(), QRect(0, 0, 620, 350));
}

TEST(BalancedPostureColumns, placesNothingWithoutExactlyTwoChildren)
{
    QWidget container;
    auto* columns = new BalancedPostureColumns(260, 24, &container);
    QWidget* only = child(container, 300);
    columns->addWidget(only);
    const QRect before = only->geometry();
    columns->setGeometry(QRect(0, 0, 904, 640));
    EXPECT_EQ(only->geometry(), before);
    EXPECT_EQ(columns->sizeHint(), QSize(0, 0));
}
