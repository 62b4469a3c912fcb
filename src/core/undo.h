#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/records.h"
#include "core/services.h"

namespace auralist {

// What a change does to the world outside it: the files (through the file
// worker), the rows shown, the catalogue, the user. Triage is one.
// Every call on the window's thread.
class ChangeContext {
public:
    ChangeContext() = default;
    virtual ~ChangeContext() = default;
    ChangeContext(const ChangeContext &) = delete;
    ChangeContext &operator=(const ChangeContext &) = delete;

    // Runs steps on the file worker; finished gets one result a step.
    virtual void runFileSteps(const QString &doing, std::vector<FileStep> steps,
                              std::function<void(std::vector<FileResult>)> finished)
        = 0;
    virtual FileSystem &files() = 0;
    // A file came, went or changed at path (file managers are told).
    virtual void fileChanged(const std::string &path) = 0;
    // The record names the file at path now (moved, renamed, restored).
    virtual void recordNowAt(const SoundRecord &record, const std::string &path) = 0;
    // Sounds moved on the disk: the catalogue moves their rows too.
    virtual void soundsMoved(std::vector<std::pair<std::string, std::string>> moves) = 0;
    // Whether the record has a row shown.
    virtual bool isShown(const SoundRecord &record) const = 0;
    // The record back among the rows where it was (-1: not there).
    virtual void putBack(const SoundRecord &record, std::ptrdiff_t shownAt, std::ptrdiff_t listedAt) = 0;
    // The record's file is gone: its rows go.
    virtual void fileGone(const SoundRecord &record) = 0;
    // Each record has the favourite and tags given, kept in the catalogue.
    struct MarksOf {
        SoundRecord record;
        bool favourite = false;
        std::string tags;
    };
    virtual void setMarks(const std::vector<MarksOf> &marks) = 0;
    // The list's count and title may have changed.
    virtual void listChanged() = 0;
    virtual void tellProblems(const QString &title, const std::vector<std::string> &problems) = 0;
};

// A file a change touched, and what it was.
struct ChangedFile {
    SoundRecord record;
    std::string from; // where the file was (a copy: its source)
    std::string to; // where it is now (a copy: the copy; the Trash: in the Trash)
    FileStamp stamp; // of what is at to
    std::string trashInfo;
    // In the Trash: where its row was, shown and in the whole list, when
    // it left them (-1: not there).
    std::ptrdiff_t shownAt = -1;
    std::ptrdiff_t listedAt = -1;

    static ChangedFile of(const SoundRecord &record, std::string from, std::string to, const FileStamp &stamp)
    {
        ChangedFile file;
        file.record = record;
        file.from = std::move(from);
        file.to = std::move(to);
        file.stamp = stamp;
        return file;
    }
};

// One decision of the user's that can be undone and redone.
class Change {
public:
    Change() = default;
    virtual ~Change() = default;
    Change(const Change &) = delete;
    Change &operator=(const Change &) = delete;

    // As the Edit menu names it: "Copy", "Move", "Rename", "Delete", ...
    virtual QString title() const = 0;
    // Nothing to undo or redo.
    virtual bool empty() const = 0;
    // Undoes (redoes) the change, at once or once the files are where
    // they were, then calls done; the change is then what of it can be
    // redone (undone) again, empty when nothing can.
    virtual void undo(ChangeContext &context, std::function<void()> done) = 0;
    virtual void redo(ChangeContext &context, std::function<void()> done) = 0;
};

// Files copied or moved into a folder, or one renamed.
class FileChange : public Change {
public:
    enum class Kind : std::uint8_t { Copy, Move, Rename };
    FileChange(Kind kind, std::string folder, std::vector<ChangedFile> files)
        : m_kind(kind), m_folder(std::move(folder)), m_files(std::move(files))
    {
    }
    QString title() const override;
    bool empty() const override { return m_files.empty(); }
    void undo(ChangeContext &context, std::function<void()> done) override;
    void redo(ChangeContext &context, std::function<void()> done) override;

private:
    Kind m_kind;
    std::string m_folder; // of a copy or move
    std::vector<ChangedFile> m_files;
};

// Files moved to the Trash by a deletion.
class TrashChange : public Change {
public:
    explicit TrashChange(std::vector<ChangedFile> files) : m_files(std::move(files)) { }
    QString title() const override { return QStringLiteral("Delete"); }
    bool empty() const override { return m_files.empty(); }
    void undo(ChangeContext &context, std::function<void()> done) override;
    void redo(ChangeContext &context, std::function<void()> done) override;

private:
    std::vector<ChangedFile> m_files;
};

// Favourites and tags given or taken.
class MarksChange : public Change {
public:
    struct Marked {
        SoundRecord record;
        bool favouriteBefore = false;
        bool favouriteAfter = false;
        std::string tagsBefore;
        std::string tagsAfter;
    };
    explicit MarksChange(std::vector<Marked> marked) : m_marked(std::move(marked)) { }
    QString title() const override { return QStringLiteral("Favourite and Tags"); }
    bool empty() const override { return m_marked.empty(); }
    void undo(ChangeContext &context, std::function<void()> done) override;
    void redo(ChangeContext &context, std::function<void()> done) override;

private:
    void apply(ChangeContext &context, bool after) const;
    std::vector<Marked> m_marked;
};

// The changes that can be undone, the latest last, and those undone that
// can be redone. A change undone or redone leaves the stack while it is
// carried out and comes back (to the other side) once done, if anything of
// it is left to take back.
class UndoStack {
public:
    static constexpr std::size_t kKept = 100;

    // titlesChanged: the Edit menu's titles are to be shown again.
    explicit UndoStack(std::function<void()> titlesChanged) : m_titlesChanged(std::move(titlesChanged)) { }

    // A new change (an empty one is dropped); what could be redone goes.
    void push(std::unique_ptr<Change> change);
    void undo(ChangeContext &context);
    void redo(ChangeContext &context);
    // "Undo Copy", "Redo Delete"; empty when there is nothing.
    QString undoTitle() const;
    QString redoTitle() const;

private:
    std::vector<std::shared_ptr<Change>> m_undo;
    std::vector<std::shared_ptr<Change>> m_redo;
    std::function<void()> m_titlesChanged;
};

} // namespace auralist
