#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

struct sqlite3;
struct sqlite3_stmt;

namespace auralist::catalogue {

// The folders table: each folder once, as its parent's id and its own name,
// so a sound keeps only its folder's id and its name. A path is split at
// its last '/': "/a/b.wav" is the sound "b.wav" of the folder "/a", which
// is "a" of the folder "" (the top, with no parent). A path with no '/' has
// no folder (0). Any bytes come back exactly as they went in.
//
// Folder rows never change once written and their ids are never used
// again (AUTOINCREMENT), so what one connection has learned stays true
// whatever another writes. Thread: the owning Database's.
class Folders {
public:
    explicit Folders(sqlite3 *const &db) : m_db(db) { }
    ~Folders() { clear(); }
    Folders(const Folders &) = delete;
    Folders &operator=(const Folders &) = delete;

    // The folder's id; 0 when it has none yet (find) or it cannot be
    // written (make).
    std::int64_t find(std::string_view folder);
    std::int64_t make(std::string_view folder);
    // The id of the folder of the sound at path, made if need be: 0 for a
    // path with no folder, -1 when it cannot be made.
    std::int64_t ofSound(std::string_view path)
    {
        if (!hasFolder(path))
            return 0;
        const std::int64_t folder = make(folderPart(path));
        return folder == 0 ? -1 : folder;
    }
    // The folder's path; nothing for an id no row has.
    const std::string *pathOf(std::int64_t id);
    // What was learned is forgotten: after a rollback, which may have
    // taken back folders made in it, and before the connection closes.
    void clear();

    // The sound at path: its folder part and its name.
    static std::string_view folderPart(std::string_view path);
    static std::string_view namePart(std::string_view path);
    static bool hasFolder(std::string_view path) { return path.find('/') != std::string_view::npos; }
    // path put together again.
    std::optional<std::string> soundPath(std::int64_t folder, std::string_view name);

private:
    std::int64_t lookUp(std::string_view folder, bool create);
    const std::string &learn(std::int64_t id, std::string path);
    // Every folder there is, read in one pass the first time one is asked
    // for; later ones (another connection's) one at a time.
    void learnAll();
    sqlite3_stmt *prepared(sqlite3_stmt *&statement, const char *sql);

    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    sqlite3 *const &m_db;
    bool m_learnedAll = false;
    sqlite3_stmt *m_select = nullptr;
    sqlite3_stmt *m_insert = nullptr;
    sqlite3_stmt *m_selectId = nullptr;
    // Each path held once, in m_paths; m_ids looks it up by its bytes.
    std::unordered_map<std::int64_t, std::string> m_paths;
    std::unordered_map<std::string_view, std::int64_t, Hash> m_ids;
};

// The SQL functions over a connection's folders, for its statements:
// folder_of(path) (-1 for a folder not known, which no row has),
// name_of(path) and sound_path(folder, name).
void addFolderFunctions(sqlite3 *db, Folders *folders);

} // namespace auralist::catalogue
