#include "catalogue/reconcile.h"

#include <xxhash.h>

#include <algorithm>
#include <array>
#include <string_view>
#include <unordered_map>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace auralist::catalogue {

namespace {

constexpr std::int64_t kEdgeBytes = std::int64_t{64} * 1024;

bool readAt(int fd, char *buffer, std::int64_t length, std::int64_t at)
{
    std::int64_t done = 0;
    while (done < length) {
        const ssize_t got = ::pread(fd, buffer + done, static_cast<size_t>(length - done), at + done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += got;
    }
    return true;
}

} // namespace

std::optional<std::string> fingerprintOf(const std::string &path)
{
    // Never waits: a FIFO or a device named like a sound is opened without
    // blocking and then passed over, as anything that is not a file is.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    struct stat st { };
    std::optional<std::string> out;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const std::int64_t size = st.st_size;
        static thread_local std::array<char, 2 * kEdgeBytes> buffer;
        const std::int64_t head = std::min(size, kEdgeBytes);
        const std::int64_t tailAt = std::max(head, size - kEdgeBytes);
        if (readAt(fd, buffer.data(), head, 0) && readAt(fd, buffer.data() + head, size - tailAt, tailAt)) {
            const XXH64_hash_t hash = XXH3_64bits(buffer.data(), static_cast<size_t>(head + size - tailAt));
            out = std::to_string(size) + ":" + std::to_string(hash);
        }
    }
    ::close(fd);
    return out;
}

std::uint64_t PathIndex::hash(std::string_view path)
{
    return XXH3_64bits(path.data(), path.size());
}

void PathIndex::sortEntries()
{
    std::sort(m_entries.begin(), m_entries.end(), [](const Entry &a, const Entry &b) {
        return a.hash < b.hash || (a.hash == b.hash && a.index < b.index);
    });
}

std::optional<std::uint32_t> PathIndex::find(std::string_view path) const
{
    const std::uint64_t h = hash(path);
    auto it = std::lower_bound(m_entries.begin(), m_entries.end(), h,
                               [](const Entry &e, std::uint64_t value) { return e.hash < value; });
    for (; it != m_entries.end() && it->hash == h; ++it) {
        if (m_isAt(it->index, path))
            return it->index;
    }
    return std::nullopt;
}

Reconciled reconcile(const std::vector<SoundRow> &known, std::vector<SoundRow> seen, bool rootPresent,
                     const SameSound &sameSound)
{
    const PathIndex knownAt(known.size(), [&known](std::size_t i) { return std::string_view(known[i].path); });
    return reconcile(known, knownAt, std::move(seen), rootPresent, sameSound);
}

Reconciled reconcile(const std::vector<SoundRow> &known, const PathIndex &knownAt, std::vector<SoundRow> seen,
                     bool rootPresent, const SameSound &sameSound)
{
    Reconciled r;
    if (!rootPresent) {
        r.rows = known;
        return r;
    }
    std::vector<bool> found(known.size());
    // Same path: the same sound (changed or not).
    std::vector<size_t> newcomers;
    std::vector<std::optional<std::uint32_t>> knownIndex(seen.size());
    for (size_t i = 0; i < seen.size(); ++i) {
        knownIndex[i] = knownAt.find(seen[i].path);
        if (!knownIndex[i]) {
            newcomers.push_back(i);
            continue;
        }
        found[*knownIndex[i]] = true;
    }
    // Known sounds not seen at their paths, by fingerprint: a newcomer with
    // one of those is a candidate for that sound moved, taken when it is
    // the very file renamed or holds the same audio. Files alike in size
    // and ends are not for that the same sound.
    std::unordered_multimap<std::string, size_t> missingByPrint;
    for (size_t i = 0; i < known.size(); ++i) {
        if (!found[i] && !known[i].fingerprint.empty())
            missingByPrint.emplace(known[i].fingerprint, i);
    }
    std::unordered_map<size_t, size_t> movedFrom; // seen index -> known index
    for (size_t i : newcomers) {
        if (seen[i].fingerprint.empty())
            continue;
        const SoundRow &now = seen[i];
        const auto [first, last] = missingByPrint.equal_range(now.fingerprint);
        // The very file renamed first (a rename keeps its inode and time;
        // a new file may be given a freed inode, never its time too), then
        // one whose audio is checked alike.
        auto it = std::find_if(first, last, [&](const auto &candidate) {
            const SoundRow &was = known[candidate.second];
            return was.inode != 0 && was.device == now.device && was.inode == now.inode && was.modified == now.modified;
        });
        const bool sameFile = it != last;
        if (!sameFile && sameSound)
            it = std::find_if(first, last,
                              [&](const auto &candidate) { return sameSound(known[candidate.second], now); });
        if (it == last)
            continue;
        movedFrom.emplace(i, it->second);
        if (!sameFile)
            seen[i].content = known[it->second].content; // its audio checked alike
        found[it->second] = true;
        r.moved.emplace_back(known[it->second].path, now.path);
        missingByPrint.erase(it);
    }
    r.rows.reserve(seen.size());
    for (size_t i = 0; i < seen.size(); ++i) {
        SoundRow row = std::move(seen[i]);
        const SoundRow *before = nullptr;
        if (knownIndex[i])
            before = &known[*knownIndex[i]];
        else if (const auto from = movedFrom.find(i); from != movedFrom.end())
            before = &known[from->second];
        if (before) {
            row.favourite = before->favourite;
            row.tags = before->tags;
            const bool unchanged = before->size == row.size && before->modified == row.modified;
            if (unchanged && !row.content)
                row.content = before->content; // the same file, at its path or renamed
            if (!unchanged)
                r.toRead.push_back(row.path);
            else if (row.lengthFrames < 0) {
                // Unchanged: what was read of it before still holds.
                row.lengthFrames = before->lengthFrames;
                row.rate = before->rate;
                row.channels = before->channels;
                row.format = before->format;
            }
        } else {
            r.toRead.push_back(row.path);
        }
        r.rows.push_back(std::move(row));
    }
    for (size_t i = 0; i < known.size(); ++i) {
        if (!found[i])
            r.gone.push_back(known[i].path);
    }
    r.mostlyGone = !known.empty() && r.gone.size() * 2 > known.size();
    return r;
}

} // namespace auralist::catalogue
