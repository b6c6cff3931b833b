#include "ui/BalancedPostureColumns.h"

#include <QWidget>

#include <algorithm>

namespace verticora {

namespace {

int itemHeight(const QLayoutItem* item, int width, bool minimum)
{
    if (item->hasHeightForWidth())
        return item->heightForWidth(width);
    return minimum ? item->minimumSize().height() : item->sizeHint().height();
}

} // namespace

BalancedPostureColumns::BalancedPostureColumns(int rightWidth, int spacing, QWidget* parent)
    : QLayout(parent)
    , m_rightWidth(rightWidth)
    , m_spacing(spacing)
{
    setContentsMargins(0, 0, 0, 0);
}

BalancedPostureColumns::~BalancedPostureColumns()
{
    qDeleteAll(m_items);
}

void BalancedPostureColumns::setRightWidth(int width)
{
    m_rightWidth = width;
    invalidate();
}

void BalancedPostureColumns::setColumnSpacing(int spacing)
{
    m_spacing = spacing;
    invalidate();
}

int BalancedPostureColumns::leftWidth(int width) const
{
    return std::max(0, width - m_rightWidth - m_spacing);
}

void BalancedPostureColumns::addItem(QLayoutItem* item)
{
    m_items.append(item);
    invalidate();
}

int BalancedPostureColumns::count() const
{
    return static_cast<int>(m_items.size());
}

QLayoutItem* BalancedPostureColumns::itemAt(int index) const
{
    return index >= 0 && index < m_items.size() ? m_items[index] : nullptr;
}

QLayoutItem* BalancedPostureColumns::takeAt(int index)
{
    if (index < 0 || index >= m_items.size())
        return nullptr;
    QLayoutItem* item = m_items.takeAt(index);
    invalidate();
    return item;
}

void BalancedPostureColumns::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    if (!placesItems())
        return;
    const QRect area = contentsRect();
    const int left = leftWidth(area.width());
    // Each column is offered its width and the full height, and sits at the top-left of
    // its slot when it takes less (Qt would centre it).
    const auto place = [](QLayoutItem* item, QRect slot) {
        item->setGeometry(QRect(slot.topLeft(), slot.size().boundedTo(item->maximumSize())));
    };
    place(m_items[0], QRect(area.left(), area.top(), left, area.height()));
    place(m_items[1], QRect(area.left() + left + m_spacing, area.top(), m_rightWidth, area.height()));
}

int BalancedPostureColumns::contentHeight(int width, bool minimum) const
{
    if (!placesItems())
        return 0;
    return std::max(itemHeight(m_items[0], leftWidth(width), minimum), itemHeight(m_items[1], m_rightWidth, minimum));
}

QSize BalancedPostureColumns::sizeHint() const
{
    if (!placesItems())
        return {0, 0};
    const QMargins margins = contentsMargins();
    return QSize(unconstrainedWidth, contentHeight(unconstrainedWidth - margins.left() - margins.right(), false))
        .grownBy(QMargins(0, margins.top(), 0, margins.bottom()));
}

QSize BalancedPostureColumns::minimumSize() const
{
    if (!placesItems())
        return {0, 0};
    // The left column may shrink to nothing; the right one keeps its width.
    const QMargins margins = contentsMargins();
    return QSize(m_rightWidth + m_spacing, contentHeight(m_rightWidth + m_spacing, true))
        .grownBy(margins);
}

bool BalancedPostureColumns::hasHeightForWidth() const
{
    return placesItems() && std::any_of(m_items.cbegin(), m_items.cend(), [](const QLayoutItem* item) {
               return item->hasHeightForWidth();
           });
}

int BalancedPostureColumns::heightForWidth(int width) const
{
    const QMargins margins = contentsMargins();
    return contentHeight(width - margins.left() - margins.right(), false) + margins.top() + margins.bottom();
}

Qt::Orientations BalancedPostureColumns::expandingDirections() const
{
    return Qt::Horizontal | Qt::Vertical;
}

} // namespace verticora
