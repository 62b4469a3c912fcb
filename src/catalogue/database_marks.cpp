#include "catalogue/database.h"

#include <sqlite3.h>

#include <string>
#include <vector>

#include "catalogue/statement.h"

namespace auralist::catalogue {

bool Database::setFavourite(const std::vector<std::string> &paths, bool on)
{
    if (!exec("SAVEPOINT edit"))
        return false;
    Statement mark(m_db, (std::string("UPDATE sounds SET favourite = ?1") + kAtPath2).c_str());
    bool ok = mark.ok();
    for (const std::string &p : paths) {
        mark.bind(1, std::int64_t{on ? 1 : 0});
        mark.bind(2, p);
        ok = ok && mark.run();
    }
    if (ok && exec("RELEASE edit"))
        return true;
    noteWriteError();
    exec("ROLLBACK TO edit; RELEASE edit");
    return false;
}

bool Database::setTags(const std::vector<std::string> &paths, const std::string &tags)
{
    if (!exec("SAVEPOINT edit"))
        return false;
    Statement set(m_db, (std::string("UPDATE sounds SET tags = ?1") + kAtPath2).c_str());
    bool ok = set.ok();
    for (const std::string &p : paths) {
        set.bindText(1, tags);
        set.bind(2, p);
        ok = ok && set.run();
    }
    if (ok && exec("RELEASE edit"))
        return true;
    noteWriteError();
    exec("ROLLBACK TO edit; RELEASE edit");
    return false;
}

Database::Marked Database::mark(const MarkEdit &edit)
{
    const bool favourite = edit.kind == MarkEdit::Kind::Favourite;
    Statement set(
        m_db,
        (std::string(favourite ? "UPDATE sounds SET favourite = ?1" : "UPDATE sounds SET tags = ?1") + kAtPath2)
            .c_str());
    if (favourite)
        set.bind(1, std::int64_t{edit.on ? 1 : 0});
    else
        set.bindText(1, edit.tags);
    set.bind(2, edit.path);
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
