#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <utility>

#include "catalogue/database.h"
#include "catalogue/folders.h"

struct sqlite3;

namespace auralist::catalogue {

// The sounds of root as a list shows them, in id order, those whose ids
// are in (after, upTo], read on the connection db with its folders. False
// when the read stopped before the last of them (a busy or failing file).
bool eachListedSound(sqlite3 *db, Folders &folders, std::int64_t root, std::int64_t after, std::int64_t upTo,
                     const std::function<void(const Database::ListedSound &)> &visit);

// A connection of its own, read only, for a list read in two halves at
// once: the writer's connection reads one, a helper thread the other
// through this one. A reader in the journal's mode sees the catalogue as
// the last commit left it, whatever the writer does meanwhile.
//
// Threads: made on one thread, then used on one other.
class ListReader {
public:
    static constexpr std::int64_t kLast = std::numeric_limits<std::int64_t>::max();

    explicit ListReader(const std::string &path);
    ~ListReader();
    ListReader(const ListReader &) = delete;
    ListReader &operator=(const ListReader &) = delete;

    bool ok() const { return m_db != nullptr; }
    // The lowest and highest id of root's sounds; (0, 0) when it has none.
    std::pair<std::int64_t, std::int64_t> idsOf(std::int64_t root);
    bool each(std::int64_t root, std::int64_t after, std::int64_t upTo,
              const std::function<void(const Database::ListedSound &)> &visit)
    {
        return eachListedSound(m_db, m_folders, root, after, upTo, visit);
    }

private:
    sqlite3 *m_db = nullptr;
    Folders m_folders{m_db}; // after m_db, which it refers to
};

} // namespace auralist::catalogue
