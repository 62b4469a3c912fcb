#pragma once

// What the database's parts share: its prepared statements and how a
// sound's row is read and written. For the files of catalogue::Database
// only.

#include <sqlite3.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "catalogue/database.h"

namespace auralist::catalogue {

// A prepared statement, finalised when it goes.
class Statement {
public:
    Statement(sqlite3 *db, const char *sql)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
            m_stmt = nullptr;
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    bool ok() const { return m_stmt != nullptr; }
    // Ready to run again (a query read only in part).
    void reset() { sqlite3_reset(m_stmt); }
    void bind(int i, std::int64_t v) { sqlite3_bind_int64(m_stmt, i, v); }
    void bind(int i, const std::optional<std::uint64_t> &v)
    {
        if (v)
            sqlite3_bind_int64(m_stmt, i, static_cast<std::int64_t>(*v));
        else
            sqlite3_bind_null(m_stmt, i);
    }
    // A NaN is no value.
    void bindReal(int i, double v)
    {
        if (std::isnan(v))
            sqlite3_bind_null(m_stmt, i);
        else
            sqlite3_bind_double(m_stmt, i, v);
    }
    void bindBytes(int i, const void *data, std::size_t size)
    {
        sqlite3_bind_blob(m_stmt, i, data, static_cast<int>(size), SQLITE_TRANSIENT);
    }
    void bind(int i, const std::string &v)
    {
        sqlite3_bind_blob(m_stmt, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    }
    void bindText(int i, const std::string &v)
    {
        sqlite3_bind_text(m_stmt, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    }
    // SQLITE_ROW, SQLITE_DONE or an error.
    int step() { return m_stmt ? sqlite3_step(m_stmt) : SQLITE_ERROR; }
    // Runs a statement that returns an id (RETURNING id): that id, or 0
    // when no row was touched; nothing on an error.
    std::optional<std::int64_t> runForId()
    {
        const int rc = step();
        const std::int64_t id = rc == SQLITE_ROW ? integer(0) : 0;
        sqlite3_reset(m_stmt);
        if (rc != SQLITE_DONE && rc != SQLITE_ROW)
            return std::nullopt;
        return id;
    }
    bool run()
    {
        const int rc = step();
        sqlite3_reset(m_stmt);
        return rc == SQLITE_DONE || rc == SQLITE_ROW;
    }
    std::int64_t integer(int column) const { return sqlite3_column_int64(m_stmt, column); }
    double real(int column) const
    {
        return sqlite3_column_type(m_stmt, column) == SQLITE_NULL ? std::numeric_limits<double>::quiet_NaN()
                                                                  : sqlite3_column_double(m_stmt, column);
    }
    bool isBlob(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_BLOB; }
    bool isNull(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }
    // Valid until the next step.
    std::string_view view(int column) const
    {
        const auto *data = static_cast<const char *>(sqlite3_column_blob(m_stmt, column));
        return data ? std::string_view(data, static_cast<size_t>(sqlite3_column_bytes(m_stmt, column)))
                    : std::string_view();
    }
    std::string bytes(int column) const
    {
        const auto *data = static_cast<const char *>(sqlite3_column_blob(m_stmt, column));
        return data ? std::string(data, static_cast<size_t>(sqlite3_column_bytes(m_stmt, column))) : std::string();
    }

private:
    sqlite3_stmt *m_stmt = nullptr;
};

// Where a path's row is: by its folder and its name.
inline constexpr const char *kAtPath1 = " WHERE folder = folder_of(?1) AND name = name_of(?1)";
inline constexpr const char *kAtPath2 = " WHERE folder = folder_of(?2) AND name = name_of(?2)";

// A sound's columns, in the order soundAt reads them.
inline constexpr const char *kSoundColumns
    = "sound_path(folder, name), size, modified, device, inode, length_frames, rate, channels, format,"
      " favourite, tags, fingerprint, metadata, content";

// A fingerprint's hash as it is kept: 8 bytes, the most significant first.
std::string packedHash(std::uint64_t hash);
std::uint64_t unpackedHash(std::string_view bytes);
// A fingerprint is "size:hash"; where the size is the row's own, only the
// hash is kept, as 8 bytes (half the room, in the table and its index).
std::optional<std::string> packedPrint(const std::string &print, std::int64_t size);
// The sound of a row selected with kSoundColumns first.
SoundRow soundAt(const Statement &select);

} // namespace auralist::catalogue
