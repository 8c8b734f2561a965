#pragma once

#include <QStyledItemDelegate>

// The items of the dialog's check lists. Qt takes the second click of a
// double-click on a check box as a double-click only and leaves the box
// alone; here it toggles the box again, as each click of a double-click
// does in a check list box.
class CheckListDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
};
