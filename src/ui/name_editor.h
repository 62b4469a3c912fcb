#pragma once

#include <QStyledItemDelegate>

namespace auralist {

// The editor of a sound's name in the table: the name with the part before
// its extension selected, so typing keeps the extension.
class NameEditor : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
};

} // namespace auralist
