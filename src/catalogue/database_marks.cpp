#include "catalogue/database.h"

#include <sqlite3.h>

#include <string>
#include <vector>

#include "catalogue/statement.h"

namespace auralist::catalogue {

namespace {

// The statement that sets an edit's mark, and its binding.
std::string markStatement(const MarkEdit &edit)
{
    return std::string(edit.kind == MarkEdit::Kind::Favourite ? "UPDATE sounds SET favourite = ?1"
                                                              : "UPDATE sounds SET tags = ?1")
        + kAtPath2;
}

void bindMark(Statement &set, const MarkEdit &edit)
{
    if (edit.kind == MarkEdit::Kind::Favourite)
        set.bind(1, std::int64_t{edit.on ? 1 : 0});
    else
        set.bindText(1, edit.tags);
    set.bind(2, edit.path);
}

} // namespace

bool Database::markEach(const std::vector<std::string> &paths, MarkEdit edit)
{
    return inSavepoint([&] {
        Statement set(m_db, markStatement(edit).c_str());
        bool ok = set.ok();
        for (const std::string &p : paths) {
            edit.path = p;
            bindMark(set, edit);
            ok = ok && set.run();
        }
        return ok;
    });
}

bool Database::setFavourite(const std::vector<std::string> &paths, bool on)
{
    MarkEdit edit;
    edit.kind = MarkEdit::Kind::Favourite;
    edit.on = on;
    return markEach(paths, edit);
}

bool Database::setTags(const std::vector<std::string> &paths, const std::string &tags)
{
    MarkEdit edit;
    edit.kind = MarkEdit::Kind::Tags;
    edit.tags = tags;
    return markEach(paths, edit);
}

Database::Marked Database::mark(const MarkEdit &edit)
{
    Statement set(m_db, markStatement(edit).c_str());
    bindMark(set, edit);
    if (!set.run()) {
        // Another connection's lock passes; anything else is told.
        const int primary = sqlite3_errcode(m_db) & 0xFF;
        if (primary != SQLITE_BUSY && primary != SQLITE_LOCKED)
            noteWriteError();
        return Marked::Failed;
    }
    return sqlite3_changes(m_db) > 0 ? Marked::Done : Marked::NoSuchSound;
}

std::vector<SoundRow> Database::markedSounds()
{
    std::vector<SoundRow> out;
    Statement select(
        m_db,
        (std::string("SELECT ") + kSoundColumns + " FROM sounds WHERE favourite != 0 OR tags != '' ORDER BY id")
            .c_str());
    while (select.step() == SQLITE_ROW)
        out.push_back(soundAt(select));
    return out;
}

} // namespace auralist::catalogue
