#pragma once

#include <string>
#include <vector>

namespace auralist::catalogue {

// A mark the user made: a favourite set or cleared, or a sound's tags.
struct MarkEdit {
    enum class Kind { Favourite, Tags };
    Kind kind = Kind::Favourite;
    std::string path;
    bool on = false; // Favourite
    std::string tags; // Tags
    bool operator==(const MarkEdit &) const = default;
};

// The marks not yet known to be in the catalogue, in a small file beside
// it: each is added before it is written to the catalogue and leaves once
// it is committed there, so a mark made while the catalogue is busy, held
// by another program, or has not recorded the sound yet survives a kill
// or a quit and is written at the next start.
//
// One line a mark, its text fields in hexadecimal, so any bytes of a path
// pass. A line that cannot be read (a torn last line) is left out.
//
// Not thread-safe: the catalogue's writer thread owns it.
class MarkJournal {
public:
    explicit MarkJournal(std::string path) : m_path(std::move(path)) { }

    std::vector<MarkEdit> read() const;
    // Adds edits at the end, on the disk before it returns.
    bool append(const std::vector<MarkEdit> &edits);
    // Makes edits the whole journal (none: the file goes).
    bool replace(const std::vector<MarkEdit> &edits);
    const std::string &path() const { return m_path; }

private:
    std::string m_path;
};

} // namespace auralist::catalogue
