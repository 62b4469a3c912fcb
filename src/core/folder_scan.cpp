#include "core/folder_scan.h"

#include <algorithm>

#include "core/file_type.h"
#include "core/numeric_compare.h"
#include "core/services.h"

namespace auralist {

namespace {

struct Pending {
    std::string path;
    size_t nameStart; // where the entry's own name begins in path
    EntryKind kind;
    std::string_view name() const { return std::string_view(path).substr(nameStart); }
};

struct Frame {
    std::vector<Pending> entries;
    size_t next = 0;
};

std::vector<Pending> listOne(FileSystem &fs, const std::string &folder)
{
    std::vector<Pending> entries;
    fs.listDirectory(folder, [&](std::string_view name, EntryKind kind) {
        std::string path = joinPath(folder, name);
        const size_t nameStart = path.size() - name.size();
        entries.push_back({std::move(path), nameStart, kind});
    });
    // The system lists in its own (hash) order; people expect a file
    // manager's.
    std::sort(entries.begin(), entries.end(),
              [](const Pending &a, const Pending &b) { return compareForListing(a.name(), b.name()) < 0; });
    return entries;
}

} // namespace

std::vector<std::string> subpathsAtPath(FileSystem &fs, const std::string &folder)
{
    std::vector<std::string> out;
    // An explicit stack: trees may be far deeper than the call stack.
    std::vector<Frame> stack;
    stack.push_back({listOne(fs, folder), 0});
    while (!stack.empty()) {
        Frame &top = stack.back();
        if (top.next >= top.entries.size()) {
            stack.pop_back();
            continue;
        }
        Pending &entry = top.entries[top.next++];
        EntryKind kind = entry.kind;
        if (kind == EntryKind::Unknown) {
            const auto identity = fs.identify(entry.path);
            kind = identity ? identity->kind : EntryKind::None;
        }
        out.push_back(std::move(entry.path));
        if (kind == EntryKind::Directory) {
            std::vector<Pending> children = listOne(fs, out.back());
            if (!children.empty())
                stack.push_back({std::move(children), 0});
        }
    }
    return out;
}

} // namespace auralist
