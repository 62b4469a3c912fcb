#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace auralist {

// A sound record: a small mutable dictionary of string entries. Made with
// exactly "name" and "path"; editing may store other keys. Values are the
// native bytes of file names and paths, never re-encoded.
class Record {
public:
    Record() = default;
    Record(std::string name, std::string path);

    // The value under key, or null when the key is absent.
    const std::string *value(std::string_view key) const;
    void setValue(std::string_view key, std::string value);

    const std::string &name() const { return m_name; }
    const std::string &path() const { return m_path; }

    // The name case-folded for the find filter, computed once.
    const std::string &foldedName() const;

    // Equal when the entries are equal.
    bool operator==(const Record &other) const;

private:
    struct Extra {
        std::string key;
        std::string value;
    };
    std::string m_name;
    std::string m_path;
    mutable std::string m_folded;
    mutable bool m_hasFolded = false;
    bool m_hasName = true;
    bool m_hasPath = true;
    std::unique_ptr<std::vector<Extra>> m_extra;
};

// Lists hold references: the same record object is seen through every list.
using SoundRecord = std::shared_ptr<Record>;
// A list object that several owners share (sound list, match list, rows).
using SoundList = std::shared_ptr<std::vector<SoundRecord>>;

SoundRecord makeSoundRecord(const std::string &path);
// Whether the record's "path" entry is exactly path.
bool hasPath(const Record &record, std::string_view path);
SoundList makeSoundList();

} // namespace auralist
