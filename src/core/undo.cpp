#include "core/undo.h"

#include <map>

#include "core/file_type.h"

namespace auralist {

namespace {

std::string nameOf(const std::string &path)
{
    return std::string(lastPathComponent(path));
}

// Each file back from where it went (a copy removed, if still the file
// made); then done(files back, with what is at each now, and the problems).
void takeBack(ChangeContext &context, const std::vector<ChangedFile> &files, bool copies,
              const std::function<void(std::vector<ChangedFile> back, std::vector<std::string> problems)> &done)
{
    std::vector<FileStep> steps;
    for (const ChangedFile &file : files) {
        FileStep s = FileStep::of(copies ? FileStep::Kind::RemoveCopy : FileStep::Kind::MoveBack, file.to, file.from);
        s.expected = file.stamp;
        s.trashInfo = file.trashInfo;
        steps.push_back(std::move(s));
    }
    context.runFileSteps(
        QStringLiteral("Undoing"), std::move(steps), [&context, files, done](std::vector<FileResult> results) {
            std::vector<ChangedFile> back;
            std::vector<std::string> problems;
            for (std::size_t i = 0; i < results.size() && i < files.size(); ++i) {
                const FileResult &r = results[i];
                if (r.status != FileResult::Status::Done) {
                    problems.push_back(r.error.empty() ? "\u201c" + nameOf(files[i].to) + "\u201d was left as it is"
                                                       : r.error);
                    continue;
                }
                context.fileChanged(files[i].from);
                ChangedFile file = files[i];
                file.stamp = r.stamp;
                back.push_back(std::move(file));
            }
            done(std::move(back), std::move(problems));
        });
}

} // namespace

QString FileChange::title() const
{
    switch (m_kind) {
    case Kind::Copy: return QStringLiteral("Copy");
    case Kind::Move: return QStringLiteral("Move");
    case Kind::Rename: break;
    }
    return QStringLiteral("Rename");
}

void FileChange::undo(ChangeContext &context, std::function<void()> done)
{
    takeBack(context, m_files, m_kind == Kind::Copy,
             [this, &context, done](std::vector<ChangedFile> back, const std::vector<std::string> &problems) {
                 std::vector<std::pair<std::string, std::string>> moves;
                 if (m_kind != Kind::Copy) {
                     for (const ChangedFile &file : back) {
                         context.recordNowAt(file.record, file.from);
                         moves.emplace_back(file.to, file.from);
                     }
                 }
                 if (!moves.empty())
                     context.soundsMoved(std::move(moves));
                 m_files = std::move(back);
                 done();
                 context.listChanged();
                 context.tellProblems(QStringLiteral("Undo"), problems);
             });
}

void FileChange::redo(ChangeContext &context, std::function<void()> done)
{
    std::vector<FileStep> steps;
    for (const ChangedFile &file : m_files) {
        switch (m_kind) {
        case Kind::Copy: steps.push_back(FileStep::of(FileStep::Kind::CopyInto, file.from, m_folder)); break;
        case Kind::Move: steps.push_back(FileStep::of(FileStep::Kind::MoveInto, file.from, m_folder)); break;
        case Kind::Rename: steps.push_back(FileStep::of(FileStep::Kind::Rename, file.from, nameOf(file.to))); break;
        }
    }
    context.runFileSteps(QStringLiteral("Redoing"), std::move(steps),
                         [this, &context, done](std::vector<FileResult> results) {
                             std::vector<ChangedFile> again;
                             std::vector<std::string> problems;
                             std::vector<std::pair<std::string, std::string>> moves;
                             for (std::size_t i = 0; i < results.size() && i < m_files.size(); ++i) {
                                 const FileResult &r = results[i];
                                 if (r.status != FileResult::Status::Done) {
                                     problems.push_back(r.error);
                                     continue;
                                 }
                                 ChangedFile file = m_files[i];
                                 file.to = r.made;
                                 file.stamp = r.stamp;
                                 context.fileChanged(r.made);
                                 if (m_kind != Kind::Copy) {
                                     context.recordNowAt(file.record, r.made);
                                     moves.emplace_back(file.from, r.made);
                                 }
                                 again.push_back(std::move(file));
                             }
                             if (!moves.empty())
                                 context.soundsMoved(std::move(moves));
                             m_files = std::move(again);
                             done();
                             context.tellProblems(QStringLiteral("Redo"), problems);
                         });
}

void TrashChange::undo(ChangeContext &context, std::function<void()> done)
{
    takeBack(context, m_files, false,
             [this, &context, done](std::vector<ChangedFile> back, const std::vector<std::string> &problems) {
                 // Back in its folder, and in the list.
                 std::vector<const ChangedFile *> returned;
                 for (const ChangedFile &file : back) {
                     context.recordNowAt(file.record, file.from);
                     if (file.record && !context.isShown(file.record))
                         returned.push_back(&file);
                 }
                 // Rows come back where they were, the last to leave first,
                 // so each finds the rows around it as they were when it left.
                 for (auto it = returned.rbegin(); it != returned.rend(); ++it)
                     context.putBack((*it)->record, (*it)->shownAt, (*it)->listedAt);
                 m_files = std::move(back);
                 done();
                 context.listChanged();
                 context.tellProblems(QStringLiteral("Undo"), problems);
             });
}

void TrashChange::redo(ChangeContext &context, std::function<void()> done)
{
    // Into the Trash again, on the file worker, if each is still the file
    // that came out.
    std::vector<ChangedFile> asked;
    std::vector<FileStep> steps;
    std::vector<std::string> problems;
    FileSystem &fs = context.files();
    for (const ChangedFile &file : m_files) {
        const auto now = fs.stamp(file.from);
        const auto identity = fs.identify(file.from);
        if (!now || !identity || now->inode != file.stamp.inode || now->device != file.stamp.device) {
            problems.push_back("\u201c" + nameOf(file.from) + "\u201d has changed since, and is kept");
            continue;
        }
        FileStep step = FileStep::of(FileStep::Kind::Remove, file.from, {});
        step.identity = identity;
        step.toTrash = true;
        steps.push_back(std::move(step));
        asked.push_back(file);
    }
    auto trashed = [this, &context, done, asked, problems](const std::vector<FileResult> &results) mutable {
        std::vector<ChangedFile> again;
        for (std::size_t i = 0; i < asked.size(); ++i) {
            const FileResult *r = i < results.size() ? &results[i] : nullptr;
            if (!r || r->removal != RemovalResult::Status::Removed || r->made.empty()) {
                problems.push_back("\u201c" + nameOf(asked[i].from)
                                   + "\u201d could not be moved to the Trash: " + (r ? r->error : std::string()));
                continue;
            }
            ChangedFile file = asked[i];
            file.to = r->made;
            file.trashInfo = r->trashInfo;
            file.stamp = r->stamp;
            context.fileChanged(file.from);
            if (file.record)
                context.fileGone(file.record);
            again.push_back(std::move(file));
        }
        m_files = std::move(again);
        done();
        context.listChanged();
        context.tellProblems(QStringLiteral("Redo"), problems);
    };
    if (steps.empty()) {
        trashed({});
        return;
    }
    context.runFileSteps(QStringLiteral("Moving to the Trash"), std::move(steps), std::move(trashed));
}

void MarksChange::apply(ChangeContext &context, bool after) const
{
    std::vector<ChangeContext::MarksOf> marks;
    marks.reserve(m_marked.size());
    for (const Marked &m : m_marked) {
        if (m.record)
            marks.push_back(
                {m.record, after ? m.favouriteAfter : m.favouriteBefore, after ? m.tagsAfter : m.tagsBefore});
    }
    context.setMarks(marks);
}

void MarksChange::undo(ChangeContext &context, std::function<void()> done)
{
    apply(context, false);
    done();
}

void MarksChange::redo(ChangeContext &context, std::function<void()> done)
{
    apply(context, true);
    done();
}

void UndoStack::push(std::unique_ptr<Change> change)
{
    if (!change || change->empty())
        return;
    m_undo.push_back(std::move(change));
    m_redo.clear();
    if (m_undo.size() > kKept)
        m_undo.erase(m_undo.begin());
    m_titlesChanged();
}

void UndoStack::undo(ChangeContext &context)
{
    if (m_undo.empty())
        return;
    std::shared_ptr<Change> change = std::move(m_undo.back());
    m_undo.pop_back();
    m_titlesChanged();
    change->undo(context, [this, change] {
        if (!change->empty())
            m_redo.push_back(change);
        m_titlesChanged();
    });
}

void UndoStack::redo(ChangeContext &context)
{
    if (m_redo.empty())
        return;
    std::shared_ptr<Change> change = std::move(m_redo.back());
    m_redo.pop_back();
    m_titlesChanged();
    change->redo(context, [this, change] {
        if (!change->empty())
            m_undo.push_back(change);
        m_titlesChanged();
    });
}

QString UndoStack::undoTitle() const
{
    return m_undo.empty() ? QString() : QStringLiteral("Undo ") + m_undo.back()->title();
}

QString UndoStack::redoTitle() const
{
    return m_redo.empty() ? QString() : QStringLiteral("Redo ") + m_redo.back()->title();
}

} // namespace auralist
