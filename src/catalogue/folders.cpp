#include "catalogue/folders.h"

#include <sqlite3.h>

#include "catalogue/statement.h"

namespace auralist::catalogue {

std::string_view Folders::folderPart(std::string_view path)
{
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

std::string_view Folders::namePart(std::string_view path)
{
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

void Folders::clear()
{
    m_ids.clear();
    m_paths.clear();
    m_learnedAll = false;
    for (sqlite3_stmt **st : {&m_select, &m_insert, &m_selectId}) {
        sqlite3_finalize(*st);
        *st = nullptr;
    }
}

sqlite3_stmt *Folders::prepared(sqlite3_stmt *&statement, const char *sql)
{
    if (statement)
        sqlite3_reset(statement);
    else if (sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr) != SQLITE_OK)
        statement = nullptr;
    return statement;
}

void Folders::learnAll()
{
    if (m_learnedAll || !m_db)
        return;
    m_learnedAll = true;
    // Parents are always made first, so each parent's path is known by the
    // time its children come.
    Statement all(m_db, "SELECT id, parent, name FROM folders ORDER BY id");
    while (all.step() == SQLITE_ROW) {
        const std::int64_t id = all.integer(0);
        if (all.isNull(1)) {
            learn(id, all.bytes(2));
            continue;
        }
        const auto parent = m_paths.find(all.integer(1));
        if (parent != m_paths.end())
            learn(id, parent->second + '/' + std::string(all.view(2)));
    }
}

std::int64_t Folders::find(std::string_view folder)
{
    return lookUp(folder, false);
}

std::int64_t Folders::make(std::string_view folder)
{
    return lookUp(folder, true);
}

namespace {

// A folder's parent (none for the top) and name as ?1 and ?2.
void bindFolder(sqlite3_stmt *statement, std::int64_t parent, std::string_view name)
{
    if (parent != 0)
        sqlite3_bind_int64(statement, 1, parent);
    else
        sqlite3_bind_null(statement, 1);
    sqlite3_bind_blob64(statement, 2, name.data(), name.size(), SQLITE_STATIC);
}

} // namespace

std::int64_t Folders::lookUp(std::string_view folder, bool create)
{
    learnAll();
    if (const auto known = m_ids.find(folder); known != m_ids.end())
        return known->second;
    // The parent first: the top folder has none.
    std::int64_t parent = 0;
    if (hasFolder(folder)) {
        parent = lookUp(folderPart(folder), create);
        if (parent == 0)
            return 0;
    }
    const std::string_view name = namePart(folder);
    std::int64_t id = 0;
    if (sqlite3_stmt *select = prepared(m_select, "SELECT id FROM folders WHERE parent IS ?1 AND name = ?2")) {
        bindFolder(select, parent, name);
        if (sqlite3_step(select) == SQLITE_ROW)
            id = sqlite3_column_int64(select, 0);
        sqlite3_reset(select);
    }
    if (id == 0 && create) {
        if (sqlite3_stmt *insert = prepared(m_insert, "INSERT INTO folders(parent, name) VALUES(?1, ?2)")) {
            bindFolder(insert, parent, name);
            if (sqlite3_step(insert) == SQLITE_DONE)
                id = sqlite3_last_insert_rowid(m_db);
            sqlite3_reset(insert);
        }
    }
    if (id != 0)
        learn(id, std::string(folder));
    return id;
}

const std::string &Folders::learn(std::int64_t id, std::string path)
{
    const auto [at, added] = m_paths.emplace(id, std::move(path));
    if (added)
        m_ids.emplace(at->second, id);
    return at->second;
}

const std::string *Folders::pathOf(std::int64_t id)
{
    learnAll();
    if (const auto known = m_paths.find(id); known != m_paths.end())
        return &known->second;
    std::int64_t parent = 0;
    std::string name;
    sqlite3_stmt *select = prepared(m_selectId, "SELECT parent, name FROM folders WHERE id = ?1");
    if (!select)
        return nullptr;
    sqlite3_bind_int64(select, 1, id);
    const bool found = sqlite3_step(select) == SQLITE_ROW;
    if (found) {
        parent = sqlite3_column_type(select, 0) == SQLITE_NULL ? 0 : sqlite3_column_int64(select, 0);
        const auto *bytes = static_cast<const char *>(sqlite3_column_blob(select, 1));
        name.assign(bytes ? bytes : "", static_cast<std::size_t>(sqlite3_column_bytes(select, 1)));
    }
    sqlite3_reset(select);
    if (!found)
        return nullptr;
    std::string path;
    if (parent != 0) {
        // A parent that is its own ancestor would never end: rows are only
        // ever made parent first, so a parent's id is always the smaller.
        const std::string *above = parent < id ? pathOf(parent) : nullptr;
        if (!above)
            return nullptr;
        path = *above + '/' + name;
    } else {
        path = std::move(name);
    }
    return &learn(id, std::move(path));
}

std::optional<std::string> Folders::soundPath(std::int64_t folder, std::string_view name)
{
    if (folder == 0)
        return std::string(name);
    const std::string *path = pathOf(folder);
    if (!path)
        return std::nullopt;
    std::string out;
    out.reserve(path->size() + 1 + name.size());
    out += *path;
    out += '/';
    out += name;
    return out;
}

namespace {

std::string_view bytesOf(sqlite3_value *value)
{
    const auto *data = static_cast<const char *>(sqlite3_value_blob(value));
    return data ? std::string_view(data, static_cast<std::size_t>(sqlite3_value_bytes(value))) : std::string_view();
}

void resultBytes(sqlite3_context *context, std::string_view bytes)
{
    sqlite3_result_blob64(context, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
}

void folderOf(sqlite3_context *context, int, sqlite3_value **values)
{
    auto *folders = static_cast<Folders *>(sqlite3_user_data(context));
    const std::string_view path = bytesOf(values[0]);
    if (!Folders::hasFolder(path)) {
        sqlite3_result_int64(context, 0);
        return;
    }
    const std::int64_t id = folders->find(Folders::folderPart(path));
    sqlite3_result_int64(context, id == 0 ? -1 : id);
}

void nameOf(sqlite3_context *context, int, sqlite3_value **values)
{
    resultBytes(context, Folders::namePart(bytesOf(values[0])));
}

void soundPath(sqlite3_context *context, int, sqlite3_value **values)
{
    auto *folders = static_cast<Folders *>(sqlite3_user_data(context));
    if (const auto path = folders->soundPath(sqlite3_value_int64(values[0]), bytesOf(values[1])))
        resultBytes(context, *path);
    else
        sqlite3_result_null(context);
}

} // namespace

void addFolderFunctions(sqlite3 *db, Folders *folders)
{
    sqlite3_create_function(db, "folder_of", 1, SQLITE_UTF8, folders, &folderOf, nullptr, nullptr);
    sqlite3_create_function(db, "name_of", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, &nameOf, nullptr, nullptr);
    sqlite3_create_function(db, "sound_path", 2, SQLITE_UTF8, folders, &soundPath, nullptr, nullptr);
}

} // namespace auralist::catalogue
