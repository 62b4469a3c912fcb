#pragma once

#include <cstdint>
#include <deque>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/sound_traits.h"

namespace auralist {

// What a sound file's header says, read after the records are listed.
struct HeaderFacts {
    enum class State : std::uint8_t { Unknown, Read, Failed };
    std::int64_t frames = 0;
    std::uint64_t size = 0;
    std::uint32_t rate = 0;
    std::uint16_t channels = 0;
    std::uint8_t container = 0; // a FileFormat code (see header_facts.h)
    std::uint8_t encoding = 0; // a SampleEncoding code
    State state = State::Unknown;
    std::uint16_t reason = 0; // why it failed: RecordStore::reason()
};

// What a file says of itself inside it (Broadcast WAV, RIFF INFO, iXML,
// the instrument and loop chunks, ID3, Vorbis comments), read with the
// header; bounded, valid UTF-8.
struct FileMetadata {
    std::string description; // the description, else a comment
    std::string text; // every field as "Field: value" lines
    float bpm = 0; // the file's own tempo; 0: none stated
    std::int8_t rootNote = -1; // its root note (MIDI); -1: none
    bool empty() const { return description.empty() && text.empty() && bpm <= 0 && rootNote < 0; }
    bool operator==(const FileMetadata &) const = default;
};

// The records of one intake. Thread: whoever owns it (the GUI thread for the
// library; the scanner for a batch it is still filling). Keeps each folder's
// path once and each record's name with its folder's number; the name
// case-folded for find (kept only when it differs); and a side table of
// header facts. A path is its folder's path, '/' and its name (a path with
// no '/' is its name alone). Append-only: a record's index never changes
// for the store's lifetime.
class RecordStore {
public:
    RecordStore() = default;
    RecordStore(const RecordStore &) = delete;
    RecordStore &operator=(const RecordStore &) = delete;
    RecordStore(RecordStore &&) = default;
    RecordStore &operator=(RecordStore &&) = default;

    // A record for path, named by its last component. Returns its index.
    std::uint32_t add(std::string_view path);
    // The same for the sound name in folder (a path of its own, no '/' at
    // its end; none for a name with no folder).
    std::uint32_t add(std::optional<std::string_view> folder, std::string_view name);
    // The same in the folder of that number (kNoFolder: none).
    std::uint32_t add(std::uint32_t folder, std::string_view name);
    // The number of the folder at path, made if need be.
    std::uint32_t folderNumber(std::string_view folder);
    // Takes in every record of batch, in order, with all that is known of
    // them; batch is left empty.
    void append(RecordStore &&batch);

    std::uint32_t size() const { return static_cast<std::uint32_t>(m_entries.size()); }
    bool empty() const { return m_entries.empty(); }

    // The path, put together.
    std::string path(std::uint32_t i) const
    {
        if (!m_edits.empty()) {
            if (const std::string *p = editedPath(i))
                return *p;
        }
        return scannedPath(i);
    }
    // The same into out (its bytes replaced): no allocation once out has
    // room, for passes over many records.
    void pathInto(std::uint32_t i, std::string &out) const;
    // Whether record i's path is exactly path, without putting it together.
    bool pathIs(std::uint32_t i, std::string_view path) const;
    // Whether a cell of record i was edited (its name or path among them).
    bool edited(std::uint32_t i) const { return !m_edits.empty() && m_edits.count(i) != 0; }
    // What follows the path's last '/' (all of it when there is none),
    // without putting the path together.
    std::string_view pathTail(std::uint32_t i) const
    {
        if (!m_edits.empty()) {
            if (const std::string *p = editedPath(i))
                return tailOf(*p);
        }
        return scannedName(i);
    }
    // What follows path's last '/' (all of it when there is none): the
    // name a record made from path has.
    static std::string_view tailOf(std::string_view path)
    {
        const auto slash = path.rfind('/');
        return slash == std::string_view::npos ? path : path.substr(slash + 1);
    }
    // The path as scanned, edits aside: what other threads may read once
    // the store takes no more records.
    bool scannedPathIs(std::uint32_t i, std::string_view path) const;
    std::string scannedPath(std::uint32_t i) const
    {
        std::string out;
        scannedPathInto(i, out);
        return out;
    }
    void scannedPathInto(std::uint32_t i, std::string &out) const;
    // The folder record i was scanned in: its number (kNoFolder: none) and
    // path.
    static constexpr std::uint32_t kNoFolder = 0xFFFFFFFF;
    std::uint32_t folderOf(std::uint32_t i) const { return m_entries[i].folder; }
    std::string_view folderPath(std::uint32_t folder) const
    {
        return folder == kNoFolder ? std::string_view() : std::string_view(m_folders[folder]);
    }
    std::uint32_t folderCount() const { return static_cast<std::uint32_t>(m_folders.size()); }
    // The name as scanned, edits aside. Its text stays where it is, as it
    // is, for the store's lifetime: another thread may read it while the
    // store takes more records.
    std::string_view scannedName(std::uint32_t i) const
    {
        const Entry &e = m_entries[i];
        return {m_chunks[e.chunk].get() + e.offset, e.nameLength};
    }
    std::string_view name(std::uint32_t i) const
    {
        const std::string_view n = scannedName(i);
        return m_edits.empty() ? n : editedValue(i, "name", n);
    }
    std::string_view foldedName(std::uint32_t i) const
    {
        const Entry &e = m_entries[i];
        const std::string_view f = e.foldedLength == 0
            ? scannedName(i)
            : std::string_view(m_chunks[e.chunk].get() + e.offset + e.nameLength, e.foldedLength);
        return m_edits.empty() ? f : editedValue(i, kFoldedKey, f);
    }
    // Asks the processor for record i's entry, or, once that is in hand,
    // for its folded name: a search over many records asks a few ahead, and
    // the names it compares are in the cache when it gets there.
    void prefetchEntry(std::uint32_t i) const { __builtin_prefetch(m_entries.data() + i); }
    void prefetchFoldedName(std::uint32_t i) const
    {
        const Entry &e = m_entries[i];
        __builtin_prefetch(m_chunks[e.chunk].get() + e.offset + (e.foldedLength == 0 ? 0 : e.nameLength));
    }
    // Which bytes occur in the folded name, one bit per byte value modulo
    // 64: a name lacking one of a find text's bits cannot contain it.
    std::uint64_t nameLetters(std::uint32_t i) const { return m_edits.empty() ? m_letters[i] : ~std::uint64_t(0); }
    static std::uint64_t lettersOf(std::string_view text)
    {
        std::uint64_t bits = 0;
        for (const char c : text)
            bits |= std::uint64_t(1) << (static_cast<unsigned char>(c) & 63);
        return bits;
    }
    // Where an edited name's folded form is kept among the edits.
    static constexpr std::string_view kFoldedKey{"\0folded", 7};

    // The entry under key: "name" as made, or a value stored by an edit.
    // Nothing when absent. The path is not among them, since it is put
    // together: path() gives it.
    std::optional<std::string_view> value(std::uint32_t i, std::string_view key) const;
    void setValue(std::uint32_t i, std::string_view key, std::string value);

    const HeaderFacts &facts(std::uint32_t i) const;
    void setFacts(std::uint32_t i, const HeaderFacts &facts);
    // What the analysis learned (loudness, tempo, pitch).
    const SoundTraits &traits(std::uint32_t i) const;
    void setTraits(std::uint32_t i, const SoundTraits &traits);
    // Failure reasons are few and shared: each is kept once, by number.
    std::uint16_t reasonNumber(const std::string &reason);
    const std::string &reason(std::uint16_t number) const;

    // The user's marks: a favourite (shown as "★" under "favourite") and
    // comma-separated tags (under "tags"). Both are rare, so kept apart.
    bool favourite(std::uint32_t i) const { return i < m_favourites.size() && m_favourites[i] != 0; }
    void setFavourite(std::uint32_t i, bool on);
    std::string_view tags(std::uint32_t i) const;
    void setTags(std::uint32_t i, std::string tags);
    // What the file says of itself; null when nothing. Rare, so kept apart.
    const FileMetadata *metadata(std::uint32_t i) const;
    void setMetadata(std::uint32_t i, FileMetadata metadata);
    static constexpr std::string_view kDescriptionKey{"description"};
    static constexpr std::string_view kFavouriteKey{"favourite"};
    static constexpr std::string_view kTagsKey{"tags"};
    static constexpr std::string_view kFavouriteMark{"\u2605"};

    // Takes what from knows of each record both stores have (header facts,
    // traits, marks, failure reasons): from is a store this one extends, holding
    // the same paths at the same indexes.
    void carryFrom(const RecordStore &from);

    // Entries added by edits, other than "name" and "path", by key.
    std::vector<std::pair<std::string_view, std::string_view>> editedEntries(std::uint32_t i) const;

private:
    struct Entry {
        std::uint32_t folder; // kNoFolder: none
        std::uint32_t chunk;
        std::uint32_t offset; // of the name, then its folded form if kept
        std::uint32_t nameLength;
        std::uint32_t foldedLength; // 0: the folded name is the name itself
    };
    const std::string *editedPath(std::uint32_t i) const;
    static constexpr std::size_t kChunkBytes = std::size_t(4) << 20;
    static constexpr std::size_t kAdoptedBatch = 65536; // records
    static constexpr std::size_t kFirstChunkBytes = std::size_t(64) << 10;

    char *reserveBytes(std::size_t n, std::uint32_t &chunk, std::uint32_t &offset);
    std::string_view editedValue(std::uint32_t i, std::string_view key, std::string_view otherwise) const;

    // Each folder's path once; its number found by its bytes while records
    // are added (the views point into m_folders, whose strings never move).
    std::deque<std::string> m_folders;
    std::unordered_map<std::string_view, std::uint32_t> m_folderNumbers;
    std::uint32_t m_lastFolder = kNoFolder;
    std::vector<std::unique_ptr<char[]>> m_chunks;
    std::vector<std::size_t> m_chunkSizes;
    std::size_t m_used = 0; // in the last chunk
    std::vector<Entry> m_entries;
    std::vector<std::uint64_t> m_letters; // by record: lettersOf(foldedName)
    std::vector<HeaderFacts> m_facts; // grows on the first write
    std::vector<SoundTraits> m_traits; // grows on the first write
    std::vector<std::string> m_reasons;
    std::vector<std::uint8_t> m_favourites; // grows on the first mark
    std::unordered_map<std::uint32_t, std::string> m_tags;
    std::unordered_map<std::uint32_t, FileMetadata> m_metadata;
    // Cells edited in the table: rare, so kept apart.
    std::unordered_map<std::uint32_t, std::vector<std::pair<std::string, std::string>>> m_edits;
};

using RecordStorePtr = std::shared_ptr<RecordStore>;

// A sound record: one record of a store, shared by reference (copies of a
// handle name the same record). A null handle names nothing.
class SoundRecord {
public:
    SoundRecord() = default;
    SoundRecord(RecordStorePtr store, std::uint32_t index) : m_store(std::move(store)), m_index(index) { }

    explicit operator bool() const { return m_store != nullptr; }
    std::string_view name() const { return m_store->name(m_index); }
    std::string path() const { return m_store->path(m_index); }
    std::string_view foldedName() const { return m_store->foldedName(m_index); }
    std::optional<std::string_view> value(std::string_view key) const { return m_store->value(m_index, key); }
    void setValue(std::string_view key, std::string value) const { m_store->setValue(m_index, key, std::move(value)); }
    void setFavourite(bool on) const { m_store->setFavourite(m_index, on); }
    void setTags(std::string tags) const { m_store->setTags(m_index, std::move(tags)); }
    const HeaderFacts &facts() const { return m_store->facts(m_index); }

    const RecordStore *store() const { return m_store.get(); }
    std::uint32_t index() const { return m_index; }

    // The same record (not merely equal entries).
    bool operator==(const SoundRecord &other) const
    {
        return m_store == other.m_store && (!m_store || m_index == other.m_index);
    }
    // Equal entries: the equality lists search and remove by.
    bool equalEntries(const SoundRecord &other) const;

private:
    RecordStorePtr m_store;
    std::uint32_t m_index = 0;
};

struct SoundRecordHash {
    std::size_t operator()(const SoundRecord &r) const
    {
        return std::hash<const void *>()(r.store()) ^ (std::size_t(r.index()) * 0x9E3779B97F4A7C15ULL);
    }
};

// A list of records: a view (indexes) into one store. The sound list, the
// match list and the table's rows are such views; several owners share one.
// Paths looked up by their bytes, without a copy.
struct PathHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view path) const { return std::hash<std::string_view>{}(path); }
};
using PathSet = std::unordered_set<std::string, PathHash, std::equal_to<>>;

class RecordList {
public:
    explicit RecordList(RecordStorePtr store) : m_store(std::move(store)) { }

    const RecordStorePtr &store() const { return m_store; }
    std::vector<std::uint32_t> &rows() { return m_rows; }
    const std::vector<std::uint32_t> &rows() const { return m_rows; }

    std::size_t size() const { return m_rows.size(); }
    bool empty() const { return m_rows.empty(); }
    SoundRecord operator[](std::size_t row) const { return {m_store, m_rows[row]}; }
    // Adds a new record for path to the store and lists it last.
    void append(std::string_view path) { m_rows.push_back(m_store->add(path)); }
    // Lists a record of this list's store last.
    void push_back(const SoundRecord &record) { m_rows.push_back(record.index()); }
    // Where a record of this list's store is first listed (-1: nowhere).
    std::ptrdiff_t positionOf(std::uint32_t record) const;
    // Lists a record of this list's store at position (past the end, or
    // -1: last).
    void insertAt(std::ptrdiff_t position, std::uint32_t record);
    // Whether a listed record's "path" is exactly path.
    bool containsPath(std::string_view path) const;
    // Where each of records is first listed (-1: nowhere), in one pass.
    std::vector<std::ptrdiff_t> positionsOf(const std::vector<std::uint32_t> &records) const;
    // Takes every record whose "path" is exactly one of paths out of the
    // list, in one pass.
    void removePaths(const PathSet &paths);

    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = SoundRecord;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = SoundRecord;
        const_iterator(const RecordList *list, std::size_t row) : m_list(list), m_row(row) { }
        SoundRecord operator*() const { return (*m_list)[m_row]; }
        const_iterator &operator++()
        {
            ++m_row;
            return *this;
        }
        const_iterator operator++(int)
        {
            const_iterator was = *this;
            ++m_row;
            return was;
        }
        bool operator==(const const_iterator &o) const { return m_row == o.m_row; }

    private:
        const RecordList *m_list;
        std::size_t m_row;
    };
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, m_rows.size()}; }

private:
    RecordStorePtr m_store;
    std::vector<std::uint32_t> m_rows;
};

using SoundList = std::shared_ptr<RecordList>;

// A new, empty list over a new, empty store.
SoundList makeSoundList();
// A new, empty list over the same store as list.
SoundList makeSoundList(const RecordStorePtr &store);
// Whether the record's "path" entry is exactly path.
bool hasPath(const SoundRecord &record, std::string_view path);

} // namespace auralist
