#include "catalogue/list_reader.h"

#include <sqlite3.h>

#include "catalogue/statement.h"

namespace auralist::catalogue {

bool eachListedSound(sqlite3 *db, Folders &folders, std::int64_t root, std::int64_t after, std::int64_t upTo,
                     const std::function<void(const Database::ListedSound &)> &visit)
{
    Statement select(db,
                     "SELECT folder, name, size, modified, length_frames, rate, channels, format, favourite, tags,"
                     " metadata FROM sounds WHERE root = ? AND id > ? AND id <= ? ORDER BY id");
    select.bind(1, root);
    select.bind(2, after);
    select.bind(3, upTo);
    if (!select.ok())
        return false;
    Database::ListedSound s;
    std::int64_t inFolder = -1;
    int rc = SQLITE_ROW;
    while ((rc = select.step()) == SQLITE_ROW) {
        const std::int64_t folder = select.integer(0);
        if (folder != inFolder) {
            const std::string *folderPath = folder == 0 ? nullptr : folders.pathOf(folder);
            if (folder != 0 && !folderPath)
                continue;
            s.folderPath = folderPath ? std::string_view(*folderPath) : std::string_view();
            inFolder = folder;
        }
        s.folder = folder;
        s.name = select.view(1);
        s.size = select.integer(2);
        s.modified = select.integer(3);
        s.lengthFrames = select.integer(4);
        s.rate = static_cast<int>(select.integer(5));
        s.channels = static_cast<int>(select.integer(6));
        s.format = select.view(7);
        s.favourite = select.integer(8) != 0;
        s.tags = select.view(9);
        s.metadata = select.view(10);
        visit(s);
    }
    return rc == SQLITE_DONE;
}

ListReader::ListReader(const std::string &path)
{
    if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        sqlite3_close(m_db);
        m_db = nullptr;
        return;
    }
    // The writer may hold the file for a moment (a checkpoint).
    sqlite3_busy_timeout(m_db, 2000);
}

ListReader::~ListReader()
{
    m_folders.clear();
    sqlite3_close(m_db);
}

std::pair<std::int64_t, std::int64_t> ListReader::idsOf(std::int64_t root)
{
    if (!m_db)
        return {0, 0};
    // Each end on its own: min() and max() together read the whole index.
    const auto end = [this, root](const char *sql) {
        Statement select(m_db, sql);
        select.bind(1, root);
        return select.step() == SQLITE_ROW ? select.integer(0) : std::int64_t(0);
    };
    return {end("SELECT id FROM sounds WHERE root = ? ORDER BY id LIMIT 1"),
            end("SELECT id FROM sounds WHERE root = ? ORDER BY id DESC LIMIT 1")};
}

} // namespace auralist::catalogue
