#include "ui/name_editor.h"

#include <QLineEdit>
#include <QTimer>

namespace auralist {

void NameEditor::setEditorData(QWidget *editor, const QModelIndex &index) const
{
    QStyledItemDelegate::setEditorData(editor, index);
    auto *line = qobject_cast<QLineEdit *>(editor);
    if (!line)
        return;
    line->setAccessibleName(QStringLiteral("New name"));
    // After the view's own select-all, which follows this.
    QTimer::singleShot(0, line, [line] {
        const QString name = line->text();
        const auto dot = name.lastIndexOf(QLatin1Char('.'));
        line->setSelection(0, dot > 0 ? dot : name.size());
    });
}

} // namespace auralist
