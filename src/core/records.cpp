#include "core/records.h"

#include <unordered_map>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <unordered_set>

#include "core/file_type.h"
#include "core/smalltalk.h"

namespace auralist {

namespace {

const std::string *findEdit(const std::vector<std::pair<std::string, std::string>> &edits, std::string_view key)
{
    for (const auto &e : edits) {
        if (e.first == key)
            return &e.second;
    }
    return nullptr;
}

} // namespace

std::string_view RecordStore::editedValue(std::uint32_t i, std::string_view key, std::string_view otherwise) const
{
    const auto it = m_edits.find(i);
    if (it == m_edits.end())
        return otherwise;
    const std::string *v = findEdit(it->second, key);
    return v ? std::string_view(*v) : otherwise;
}

char *RecordStore::reserveBytes(std::size_t n, std::uint32_t &chunk, std::uint32_t &offset)
{
    if (m_chunks.empty() || m_used + n > m_chunkSizes.back()) {
        // The first chunk starts small: most batches and many folders are.
        const std::size_t size = std::max(m_chunks.empty() ? kFirstChunkBytes : kChunkBytes, n);
        m_chunks.push_back(std::make_unique_for_overwrite<char[]>(size));
        m_chunkSizes.push_back(size);
        m_used = 0;
    }
    chunk = static_cast<std::uint32_t>(m_chunks.size() - 1);
    offset = static_cast<std::uint32_t>(m_used);
    m_used += n;
    return m_chunks.back().get() + offset;
}

std::uint32_t RecordStore::folderNumber(std::string_view folder)
{
    // Records come folder by folder: the last one is the likeliest.
    if (m_lastFolder != kNoFolder && m_folders[m_lastFolder] == folder)
        return m_lastFolder;
    const auto known = m_folderNumbers.find(folder);
    if (known != m_folderNumbers.end())
        return m_lastFolder = known->second;
    m_folders.emplace_back(folder);
    m_lastFolder = static_cast<std::uint32_t>(m_folders.size() - 1);
    m_folderNumbers.emplace(m_folders.back(), m_lastFolder);
    return m_lastFolder;
}

std::uint32_t RecordStore::add(std::string_view path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return add(std::nullopt, path);
    return add(path.substr(0, slash), path.substr(slash + 1));
}

std::uint32_t RecordStore::add(std::optional<std::string_view> folder, std::string_view name)
{
    return add(folder ? folderNumber(*folder) : kNoFolder, name);
}

std::uint32_t RecordStore::add(std::uint32_t folder, std::string_view name)
{
    // Most names are ASCII: folded here, into the store, without a copy of
    // their own.
    bool ascii = true;
    bool upper = false;
    for (const char c : name) {
        ascii &= static_cast<unsigned char>(c) < 0x80;
        upper |= c >= 'A' && c <= 'Z';
    }
    const std::string folded = ascii ? std::string() : caseFold(name);
    const bool same = ascii ? !upper : folded == name;
    const std::size_t foldedLength = same ? 0 : ascii ? name.size() : folded.size();
    Entry e{};
    e.folder = folder;
    char *at = reserveBytes(name.size() + foldedLength, e.chunk, e.offset);
    // Bytes, not C strings: lengths are kept, no terminator is wanted.
    std::copy(name.begin(), name.end(), at);
    if (!same && ascii) {
        std::transform(name.begin(), name.end(), at + name.size(),
                       [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    } else if (!same) {
        std::copy(folded.begin(), folded.end(), at + name.size());
    }
    e.nameLength = static_cast<std::uint32_t>(name.size());
    e.foldedLength = static_cast<std::uint32_t>(foldedLength);
    m_entries.push_back(e);
    m_letters.push_back(lettersOf(same ? name : std::string_view(at + name.size(), foldedLength)));
    return static_cast<std::uint32_t>(m_entries.size() - 1);
}

void RecordStore::append(RecordStore &&batch)
{
    if (empty() && m_edits.empty()) {
        *this = std::move(batch);
        batch = RecordStore();
        return;
    }
    const auto offset = static_cast<std::uint32_t>(m_entries.size());
    // The batch's folders by this store's numbers.
    std::vector<std::uint32_t> folders(batch.m_folders.size());
    for (std::size_t f = 0; f < folders.size(); ++f)
        folders[f] = folderNumber(batch.m_folders[f]);
    // A small batch is copied into this store's own chunks: its last chunk
    // is mostly empty, and the store stays dense. A big one's chunks are
    // taken over as they are.
    const bool adopt = batch.m_entries.size() >= kAdoptedBatch && !batch.m_chunks.empty();
    const auto firstChunk = static_cast<std::uint32_t>(m_chunks.size());
    m_entries.reserve(m_entries.size() + batch.m_entries.size());
    for (const Entry &from : batch.m_entries) {
        Entry e = from;
        e.folder = from.folder == kNoFolder ? kNoFolder : folders[from.folder];
        if (adopt) {
            e.chunk = firstChunk + from.chunk;
        } else {
            const std::size_t bytes = std::size_t(from.nameLength) + from.foldedLength;
            char *at = reserveBytes(bytes, e.chunk, e.offset);
            if (bytes != 0)
                std::memcpy(at, batch.m_chunks[from.chunk].get() + from.offset, bytes);
        }
        m_entries.push_back(e);
    }
    if (adopt) {
        std::move(batch.m_chunks.begin(), batch.m_chunks.end(), std::back_inserter(m_chunks));
        m_chunkSizes.insert(m_chunkSizes.end(), batch.m_chunkSizes.begin(), batch.m_chunkSizes.end());
        m_used = batch.m_used;
    }
    m_letters.insert(m_letters.end(), batch.m_letters.begin(), batch.m_letters.end());
    // What is known of the batch's records comes with them.
    std::vector<std::uint16_t> reasons(batch.m_reasons.size());
    for (std::size_t n = 0; n < reasons.size(); ++n)
        reasons[n] = reasonNumber(batch.m_reasons[n]);
    const auto reasonHere = [&reasons](std::uint16_t n) { return n < reasons.size() ? reasons[n] : n; };
    if (!batch.m_facts.empty()) {
        m_facts.resize(offset);
        for (HeaderFacts f : batch.m_facts) {
            f.reason = reasonHere(f.reason);
            m_facts.push_back(f);
        }
    }
    if (!batch.m_traits.empty()) {
        m_traits.resize(offset);
        for (SoundTraits t : batch.m_traits) {
            t.reason = reasonHere(t.reason);
            m_traits.push_back(t);
        }
    }
    if (!batch.m_favourites.empty()) {
        m_favourites.resize(offset);
        m_favourites.insert(m_favourites.end(), batch.m_favourites.begin(), batch.m_favourites.end());
    }
    for (auto &[i, tags] : batch.m_tags)
        m_tags.emplace(offset + i, std::move(tags));
    for (auto &[i, metadata] : batch.m_metadata)
        m_metadata.emplace(offset + i, std::move(metadata));
    for (auto &[i, edits] : batch.m_edits)
        m_edits.emplace(offset + i, std::move(edits));
    batch = RecordStore();
}

void RecordStore::scannedPathInto(std::uint32_t i, std::string &out) const
{
    const std::uint32_t folder = m_entries[i].folder;
    const std::string_view name = scannedName(i);
    if (folder == kNoFolder) {
        out.assign(name);
        return;
    }
    const std::string &in = m_folders[folder];
    out.resize(in.size() + 1 + name.size());
    std::memcpy(out.data(), in.data(), in.size());
    out[in.size()] = '/';
    std::memcpy(out.data() + in.size() + 1, name.data(), name.size());
}

void RecordStore::pathInto(std::uint32_t i, std::string &out) const
{
    if (!m_edits.empty()) {
        if (const std::string *p = editedPath(i)) {
            out = *p;
            return;
        }
    }
    scannedPathInto(i, out);
}

bool RecordStore::pathIs(std::uint32_t i, std::string_view path) const
{
    if (!m_edits.empty()) {
        if (const std::string *p = editedPath(i))
            return *p == path;
    }
    return scannedPathIs(i, path);
}

bool RecordStore::scannedPathIs(std::uint32_t i, std::string_view path) const
{
    const std::uint32_t folder = m_entries[i].folder;
    const std::string_view name = scannedName(i);
    if (folder == kNoFolder)
        return path == name;
    const std::string &in = m_folders[folder];
    return path.size() == in.size() + 1 + name.size() && path.ends_with(name) && path[in.size()] == '/'
        && path.starts_with(in);
}

const std::string *RecordStore::editedPath(std::uint32_t i) const
{
    const auto it = m_edits.find(i);
    return it == m_edits.end() ? nullptr : findEdit(it->second, "path");
}

std::optional<std::string_view> RecordStore::value(std::uint32_t i, std::string_view key) const
{
    if (key == "name")
        return name(i);
    if (key == kFavouriteKey)
        return favourite(i) ? std::optional<std::string_view>(kFavouriteMark) : std::nullopt;
    if (key == kTagsKey) {
        const std::string_view t = tags(i);
        return t.empty() ? std::nullopt : std::optional<std::string_view>(t);
    }
    if (key == kDescriptionKey) {
        const FileMetadata *m = metadata(i);
        return m && !m->description.empty() ? std::optional<std::string_view>(m->description) : std::nullopt;
    }
    if (key.empty() || key == kFoldedKey || !edited(i))
        return std::nullopt;
    if (const std::string *v = findEdit(m_edits.at(i), key))
        return std::string_view(*v);
    return std::nullopt;
}

void RecordStore::setValue(std::uint32_t i, std::string_view key, std::string value)
{
    auto &edits = m_edits[i];
    auto put = [&](std::string_view k, std::string v) {
        for (auto &e : edits) {
            if (e.first == k) {
                e.second = std::move(v);
                return;
            }
        }
        edits.emplace_back(std::string(k), std::move(v));
    };
    if (key == "name")
        put(kFoldedKey, caseFold(value));
    put(key, std::move(value));
}

void RecordStore::setFavourite(std::uint32_t i, bool on)
{
    if (i >= m_entries.size() || (!on && i >= m_favourites.size()))
        return;
    if (m_favourites.size() < m_entries.size())
        m_favourites.resize(m_entries.size());
    m_favourites[i] = on ? 1 : 0;
}

std::string_view RecordStore::tags(std::uint32_t i) const
{
    const auto it = m_tags.find(i);
    return it == m_tags.end() ? std::string_view() : std::string_view(it->second);
}

const FileMetadata *RecordStore::metadata(std::uint32_t i) const
{
    if (m_metadata.empty())
        return nullptr;
    const auto it = m_metadata.find(i);
    return it == m_metadata.end() ? nullptr : &it->second;
}

void RecordStore::setMetadata(std::uint32_t i, FileMetadata metadata)
{
    if (i >= m_entries.size())
        return;
    if (metadata.empty())
        m_metadata.erase(i);
    else
        m_metadata[i] = std::move(metadata);
}

void RecordStore::setTags(std::uint32_t i, std::string tags)
{
    if (i >= m_entries.size())
        return;
    if (tags.empty())
        m_tags.erase(i);
    else
        m_tags[i] = std::move(tags);
}

void RecordStore::carryFrom(const RecordStore &from)
{
    const std::uint32_t shared = std::min(size(), from.size());
    m_reasons = from.m_reasons;
    if (!from.m_facts.empty()) {
        if (m_facts.size() < m_entries.size())
            m_facts.resize(m_entries.size());
        std::copy_n(from.m_facts.begin(), std::min<std::size_t>(shared, from.m_facts.size()), m_facts.begin());
    }
    if (!from.m_traits.empty()) {
        if (m_traits.size() < m_entries.size())
            m_traits.resize(m_entries.size());
        std::copy_n(from.m_traits.begin(), std::min<std::size_t>(shared, from.m_traits.size()), m_traits.begin());
    }
    // The marks of from win, set or not.
    for (std::uint32_t i = 0; i < shared; ++i) {
        if (from.favourite(i) != favourite(i))
            setFavourite(i, from.favourite(i));
    }
    for (const auto &[i, m] : from.m_metadata) {
        if (i < shared && !m_metadata.count(i))
            m_metadata[i] = m;
    }
    std::erase_if(m_tags, [&](const auto &t) { return t.first < shared && !from.m_tags.count(t.first); });
    for (const auto &[i, t] : from.m_tags) {
        if (i < shared)
            m_tags[i] = t;
    }
}

const HeaderFacts &RecordStore::facts(std::uint32_t i) const
{
    static const HeaderFacts unknown;
    return i < m_facts.size() ? m_facts[i] : unknown;
}

const SoundTraits &RecordStore::traits(std::uint32_t i) const
{
    static const SoundTraits unknown;
    return i < m_traits.size() ? m_traits[i] : unknown;
}

void RecordStore::setTraits(std::uint32_t i, const SoundTraits &traits)
{
    if (i >= m_entries.size())
        return;
    if (m_traits.size() < m_entries.size())
        m_traits.resize(m_entries.size());
    m_traits[i] = traits;
}

void RecordStore::setFacts(std::uint32_t i, const HeaderFacts &facts)
{
    if (i >= m_entries.size())
        return;
    if (m_facts.size() < m_entries.size())
        m_facts.resize(m_entries.size());
    m_facts[i] = facts;
}

std::uint16_t RecordStore::reasonNumber(const std::string &reason)
{
    const auto it = std::find(m_reasons.begin(), m_reasons.end(), reason);
    if (it != m_reasons.end())
        return static_cast<std::uint16_t>(it - m_reasons.begin());
    // A flood of distinct reasons shares the last slot.
    if (m_reasons.size() >= 1000)
        return static_cast<std::uint16_t>(m_reasons.size() - 1);
    m_reasons.push_back(reason);
    return static_cast<std::uint16_t>(m_reasons.size() - 1);
}

const std::string &RecordStore::reason(std::uint16_t number) const
{
    static const std::string none;
    return number < m_reasons.size() ? m_reasons[number] : none;
}

std::vector<std::pair<std::string_view, std::string_view>> RecordStore::editedEntries(std::uint32_t i) const
{
    std::vector<std::pair<std::string_view, std::string_view>> out;
    if (!edited(i))
        return out;
    for (const auto &e : m_edits.at(i)) {
        if (e.first != "name" && e.first != "path" && e.first != kFoldedKey)
            out.emplace_back(e.first, e.second);
    }
    std::sort(out.begin(), out.end());
    return out;
}

bool SoundRecord::equalEntries(const SoundRecord &other) const
{
    if (!m_store || !other.m_store)
        return !m_store && !other.m_store;
    if (*this == other)
        return true;
    return name() == other.name() && other.m_store->pathIs(other.m_index, path())
        && m_store->editedEntries(m_index) == other.m_store->editedEntries(other.m_index);
}

std::ptrdiff_t RecordList::positionOf(std::uint32_t record) const
{
    const auto it = std::find(m_rows.begin(), m_rows.end(), record);
    return it == m_rows.end() ? -1 : it - m_rows.begin();
}

void RecordList::insertAt(std::ptrdiff_t position, std::uint32_t record)
{
    if (position < 0 || position > static_cast<std::ptrdiff_t>(m_rows.size()))
        position = static_cast<std::ptrdiff_t>(m_rows.size());
    m_rows.insert(m_rows.begin() + position, record);
}

bool RecordList::containsPath(std::string_view path) const
{
    return std::any_of(m_rows.begin(), m_rows.end(), [&](std::uint32_t r) { return m_store->pathIs(r, path); });
}

void RecordList::removePaths(const PathSet &paths)
{
    if (paths.empty())
        return;
    // A row's name is at hand; its path has to be put together. Only a
    // row whose path ends like one of them is looked at whole.
    std::unordered_set<std::string_view> names;
    for (const std::string &p : paths)
        names.insert(RecordStore::tailOf(p));
    std::string path;
    std::erase_if(m_rows, [&](std::uint32_t r) {
        if (!names.contains(m_store->pathTail(r)))
            return false;
        m_store->pathInto(r, path);
        return paths.contains(path);
    });
}

std::vector<std::ptrdiff_t> RecordList::positionsOf(const std::vector<std::uint32_t> &records) const
{
    std::vector<std::ptrdiff_t> at(records.size(), -1);
    std::unordered_map<std::uint32_t, std::vector<std::size_t>> asked;
    for (std::size_t i = 0; i < records.size(); ++i)
        asked[records[i]].push_back(i);
    for (std::size_t row = 0; row < m_rows.size() && !asked.empty(); ++row) {
        const auto it = asked.find(m_rows[row]);
        if (it == asked.end())
            continue;
        for (const std::size_t i : it->second)
            at[i] = static_cast<std::ptrdiff_t>(row);
        asked.erase(it);
    }
    return at;
}

SoundList makeSoundList()
{
    return std::make_shared<RecordList>(std::make_shared<RecordStore>());
}

SoundList makeSoundList(const RecordStorePtr &store)
{
    return std::make_shared<RecordList>(store);
}

bool hasPath(const SoundRecord &record, std::string_view path)
{
    return record && record.store()->pathIs(record.index(), path);
}

} // namespace auralist
