#include "CheckListDelegate.h"

#include <QMouseEvent>

bool CheckListDelegate::editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                                    const QModelIndex& index)
{
    if (event->type() != QEvent::MouseButtonDblClick)
        return QStyledItemDelegate::editorEvent(event, model, option, index);
    // Handled as the release of a click: toggles only on the check box itself.
    const auto* click = static_cast<QMouseEvent*>(event);
    QMouseEvent release(QEvent::MouseButtonRelease, click->position(), click->scenePosition(), click->globalPosition(),
                        click->button(), Qt::NoButton, click->modifiers(), click->pointingDevice());
    return QStyledItemDelegate::editorEvent(&release, model, option, index);
}
