#pragma once

#include <QLayout>
#include <QList>

namespace verticora {

// The posture page's two columns: the right one (the height block) keeps a fixed width,
// the left one takes what remains, never less than nothing; both start at the top and
// take the full height. Holds exactly two items to place anything; with any other number
// it places nothing and measures 0 x 0.
class BalancedPostureColumns : public QLayout {
public:
    static constexpr int unconstrainedWidth = 904;

    BalancedPostureColumns(int rightWidth, int spacing, QWidget* parent = nullptr);
    ~BalancedPostureColumns() override;

    [[nodiscard]] int rightWidth() const { return m_rightWidth; }
    [[nodiscard]] int columnSpacing() const { return m_spacing; }
    void setRightWidth(int width);
    void setColumnSpacing(int spacing);

    // The left column's width in a container `width` wide.
    [[nodiscard]] int leftWidth(int width) const;

    void addItem(QLayoutItem* item) override;
    [[nodiscard]] int count() const override;
    [[nodiscard]] QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;

    void setGeometry(const QRect& rect) override;
    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSize() const override;
    [[nodiscard]] bool hasHeightForWidth() const override;
    [[nodiscard]] int heightForWidth(int width) const override;
    [[nodiscard]] Qt::Orientations expandingDirections() const override;

private:
    [[nodiscard]] bool placesItems() const { return m_items.size() == 2; }
    // The taller of the two items at the widths they get in a container `width` wide.
    [[nodiscard]] int contentHeight(int width, bool minimum) const;

    QList<QLayoutItem*> m_items;
    int m_rightWidth;
    int m_spacing;
};

} // namespace verticora
