#pragma once

#include <QStyledItemDelegate>

namespace auralist {

// The editor of a sound's name in the table: the name with the part before
// its extension selected, so typing keeps the extension.
class NameEditor : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
};

} // namespace auralist
