#include "ui/name_editor.h"

#include <QFocusEvent>
#include <QLineEdit>
#include <QTimer>

namespace auralist {

namespace {

// Selects the part of the name before its extension.
void selectStem(QLineEdit *line)
{
    const QString name = line->text();
    const auto dot = name.lastIndexOf(QLatin1Char('.'));
    line->setSelection(0, dot > 0 ? dot : name.size());
}

// The view selects all of an editor's text as it opens it, and focus can
// do the same: the stem is selected again after each.
class StemEdit : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

protected:
    void focusInEvent(QFocusEvent *event) override
    {
        QLineEdit::focusInEvent(event);
        selectStem(this);
    }
};

} // namespace

QWidget *NameEditor::createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    (void)option;
    (void)index;
    auto *line = new StemEdit(parent);
    line->setFrame(false);
    line->setAccessibleName(QStringLiteral("New name"));
    return line;
}

void NameEditor::setEditorData(QWidget *editor, const QModelIndex &index) const
{
    auto *line = qobject_cast<QLineEdit *>(editor);
    if (!line) {
        QStyledItemDelegate::setEditorData(editor, index);
        return;
    }
    // The rows are told of changes while the user types (facts read, sounds
    // analysed): what is typed stays.
    if (line->isModified())
        return;
    line->setText(index.data(Qt::EditRole).toString());
    selectStem(line);
    QTimer::singleShot(0, line, [line] { selectStem(line); });
}

} // namespace auralist
