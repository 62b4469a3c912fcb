#include "catalogue/database.h"

#include <sqlite3.h>

#include <string>
#include <vector>

#include "catalogue/statement.h"

namespace auralist::catalogue {

std::vector<SavedSearch> Database::Searches::all()
{
    std::vector<SavedSearch> out;
    Statement select(m_db.m_db, "SELECT id, name, query FROM searches ORDER BY id");
    while (select.step() == SQLITE_ROW)
        out.push_back({select.integer(0), select.bytes(1), select.bytes(2)});
    return out;
}

bool Database::Searches::saveSearch(const std::string &name, const std::string &query)
{
    Statement save(m_db.m_db,
                   "INSERT INTO searches(name, query) VALUES (?1, ?2) ON CONFLICT(name) DO UPDATE SET query = ?2");
    save.bindText(1, name);
    save.bindText(2, query);
    return m_db.checked(save.run());
}

bool Database::Searches::renameSearch(std::int64_t id, const std::string &name)
{
    // A name taken by another search is not given twice.
    Statement rename(m_db.m_db, "UPDATE OR IGNORE searches SET name = ?2 WHERE id = ?1");
    rename.bind(1, id);
    rename.bindText(2, name);
    return m_db.checked(rename.run());
}

bool Database::Searches::removeSearch(std::int64_t id)
{
    Statement remove(m_db.m_db, "DELETE FROM searches WHERE id = ?1");
    remove.bind(1, id);
    return m_db.checked(remove.run());
}

} // namespace auralist::catalogue
